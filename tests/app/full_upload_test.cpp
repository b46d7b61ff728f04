// The whole road through the real window as a user takes it, offscreen: mouse clicks on the
// named buttons, the baud rate picked in its list, the file typed into the real file chooser
// (TForm2) and confirmed with OK, against rq410-sim on a pseudo-terminal; then the completion
// screen and the unit's flash, page for page. The Factory Bootstrap Upload the same way.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "app/file_chooser.h"
#include "app/help_window.h"
#include "app/main_window.h"
#include "app/own_control.h"
#include "app/qt_ui_services.h"
#include "support/env_scope.h"
#include "support/history.h"
#include "support/sim_process.h"

namespace {

using namespace e2e;

constexpr const char* kSimPath = KV_BINARY_DIR "/sim/rq410-sim";

using EnvSetting = kvtest::EnvScope;

template <typename F>
bool PumpUntil(F done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return done();
}

template <typename W>
W* Control(QWidget& parent, const char* name) {
  return parent.findChild<W*>(QString::fromLatin1(name));
}

QString Caption(TForm1& form, const char* name) {
  auto* label = qobject_cast<QLabel*>(OwnControl(form, name));
  return label ? label->text() : QString();
}

bool Shown(TForm1& form, const char* name) {
  QWidget* w = OwnControl(form, name);
  return w && w->isVisibleTo(&form);
}

void ClickButton(TForm1& form, const char* name) {
  auto* button = qobject_cast<QPushButton*>(OwnControl(form, name));
  ASSERT_NE(button, nullptr) << name;
  ASSERT_TRUE(button->isVisibleTo(&form)) << name << " is not shown";
  QTest::mouseClick(button, Qt::LeftButton);
}

// Clicks "Choose File" and answers the modal chooser from the event loop that it runs: types
// `name` and clicks OK. `whileOpen` looks at the chooser first.
void ChooseFile(TForm1& form, const QString& name,
                const std::function<void(TForm2&)>& whileOpen = {}) {
  TForm2* chooser = form.Ui().Chooser();
  ASSERT_NE(chooser, nullptr);
  bool answered = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (answered || !chooser->isVisible()) return;
    answered = true;
    if (whileOpen) whileOpen(*chooser);
    auto* box = Control<QLineEdit>(*chooser, "FileNameBox");
    auto* ok = Control<QPushButton>(*chooser, "BtnOK");
    ASSERT_NE(box, nullptr);
    ASSERT_NE(ok, nullptr);
    box->clear();
    QTest::keyClicks(box, name);
    ASSERT_TRUE(ok->isVisible());
    QTest::mouseClick(ok, Qt::LeftButton);
  });
  poll.start(20);
  ClickButton(form, "BtnChooseFile");
  poll.stop();
  ASSERT_TRUE(answered);
}

// A folder with the program's own folder in it, remembered by the chooser as the folder to
// open in; XDG_CONFIG_HOME points there while it lives.
struct WindowFolder {
  TempFolder dir{"kv-window"};
  std::optional<EnvSetting> config;
  WindowFolder() {
    fs::create_directories(dir.Path() / "prog");
    fs::create_directories(dir.Path() / "config" / "kvuflash");
    WriteText(dir.File("config/kvuflash/KVUflash.set"), dir.Path().string() + "\n");
    config.emplace("XDG_CONFIG_HOME", dir.File("config"));
  }
};

TEST(FullUpload, ClicksThroughTheWindowAndTheChooserPutTheHexFileIntoTheUnit) {
  if (!fs::exists(kSimPath)) GTEST_SKIP() << "rq410-sim is not built";
  TempFolder dir("kv-full-upload");
  fs::create_directories(dir.Path() / "prog");
  const Bytes image = MakeImage(SpreadPages(20, 500, 37), 91);
  WriteText(dir.File("fw.hex"), IntelHex(image));
  // The chooser opens in the folder remembered from an earlier run.
  fs::create_directories(dir.Path() / "config" / "kvuflash");
  WriteText(dir.File("config/kvuflash/KVUflash.set"), dir.Path().string() + "\n");
  EnvSetting config("XDG_CONFIG_HOME", dir.File("config"));

  Sim unit(kSimPath, dir, "unit");
  EnvSetting ports("KVUFLASH_PORTS", "1=" + unit.Link());
  {
    TForm1 form(dir.File("prog") + "/", true);
    QStringList messages;
    form.Ui().MessageHook = [&](const QString& m) { messages << m; };
    form.resize(762, 409);
    form.show();
    MainForm& f = form.Form();

    auto* baud = qobject_cast<QComboBox*>(OwnControl(form, "BaudRateBox"));
    ASSERT_NE(baud, nullptr);
    baud->setCurrentIndex(baud->findText(QStringLiteral("57600")));
    ASSERT_EQ(f.W().List(Ctl::BaudRateBox).Text(), "57600");

    ClickButton(form, "Btn2Upload");
    ASSERT_TRUE(PumpUntil([&] { return f.S().Step == kIdleStep; }, 5000));
    EXPECT_EQ(Caption(form, "Label12"), "Port is open on Com 1 at 57600 baud");
    ASSERT_TRUE(Shown(form, "BtnChooseFile"));

    // The chooser is modal: it is answered from the event loop that it runs.
    ChooseFile(form, QStringLiteral("fw.hex"), [&](TForm2& chooser) {
      EXPECT_EQ(fs::path(chooser.CurrentFolder().toStdString()), dir.Path());
    });

    ASSERT_TRUE(
        PumpUntil([&] { return f.S().Step == kIdleStep && Shown(form, "BtnStartRun"); }, 60000))
        << messages.join("; ").toStdString() << Caption(form, "Label12").toStdString();
    EXPECT_EQ(Caption(form, "Label15"), "THE UNIT MUST BE OFF");
    EXPECT_EQ(Caption(form, "Label8"), "Upload will be 20 blocks, less than 1 minute");
    EXPECT_TRUE(fs::exists(dir.File("fw.KVU")));

    ClickButton(form, "BtnStartRun");
    EXPECT_EQ(Caption(form, "Label2"), "POWER UP THE UNIT, NOW");
    ASSERT_TRUE(PumpUntil(
        [&] {
          return f.S().Step == kIdleStep ||
                 (f.S().Step >= kBlinkFirstStep && f.S().Step <= kBlinkLastStep);
        },
        60000));
    EXPECT_GE(f.S().Step, kBlinkFirstStep) << Caption(form, "Label2").toStdString();
    EXPECT_EQ(Caption(form, "Label10"), "Now, CYCLE POWER on the RQ-410....");
    EXPECT_TRUE(Caption(form, "Label4").startsWith("Upload complete. Time taken: "))
        << Caption(form, "Label4").toStdString();
    EXPECT_EQ(Caption(form, "Label15"), "Software Upload complete");
    EXPECT_TRUE(Shown(form, "BtnRepeatUpload"));
    EXPECT_TRUE(Shown(form, "BtnBackToStart"));
    EXPECT_FALSE(Shown(form, "Gauge"));
    EXPECT_EQ(f.W().FUpHist().back(), "Sending block 20 of 20...");
    const QString history =
        qobject_cast<QPlainTextEdit*>(OwnControl(form, "FUpHist"))->toPlainText();
    // The file that went out is named first, then the dialogue.
    EXPECT_TRUE(history.startsWith("Sending fw.KVU in "));
    EXPECT_TRUE(history.contains(": 20 records, checksums "));
    EXPECT_TRUE(history.contains("\nGot U,READY handshake\nSending GO\nErasing..."))
        << history.toStdString();
    EXPECT_TRUE(messages.isEmpty()) << messages.join("; ").toStdString();

    // The finished screen, for a look.
    QApplication::processEvents();
    const QString out = QStringLiteral(KV_BINARY_DIR "/screenshots");
    fs::create_directories(out.toStdString());
    form.grab().save(out + "/upload-finished.png");

    ClickButton(form, "BtnBackToStart");
    EXPECT_EQ(f.S().Step, kIdleStep);
    EXPECT_TRUE(Shown(form, "OpeningBox"));
  }
  ASSERT_EQ(unit.Stop(), 0);
  EXPECT_EQ(FirstDifferentPage(unit.Flash(), image), -1);
  EXPECT_EQ(unit.Summary()["records"], "20");
}

// Clicks "Factory Bootstrap Upload" and, once the instructions show, "&Proceed"; returns with
// the run ended (or after a minute).
// The way back is offered until "&Proceed" touches the unit.
void RunFactory(TForm1& form) {
  MainForm& f = form.Form();
  ClickButton(form, "BtnBoot");
  ASSERT_TRUE(PumpUntil([&] { return f.S().Step == kIdleStep; }, 5000));
  EXPECT_TRUE(Shown(form, "BtnBackToStart"));
  ClickButton(form, "BtnGoOn");
  EXPECT_FALSE(Shown(form, "BtnBackToStart"));
  ASSERT_TRUE(PumpUntil([&] { return f.S().Step == kIdleStep; }, 60000));
}

TEST(FullUpload, FactoryRunThroughTheWindowPutsTheFlashCodeIntoTheUnit) {
  if (!fs::exists(kSimPath)) GTEST_SKIP() << "rq410-sim is not built";
  TempFolder dir("kv-factory-window");
  Sim unit(kSimPath, dir, "unit", {"--bootstrap"});
  EnvSetting ports("KVUFLASH_PORTS", "1=" + unit.Link());
  {
    TForm1 form(dir.Path().string() + "/", true);
    form.resize(762, 409);
    form.show();
    QElapsedTimer run;
    run.start();
    RunFactory(form);
    std::cout << "[ figures  ] factory run through the window: " << run.elapsed() << " ms\n";
    const QString history =
        qobject_cast<QPlainTextEdit*>(OwnControl(form, "FUpHist"))->toPlainText();
    EXPECT_TRUE(history.contains("Checksum is 1503\nGot U,READY handshake"));
    EXPECT_TRUE(history.contains("FlashCode Upload complete\n \nFactory Upload completed.\nTime"))
        << history.toStdString();
    EXPECT_EQ(Caption(form, "Label16"), "Click on <Go Back to Start> to upload Main Software");
    EXPECT_TRUE(Shown(form, "FactoryBox") && Shown(form, "BtnBackToStart"));

    // The factory screen at the end of a run, for a look; then its help topic.
    QApplication::processEvents();
    const QString out = QStringLiteral(KV_BINARY_DIR "/screenshots");
    fs::create_directories(out.toStdString());
    form.grab().save(out + "/factory-finished.png");
    ClickButton(form, "BtnHelp");
    EXPECT_EQ(form.Ui().HelpWindow()->Topic(), 9);
  }
  ASSERT_EQ(unit.Stop(), 0);
  EXPECT_EQ(UsedPages(unit.Flash()).size(), 49u);
}

TEST(FullUpload, FailedFactoryRunsShowTheirLineAndOfferTheWayBackToStart) {
  if (!fs::exists(kSimPath)) GTEST_SKIP() << "rq410-sim is not built";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--id-byte", "41"}, "Got C161 response: A"},
      {{"--id-byte", "07"}, "Got C161 response: <07>"},
      {{"--id-byte", "none"}, "Timed out waiting for response to initial character"},
      {{"--loader2-reply", "22"}, "Problem - bad checksum response to Loader 2"},
      {{"--bad-check-lines", "3:all"}, "Problem - got bad checksum 5 times, bad cable?"},
  };
  for (const auto& [fault, line] : cases) {
    TempFolder dir("kv-factory-window");
    std::vector<std::string> args = {"--bootstrap"};
    args.insert(args.end(), fault.begin(), fault.end());
    Sim unit(kSimPath, dir, "unit", args);
    EnvSetting ports("KVUFLASH_PORTS", "1=" + unit.Link());
    TForm1 form(dir.Path().string() + "/", true);
    form.show();
    RunFactory(form);
    EXPECT_EQ(LastRunLine(form.Form().S(), form.Form().W()), line);
    EXPECT_EQ(Caption(form, "Label16"), "");  // no "DO NOT INTERRUPT UPLOAD" after the stop
    ClickButton(form, "BtnBackToStart");
    EXPECT_TRUE(Shown(form, "OpeningBox") && !Shown(form, "FactoryBox"));
  }
}

// The unit's end of the line goes in the middle of the records, as an adapter pulled out:
// the run stops at once with one message, and both ways on are offered.
TEST(FullUpload, UnitThatVanishesMidUploadStopsTheRunWithOneMessageAndTheWaysOn) {
  if (!fs::exists(kSimPath)) GTEST_SKIP() << "rq410-sim is not built";
  WindowFolder w;
  WriteBytes(w.dir.File("fw.kvu"), UploadFile(MakeImage(SpreadPages(60, 9, 2), 93)));
  Sim unit(kSimPath, w.dir, "unit");
  EnvSetting ports("KVUFLASH_PORTS", "1=" + unit.Link());
  TForm1 form(w.dir.File("prog") + "/", true);
  QStringList messages;
  form.Ui().MessageHook = [&](const QString& m) { messages << m; };
  form.show();
  MainForm& f = form.Form();
  ClickButton(form, "Btn2Upload");
  ASSERT_TRUE(PumpUntil([&] { return f.S().Step == kIdleStep; }, 5000));
  ChooseFile(form, QStringLiteral("fw.kvu"));
  ASSERT_TRUE(PumpUntil([&] { return Shown(form, "BtnStartRun"); }, 10000));
  ClickButton(form, "BtnStartRun");
  ASSERT_TRUE(PumpUntil([&] { return f.S().BlocksSent >= 10; }, 30000));
  unit.Signal(SIGKILL);

  QElapsedTimer stopping;
  stopping.start();
  ASSERT_TRUE(PumpUntil([&] { return f.S().Step == kIdleStep; }, 5000)) << f.S().Step;
  PumpUntil([] { return false; }, 300);  // anything still on its way
  const std::string port = "Com 1 (" + unit.Link() + ")";
  EXPECT_EQ(Caption(form, "Label2").toStdString(),
            "The run has stopped: " + port + " is no longer there");
  EXPECT_TRUE(Shown(form, "BtnBackToStart") && Shown(form, "BtnRepeatUpload"));
  ASSERT_EQ(messages.size(), 1) << messages.join("; ").toStdString();
  EXPECT_TRUE(messages[0].startsWith(
      QString::fromStdString("COM1 (" + unit.Link() + ") is no longer there")))
      << messages[0].toStdString();
  ClickButton(form, "BtnBackToStart");
  EXPECT_TRUE(Shown(form, "OpeningBox"));
}

// The unit vanishes mid-upload and is plugged back: "&Repeat Upload" opens its port again and
// the next run, in the screen's own colours, puts the whole file into it.
TEST(FullUpload, RepeatAfterTheUnitCameBackOpensThePortAgainAndSendsTheFile) {
  if (!fs::exists(kSimPath)) GTEST_SKIP() << "rq410-sim is not built";
  WindowFolder w;
  const Bytes image = MakeImage(SpreadPages(60, 9, 2), 93);
  WriteBytes(w.dir.File("fw.kvu"), UploadFile(image, "00000000"));
  std::optional<Sim> unit(std::in_place, kSimPath, w.dir, "unit");
  EnvSetting ports("KVUFLASH_PORTS", "1=" + unit->Link());
  TForm1 form(w.dir.File("prog") + "/", true);
  QStringList messages;
  form.Ui().MessageHook = [&](const QString& m) { messages << m; };
  form.show();
  MainForm& f = form.Form();
  ClickButton(form, "Btn2Upload");
  EXPECT_TRUE(Shown(form, "BtnBackToStart"));  // a wrong port can be undone
  ASSERT_TRUE(PumpUntil([&] { return f.S().Step == kIdleStep; }, 5000));
  ChooseFile(form, QStringLiteral("fw.kvu"));
  ASSERT_TRUE(PumpUntil([&] { return Shown(form, "BtnStartRun"); }, 10000));
  EXPECT_TRUE(Shown(form, "BtnBackToStart"));  // and so can a wrong file
  ClickButton(form, "BtnStartRun");
  EXPECT_FALSE(Shown(form, "BtnBackToStart"));
  ASSERT_TRUE(PumpUntil([&] { return f.S().BlocksSent >= 10; }, 30000));
  unit->Signal(SIGKILL);
  ASSERT_TRUE(PumpUntil([&] { return f.S().Step == kIdleStep; }, 5000)) << f.S().Step;
  PumpUntil([] { return false; }, 300);
  ASSERT_EQ(f.W().FontColor(Ctl::Label2), clRed);

  unit.emplace(kSimPath, w.dir, "unit");
  ClickButton(form, "BtnRepeatUpload");
  ASSERT_TRUE(PumpUntil([&] { return Shown(form, "BtnStartRun"); }, 10000));
  ClickButton(form, "BtnStartRun");
  ASSERT_TRUE(PumpUntil(
      [&] {
        return (f.S().Phase == RunPhase::Records && f.S().BlocksSent >= 5) ||
               f.S().Step == kIdleStep;
      },
      30000))
      << Caption(form, "Label2").toStdString();
  EXPECT_TRUE(Caption(form, "Label2").startsWith("Sending block "))
      << Caption(form, "Label2").toStdString();
  EXPECT_EQ(f.W().FontColor(Ctl::Label2), clBlue);
  ASSERT_TRUE(
      PumpUntil([&] { return f.S().Step == kIdleStep || f.S().Step >= kBlinkFirstStep; }, 60000));
  EXPECT_EQ(f.S().Outcome, RunOutcome::Completed) << Caption(form, "Label2").toStdString();
  EXPECT_EQ(messages.size(), 1) << messages.join("; ").toStdString();  // the vanishing only
  ASSERT_EQ(unit->Stop(), 0);
  EXPECT_EQ(FirstDifferentPage(unit->Flash(), image), -1);
}

TEST(FullUpload, UnitThatVanishesInAFactoryRunEndsItWithItsHistoryLineAndOneMessage) {
  if (!fs::exists(kSimPath)) GTEST_SKIP() << "rq410-sim is not built";
  TempFolder dir("kv-factory-window");
  Sim unit(kSimPath, dir, "unit", {"--bootstrap"});
  EnvSetting ports("KVUFLASH_PORTS", "1=" + unit.Link());
  TForm1 form(dir.Path().string() + "/", true);
  QStringList messages;
  form.Ui().MessageHook = [&](const QString& m) { messages << m; };
  form.show();
  MainForm& f = form.Form();
  ClickButton(form, "BtnBoot");
  ASSERT_TRUE(PumpUntil([&] { return f.S().Step == kIdleStep; }, 5000));
  ClickButton(form, "BtnGoOn");
  // Some 20 lines into the bootstrap program.
  ASSERT_TRUE(PumpUntil([&] { return f.BootTransfer.BootLineNumber >= 20; }, 30000));
  unit.Signal(SIGKILL);
  ASSERT_TRUE(PumpUntil([&] { return f.S().Step == kIdleStep; }, 5000)) << f.S().Step;
  PumpUntil([] { return false; }, 300);
  EXPECT_EQ(f.W().FUpHist().back(),
            "The run has stopped: Com 1 (" + unit.Link() + ") is no longer there");
  EXPECT_TRUE(Shown(form, "FactoryBox") && Shown(form, "BtnBackToStart"));
  EXPECT_EQ(messages.size(), 1) << messages.join("; ").toStdString();
  ClickButton(form, "BtnBackToStart");
  EXPECT_TRUE(Shown(form, "OpeningBox") && !Shown(form, "FactoryBox"));
}

TEST(FullUpload, PortHeldByAnotherProgramIsNamedAndTheWayBackOffered) {
  if (!fs::exists(kSimPath)) GTEST_SKIP() << "rq410-sim is not built";
  TempFolder dir("kv-window-port");
  Sim unit(kSimPath, dir, "unit");
  // Another program takes the port with a lock of its own and keeps it.
  kvtest::Child holder({"flock", "--nonblock", unit.Link(), "sleep", "60"});
  ASSERT_TRUE(PumpUntil(
      [&] {
        const int fd = ::open(unit.Link().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        const bool held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (fd >= 0) ::close(fd);
        return held;
      },
      5000));
  EnvSetting ports("KVUFLASH_PORTS", "1=" + unit.Link());
  TForm1 form(dir.Path().string() + "/", true);
  QStringList messages;
  form.Ui().MessageHook = [&](const QString& m) { messages << m; };
  form.show();
  ClickButton(form, "Btn2Upload");
  ASSERT_TRUE(PumpUntil([&] { return form.Form().S().Step == kIdleStep; }, 5000));
  EXPECT_EQ(Caption(form, "Label12"), "Port did not open on Com 1 at 38400 baud");
  EXPECT_EQ(messages, QStringList{QString::fromStdString("COM1 (" + unit.Link() +
                                                         ") is in use by another program.")});
  EXPECT_TRUE(Shown(form, "BtnBackToStart"));
  EXPECT_FALSE(Shown(form, "BtnChooseFile"));
}

}  // namespace
