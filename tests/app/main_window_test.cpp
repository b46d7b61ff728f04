// The main window TForm1 offscreen: its start-up state, the buttons of the shell, the binding
// to the window model, the hand-over of worker calls, and pictures of the opening screen.
#include "app/main_window.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/file_chooser.h"
#include "app/help_window.h"
#include "app/own_control.h"
#include "app/qt_main_thread.h"
#include "app/qt_ui_services.h"
#include "components/port_map.h"
#include "support/env_scope.h"
#include "support/scratch_folder.h"

namespace fs = std::filesystem;
using kvtest::Lines;
using kvtest::ScratchFolder;

namespace {

template <typename W>
W* Find(TForm1& form, const char* name) {
  // The chooser is a child of the main window and has controls of the same names: the
  // window's own control comes first.
  QWidget* own = OwnControl(form, name, false);
  W* widget = own ? qobject_cast<W*>(own) : form.findChild<W*>(QString::fromLatin1(name));
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

QString Text(TForm1& form, const char* name) {
  QWidget* w = OwnControl(form, name);
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  ADD_FAILURE() << "no text control " << name;
  return {};
}

bool Shown(TForm1& form, const char* name) {
  return Find<QWidget>(form, name)->isVisibleTo(&form);
}

QColor TextColor(TForm1& form, const char* name) {
  return Find<QWidget>(form, name)->palette().color(QPalette::WindowText);
}

void Click(TForm1& form, const char* name) {
  Find<QPushButton>(form, name)->click();
}

// Runs the event loop until `done` holds or `ms` have passed.
template <typename F>
bool PumpUntil(F done, int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return done();
}

struct WindowRig {
  explicit WindowRig(bool timer = false) : form(dir.Dir(), timer) {
    form.Ui().MessageHook = [this](const QString& m) { messages << m; };
  }
  ScratchFolder dir;
  TForm1 form;
  QStringList messages;
};

TEST(MainWindow, StartsOnTheOpeningScreenWithItsCaptionsAndColours) {
  ScratchFolder dir;
  TForm1 form(dir.Dir(), false);
  EXPECT_EQ(form.windowTitle(),
            "FIRMWARE UPLOAD UTILITY FOR KORVANE FLASH-UPLOAD DEVICES  -  RQ-410 Modem");
  EXPECT_EQ(form.font().family(), "Arial");
  EXPECT_EQ(form.font().pixelSize(), 13);
  EXPECT_TRUE(form.Model().Maximized);

  EXPECT_EQ(Text(form, "Label5"), "RQ-410  Flash Upload");
  EXPECT_EQ(Text(form, "Btn2Upload"), "&Software Upload");
  EXPECT_EQ(Text(form, "BtnBoot"), "Factory Bootstrap Upload");
  EXPECT_EQ(Text(form, "BtnCaptureFile"), "&Enable Capture File");
  EXPECT_EQ(Text(form, "BtnClose"), "&Close");
  EXPECT_EQ(Text(form, "BtnCable"), "Cable Detail");
  EXPECT_EQ(Text(form, "BtnStartRun"), "Start &Upload");
  EXPECT_EQ(Text(form, "BtnRepeatUpload"), "&Repeat Upload");
  EXPECT_EQ(Text(form, "BtnBackToStart"), "&Go Back to Start");
  EXPECT_EQ(Text(form, "Label11"), "Disabled");
  EXPECT_EQ(Text(form, "Label22"), "Leave at 38400 baud, unless instructed by Korvane");
  EXPECT_EQ(Text(form, "Label21"),
            "DO NOT CARRY OUT THIS PROCEDURE UNLESS SPECIFICALLY INSTRUCTED BY KORVANE");
  EXPECT_EQ(Text(form, "FactoryBox"), "Factory Bootstrap Upload");
  EXPECT_EQ(Text(form, "Label18"), "Factory Upload History:");
  EXPECT_TRUE(Text(form, "Title2").contains("Version 2.7"));
  EXPECT_FALSE(Text(form, "Title1").isEmpty());
  for (const char* cleared : {"Label2", "Label4", "Label8", "Label14", "Label15"}) {
    EXPECT_EQ(Text(form, cleared), "") << cleared;
  }

  for (const char* blue : {"Label2", "Label3", "Label11", "Label12", "Label13", "Label14"}) {
    EXPECT_EQ(TextColor(form, blue), QColor(0, 0, 255)) << blue;
  }
  EXPECT_EQ(TextColor(form, "Label7"), QColor(255, 0, 0));
  EXPECT_EQ(TextColor(form, "Label22"), QColor(255, 0, 0));
  EXPECT_EQ(TextColor(form, "Label6"), QColor(0, 0, 0));
  EXPECT_EQ(Find<QLabel>(form, "Label6")->font().pointSize(), 13);
  EXPECT_EQ(Find<QLabel>(form, "Label7")->font().pointSize(), 12);
  EXPECT_EQ(Find<QLabel>(form, "Label5")->font().pixelSize(), 32);
  EXPECT_TRUE(Find<QLabel>(form, "Label5")->font().italic());

  for (const char* shown :
       {"OpeningBox", "Image1", "Label5", "BtnCaptureFile", "Label11", "BtnHelp", "BtnClose",
        "GroupBox2", "BtnCable", "GroupBox1", "GroupBox3"}) {
    EXPECT_TRUE(Shown(form, shown)) << shown;
  }
  for (const char* hidden : {"MainBox", "RunBox", "FactoryBox", "MemoCable", "BtnRepeatUpload",
                             "BtnBackToStart", "BtnChooseFile", "Label10", "Gauge", "BtnGoOn"}) {
    EXPECT_FALSE(Shown(form, hidden)) << hidden;
  }
  EXPECT_FALSE(Find<QLabel>(form, "Image1")->pixmap().isNull());
  EXPECT_EQ(Find<QWidget>(form, "Gauge")->size(), QSize(233, 33));

  auto* ports = Find<QComboBox>(form, "CommPortBox");
  ASSERT_EQ(ports->count(), 9);
  EXPECT_EQ(ports->itemText(0), "1");
  EXPECT_EQ(ports->itemText(8), "9");
  EXPECT_EQ(ports->currentText(), "1");
  auto* bauds = Find<QComboBox>(form, "BaudRateBox");
  ASSERT_EQ(bauds->count(), 2);
  EXPECT_EQ(bauds->itemText(1), "57600");
  EXPECT_EQ(bauds->currentText(), "38400");

  auto* memo = Find<QPlainTextEdit>(form, "MemoCable");
  const QStringList cable = memo->toPlainText().split('\n');
  ASSERT_EQ(cable.size(), 11);
  EXPECT_EQ(cable[0], "  Serial Cable Detail for Modems:");
  EXPECT_EQ(cable[4], "  Pin 2  -------  Pin 2");
  EXPECT_EQ(cable[10], "  See Appendix A of the Modem Manual");
}

TEST(MainWindow, PortSettingsFileThroughTheWindow) {
  ScratchFolder dir;
  {
    std::ofstream(dir.Dir() + "commsUP.txt") << "7,57600\n";
    TForm1 form(dir.Dir(), false);
    EXPECT_EQ(Find<QComboBox>(form, "CommPortBox")->currentText(), "7");
    EXPECT_EQ(Find<QComboBox>(form, "BaudRateBox")->currentText(), "38400");
    // The device the number stands for is shown beside it.
    EXPECT_FALSE(Find<QLabel>(form, "PortDevice")->text().isEmpty());
    // The user's choice reaches the model.
    Find<QComboBox>(form, "CommPortBox")->setCurrentIndex(2);
    Find<QComboBox>(form, "BaudRateBox")->setCurrentIndex(1);
    EXPECT_EQ(form.Model().List(Ctl::CommPortBox).Text(), "3");
    EXPECT_EQ(form.Model().List(Ctl::BaudRateBox).Text(), "57600");
    form.Form().Core.SavePortSettings();
    EXPECT_EQ(Lines(dir.Dir() + "commsUP.txt"), std::vector<std::string>{"3,57600"});
    // And the model's choice reaches the list.
    form.Model().SelectText(Ctl::CommPortBox, "9");
    EXPECT_EQ(Find<QComboBox>(form, "CommPortBox")->currentText(), "9");
  }
  {
    std::ofstream(dir.Dir() + "commsUP.txt", std::ios::trunc) << "Q,38400\n";
    TForm1 form(dir.Dir(), false);
    EXPECT_EQ(Find<QComboBox>(form, "CommPortBox")->currentIndex(), -1);
    EXPECT_EQ(Find<QLabel>(form, "PortDevice")->text(), "");
  }
}

TEST(MainWindow, CableDetailBackToStartHelpAndHistory) {
  WindowRig r;
  TForm1& form = r.form;
  Click(form, "BtnCable");
  EXPECT_TRUE(Shown(form, "MemoCable"));
  EXPECT_EQ(Text(form, "BtnCable"), "Hide Detail");
  Click(form, "BtnCable");
  EXPECT_FALSE(Shown(form, "MemoCable"));
  EXPECT_EQ(Text(form, "BtnCable"), "Cable Detail");

  Click(form, "BtnHelp");
  THelpWindow* help = form.Ui().HelpWindow();
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(help->Topic(), 1);
  EXPECT_TRUE(help->Browser()->toPlainText().contains("Starting an upload"));
  // Under the page, where this machine keeps the program's files.
  const QString places = help->FilePlaces()->text();
  EXPECT_TRUE(help->FilePlaces()->isVisible());
  EXPECT_TRUE(places.contains(QString::fromStdString(r.dir.Dir() + "commsUP.txt")))
      << places.toStdString();
  EXPECT_TRUE(places.contains(QString::fromStdString(r.dir.Dir() + "Capture.txt")));

  Click(form, "Btn2Upload");
  EXPECT_EQ(form.Form().S().Step, kOpenPortStep);
  EXPECT_TRUE(Shown(form, "MainBox"));
  EXPECT_FALSE(Shown(form, "OpeningBox"));
  EXPECT_EQ(Text(form, "MainBox"), "Main Software Upload");
  EXPECT_EQ(Text(form, "Label12"), "Opening Com Port...");
  EXPECT_TRUE(form.Ui().ChooserFilter().startsWith("Korvane Upload (.kvu)|*.kvu|"));
  Click(form, "BtnHelp");
  EXPECT_EQ(help->Topic(), 3);
  EXPECT_TRUE(help->Browser()->toPlainText().contains("Choose File"));
  for (int topic : {4, 5, 9}) {
    help->ShowTopic(topic);
    EXPECT_EQ(help->Topic(), topic);
    EXPECT_GT(help->Browser()->toPlainText().size(), 200) << topic;
  }

  form.Model().Show(Ctl::BtnBackToStart);
  form.Model().Show(Ctl::BtnRepeatUpload);
  EXPECT_TRUE(Shown(form, "BtnBackToStart"));
  Click(form, "BtnBackToStart");
  EXPECT_EQ(form.Form().S().Step, kIdleStep);
  EXPECT_TRUE(Shown(form, "OpeningBox"));
  EXPECT_FALSE(Shown(form, "MainBox"));
  EXPECT_FALSE(Shown(form, "BtnBackToStart"));
  EXPECT_FALSE(Shown(form, "BtnRepeatUpload"));

  // The history list follows the model, with the last line rewritten in place.
  auto* hist = Find<QPlainTextEdit>(form, "FUpHist");
  form.Model().HistAdd("Got U,READY handshake");
  form.Model().HistAdd("Sending GO");
  form.Model().HistReplaceLast("Erasing...");
  form.Model().HistAdd("Block 1 of 3");
  form.Model().HistReplaceLast("Block 2 of 3");
  EXPECT_EQ(hist->toPlainText(), "Got U,READY handshake\nErasing...\nBlock 2 of 3");
  form.Model().HistClear();
  EXPECT_EQ(hist->toPlainText(), "");
  // Colours and sizes that the steps set reach the widgets.
  form.Model().SetFontColor(Ctl::Label15, clGreen);
  form.Model().SetFontSize(Ctl::Label15, 12);
  form.Model().SetCaption(Ctl::Label15, "Checksums match, Upload successful");
  EXPECT_EQ(TextColor(form, "Label15"), QColor(0, 128, 0));
  EXPECT_EQ(Find<QLabel>(form, "Label15")->font().pointSize(), 12);
  EXPECT_EQ(Text(form, "Label15"), "Checksums match, Upload successful");
  EXPECT_TRUE(r.messages.isEmpty());
}

TEST(MainWindow, CaptureFileToggledTwiceAppendsAndClosesWithTheWindow) {
  WindowRig r;
  TForm1& form = r.form;
  const std::string path = r.dir.Dir() + "Capture.txt";
  Click(form, "BtnCaptureFile");
  EXPECT_EQ(Text(form, "BtnCaptureFile"), "&Disable Capture File");
  EXPECT_EQ(Text(form, "Label11"), "Enabled");
  form.Form().Timer1Timer();
  Click(form, "BtnCaptureFile");
  EXPECT_EQ(Text(form, "BtnCaptureFile"), "&Enable Capture File");
  EXPECT_EQ(Text(form, "Label11"), "Disabled");
  Click(form, "BtnCaptureFile");
  form.Form().S().Step = 3;
  form.Form().Timer1Timer();
  form.show();
  Click(form, "BtnClose");
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(form.Form().S().CaptureEnabled);
  const auto lines = Lines(path);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "[start]");
  EXPECT_TRUE(lines[1].ends_with("[pn]0"));
  EXPECT_EQ(lines[2], "[start]");
  EXPECT_TRUE(lines[3].ends_with("[pn]3"));
  EXPECT_TRUE(r.messages.isEmpty());
}

TEST(MainWindow, OpensAPortOnAPseudoTerminalAndReceivesThroughTheTimer) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave = ptsname(master);
  const kvtest::EnvScope ports("KVUFLASH_PORTS", "1=" + slave);
  {
    WindowRig r(true);
    TForm1& form = r.form;
    Click(form, "Btn2Upload");
    const bool opened = PumpUntil([&] { return form.Form().S().Step == kIdleStep; });
    EXPECT_TRUE(opened);
    EXPECT_EQ(Text(form, "Label12"), "Port is open on Com 1 at 38400 baud")
        << r.messages.join("; ").toStdString();
    EXPECT_TRUE(Shown(form, "BtnChooseFile"));
    EXPECT_FALSE(fs::exists(r.dir.Dir() + "commsUP.txt"));  // same port as loaded
    EXPECT_TRUE(Find<QLabel>(form, "PortDevice")->text().contains(QString::fromStdString(slave)));

    // Text from the unit reaches ReplyText through the receive event on the GUI thread.
    const char hello[] = "HELLO\r";
    ASSERT_EQ(write(master, hello, sizeof hello - 1), static_cast<ssize_t>(sizeof hello - 1));
    EXPECT_TRUE(PumpUntil([&] { return form.Form().S().ReplyText == "HELLO\r"; }));
    EXPECT_TRUE(r.messages.isEmpty()) << r.messages.join("; ").toStdString();
  }
  close(master);
}

TEST(QtHandOver, RunsWorkerCallsOnTheGuiThreadAndReleasesCancelledOnes) {
  QtMainThread hand;
  EXPECT_TRUE(hand.IsMainThread());
  std::atomic<bool> ranOnGui{false};
  std::atomic<int> result{-1};
  std::thread worker([&] {
    result = hand.CallOnMainThread([&] { ranOnGui = hand.IsMainThread(); }, &hand) ? 1 : 0;
  });
  EXPECT_TRUE(PumpUntil([&] { return result.load() != -1; }));
  worker.join();
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(ranOnGui);

  // A call that has not started yet is dropped by its owner and its worker goes on.
  const int owner = 0;
  std::atomic<int> cancelled{-1};
  std::atomic<bool> ran{false};
  std::thread waiting([&] { cancelled = hand.CallOnMainThread([&] { ran = true; }, &owner); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  hand.CancelPending(&owner);
  waiting.join();
  EXPECT_EQ(cancelled, 0);
  QApplication::processEvents();
  EXPECT_FALSE(ran);

  // After shutdown no call is taken.
  hand.Shutdown();
  std::thread late([&] { cancelled = hand.CallOnMainThread([&] { ran = true; }) ? 1 : 0; });
  late.join();
  EXPECT_EQ(cancelled, 0);
  EXPECT_FALSE(ran);
}

// Where a control stands in the window.
QPoint At(TForm1& form, Ctl name) {
  QWidget* w = form.ControlWidget(name);
  return w->mapTo(&form, QPoint(0, 0));
}

TEST(MainWindow, LinesKeepTheirPlacesThroughARunAndTheCableDetailTakesTheRoomItNeeds) {
  WindowRig r;
  TForm1& form = r.form;
  form.resize(1280, 800);
  form.show();
  QApplication::processEvents();
  const QPoint port = At(form, Ctl::Label3);
  Click(form, "BtnCable");
  QApplication::processEvents();
  EXPECT_EQ(At(form, Ctl::Label3), port);
  auto* cable = Find<QPlainTextEdit>(form, "MemoCable");
  EXPECT_EQ(cable->verticalScrollBar()->maximum(), 0) << "every line of the detail is in view";
  EXPECT_LT(cable->height(), 300);
  // A number with no device says where this machine's port map file is.
  kvtest::EnvScope ports("KVUFLASH_PORTS", std::string());
  Find<QComboBox>(form, "CommPortBox")->setCurrentIndex(8);
  if (form.Serial1().DeviceName(9).empty()) {
    EXPECT_EQ(Find<QLabel>(form, "PortDevice")->text().toStdString(),
              "(no serial device: name one in " + PortMapFile(r.dir.Dir()) + ")");
  }

  // The ready screen, the records going, the reboot and the end, as the steps write them.
  WindowModel& w = form.Model();
  w.Hide(Ctl::OpeningBox);
  for (Ctl c : {Ctl::MainBox, Ctl::RunBox, Ctl::BtnStartRun}) w.Show(c);
  w.SetCaption(Ctl::Label15, "THE UNIT MUST BE OFF");
  w.SetCaption(Ctl::Label4, "Click on <Start Upload> button");
  QApplication::processEvents();
  const QPoint line15 = At(form, Ctl::Label15);
  w.Hide(Ctl::BtnStartRun);
  w.SetCaption(Ctl::Label2, "POWER UP THE UNIT, NOW");
  w.Show(Ctl::Label10);
  QApplication::processEvents();
  const QPoint warning = At(form, Ctl::Label10);
  w.Show(Ctl::Gauge);
  w.SetCaption(Ctl::Label2, "Sending block 1 of 3000...");
  QApplication::processEvents();
  EXPECT_EQ(At(form, Ctl::Label10), warning) << "as the gauge appears";
  w.Hide(Ctl::Gauge);
  w.SetCaption(Ctl::Label4, "Unit re-booting, wait ...");
  QApplication::processEvents();
  EXPECT_EQ(At(form, Ctl::Label10), warning) << "as the gauge goes";
  w.SetCaption(Ctl::Label10, "Now, CYCLE POWER on the RQ-410....");
  w.SetFontSize(Ctl::Label10, 15);
  QApplication::processEvents();
  EXPECT_EQ(At(form, Ctl::Label10).x(), line15.x()) << "in line with the lines above";
  EXPECT_EQ(At(form, Ctl::Label15), line15);
}

TEST(MainWindowPictures, OpeningScreenAtDesignSizeAndMaximised) {
  ScratchFolder dir;
  TForm1 form(dir.Dir(), false);
  const QString out = QStringLiteral(KV_BINARY_DIR "/screenshots");
  QDir().mkpath(out);
  form.resize(762, 409);
  form.show();
  QApplication::processEvents();
  const QPixmap small = form.grab();
  EXPECT_EQ(small.size(), QSize(762, 409));
  EXPECT_TRUE(small.save(out + "/opening.png"));
  form.resize(1280, 800);
  QApplication::processEvents();
  EXPECT_TRUE(form.grab().save(out + "/opening-maximised.png"));

  Click(form, "BtnCable");
  form.resize(762, 409);
  QApplication::processEvents();
  EXPECT_TRUE(form.grab().save(out + "/opening-cable.png"));
  Click(form, "BtnCable");

  // The Software Upload screen with a run under way, and the factory screen.
  WindowModel& w = form.Model();
  form.Form().BtnBackToStartClick();
  w.Hide(Ctl::OpeningBox);
  w.Show(Ctl::MainBox);
  w.Show(Ctl::RunBox);
  w.SetCaption(Ctl::Label12, "Port is open on Com 1 at 38400 baud");
  w.SetCaption(Ctl::Label8, "Upload will be 3000 blocks, about 3.5 minutes");
  w.SetCaption(Ctl::Label15, "THE UNIT MUST BE OFF");
  w.SetFontColor(Ctl::Label15, clRed);
  w.SetFontSize(Ctl::Label15, 12);
  w.SetCaption(Ctl::Label2, "POWER UP THE UNIT, NOW");
  w.SetFontSize(Ctl::Label2, 13);
  w.Show(Ctl::Label10);
  w.SetFontColor(Ctl::Label10, clRed);
  w.SetFontSize(Ctl::Label10, 14);
  w.Show(Ctl::Gauge);
  w.Show(Ctl::BtnRepeatUpload);
  w.Show(Ctl::BtnBackToStart);
  QApplication::processEvents();
  EXPECT_TRUE(form.grab().save(out + "/software-upload.png"));
  w.Hide(Ctl::MainBox);
  w.Show(Ctl::FactoryBox);
  w.SetCaption(Ctl::Label19, "Factory Upload will take about 19 seconds");
  w.SetCaption(Ctl::Label1,
               "With power off, put a jumper on the Bootstrap Loader Enable header (JP2) and a "
               "jumper on the BootBlock Erase Enable header (JP3)");
  w.SetFontColor(Ctl::Label1, clRed);
  w.SetFontSize(Ctl::Label1, 11);
  w.SetCaption(Ctl::Label16, "Turn the Unit power on, then click on <Proceed>");
  w.SetFontColor(Ctl::Label16, clBlue);
  w.Show(Ctl::BtnGoOn);
  for (const char* line : {"Com port open", "Sending Loader 1", "Loader 1 OK"}) w.HistAdd(line);
  QApplication::processEvents();
  EXPECT_TRUE(form.grab().save(out + "/factory.png"));

  // The chooser with its types given, the keyboard in its name box.
  TForm2* chooser = form.Ui().Chooser();
  chooser->SetFilter(kSoftwareUploadFilter);
  chooser->show();
  QApplication::processEvents();
  EXPECT_TRUE(chooser->grab().save(out + "/chooser.png"));
  chooser->hide();

  form.Ui().ShowHelp(4);
  QApplication::processEvents();
  EXPECT_TRUE(form.Ui().HelpWindow()->grab().save(out + "/help-topic4.png"));
}

TEST(MainWindow, KeepsTheSizeItIsGivenAndFitsEveryScreenAtTheDesignSize) {
  ScratchFolder dir;
  TForm1 form(dir.Dir(), false);
  form.show();
  QApplication::processEvents();
  EXPECT_EQ(form.minimumSize(), QSize(kDesignWidth, kDesignHeight));
  form.resize(700, 300);  // smaller than every screen fits in: refused
  QApplication::processEvents();
  EXPECT_EQ(form.size(), QSize(kDesignWidth, kDesignHeight));

  // Each screen at its fullest keeps the size the user gave, and fits at the design size.
  WindowModel& w = form.Model();
  const auto check = [&](const char* screen) {
    form.resize(900, 520);
    QApplication::processEvents();
    EXPECT_EQ(form.size(), QSize(900, 520)) << screen;
    form.resize(kDesignWidth, kDesignHeight);
    QApplication::processEvents();
    // Every label shown gets the height its wrapped text needs, and the footer is in view.
    for (const ControlDesign& d : kControls) {
      auto* label = qobject_cast<QLabel*>(form.ControlWidget(d.id));
      if (!label || !label->isVisibleTo(&form) || label->text().isEmpty()) continue;
      const int needed = label->hasHeightForWidth() ? label->heightForWidth(label->width())
                                                    : label->sizeHint().height();
      EXPECT_GE(label->height(), needed) << screen << ": " << d.name << " is cut";
    }
    QWidget* footer = form.ControlWidget(Ctl::GroupBox2);
    EXPECT_LE(footer->mapTo(&form, QPoint(0, footer->height())).y(), kDesignHeight) << screen;
  };
  check("opening");
  w.Hide(Ctl::OpeningBox);
  for (Ctl c : {Ctl::MainBox, Ctl::RunBox, Ctl::BtnChooseFile, Ctl::Gauge, Ctl::Label10,
                Ctl::BtnRepeatUpload, Ctl::BtnBackToStart})
    w.Show(c);
  w.SetCaption(Ctl::Label12,
               "The upload file /home/technician/firmware/rq410/fw.KVU is damaged: record 2 "
               "(address 000080) has the checksum 3F where its bytes call for 40. Make the upload "
               "file again or choose another");
  w.SetCaption(Ctl::Label8, "Upload will be 32000 blocks, about 34.5 minutes");
  w.SetCaption(Ctl::Label15, "Checksums match, Upload successful");
  w.SetFontSize(Ctl::Label15, 12);
  w.SetCaption(Ctl::Label4, "Upload complete. Time taken: 03:25 minutes");
  w.SetFontSize(Ctl::Label4, 12);
  w.SetCaption(
      Ctl::Label2,
      "Record 2 of 3 was refused 20 times in a row. Check the cable and its plugs and keep "
      "it away from sources of noise; if the upload file may be damaged, make it again");
  w.SetFontSize(Ctl::Label2, 13);
  w.SetCaption(Ctl::Label10, "Now, CYCLE POWER on the RQ-410....");
  w.SetFontSize(Ctl::Label10, 15);
  check("software upload");
  w.Hide(Ctl::MainBox);
  w.Show(Ctl::FactoryBox);
  w.Show(Ctl::BtnGoOn);
  w.SetCaption(Ctl::Label1,
               "With power off, put a jumper on the Bootstrap Loader Enable header (JP2) and a "
               "jumper on the BootBlock Erase Enable header (JP3)");
  w.SetFontSize(Ctl::Label1, 11);
  w.SetCaption(Ctl::Label16, "Click on <Go Back to Start> to upload Main Software");
  w.SetFontSize(Ctl::Label16, 12);
  check("factory");
}

// The buttons one round of Tab reaches, and those of them out of view when they had the focus.
struct TabRound {
  QStringList reached;
  QStringList outOfView;
};
TabRound TabAround(TForm1& form) {
  TabRound round;
  const QWidget* view = form.findChild<QScrollArea*>(QStringLiteral("ScreenScroll"))->viewport();
  QWidget* first = nullptr;
  for (int i = 0; i < 80; ++i) {
    QWidget* at = QApplication::focusWidget();
    QTest::keyClick(at ? at : &form, Qt::Key_Tab);
    QWidget* focus = QApplication::focusWidget();
    if (!focus || focus == first) break;
    if (!first) first = focus;
    if (!qobject_cast<QPushButton*>(focus)) continue;
    round.reached << focus->objectName();
    if (!view->rect().contains(QRect(focus->mapTo(view, QPoint(0, 0)), focus->size())))
      round.outOfView << focus->objectName();
  }
  return round;
}

// Shown maximised, the window fits its screen; where the screen is smaller than the design
// size (1280 x 800 at 200 %, a test of its own) the content scrolls, and Tab brings every
// button into view on the opening and Software Upload screens.
TEST(MainWindowOnItsScreen, FitsTheScreenAndTabReachesEveryButtonInView) {
  WindowRig r;
  TForm1& form = r.form;
  form.showMaximized();
  QApplication::setActiveWindow(&form);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  const QScreen* screen = form.screen();
  if (const char* dpr = std::getenv("KV_TEST_SCREEN_DPR")) {
    ASSERT_EQ(form.devicePixelRatioF(), std::atof(dpr)) << "the test screen was not taken";
  }
  const QRect room = screen->availableGeometry();
  EXPECT_LE(form.frameGeometry().width(), room.width());
  EXPECT_LE(form.frameGeometry().height(), room.height());
  const bool small = room.width() < kDesignWidth || room.height() < kDesignHeight;
  const auto* scroll = form.findChild<QScrollArea*>(QStringLiteral("ScreenScroll"));
  EXPECT_EQ(
      scroll->verticalScrollBar()->maximum() > 0 || scroll->horizontalScrollBar()->maximum() > 0,
      small);
  const QString shots = QStringLiteral(KV_BINARY_DIR "/screenshots/on-screen-%1x%2@%3-")
                            .arg(room.width())
                            .arg(room.height())
                            .arg(form.devicePixelRatioF());
  QDir().mkpath(QStringLiteral(KV_BINARY_DIR "/screenshots"));

  TabRound opening = TabAround(form);
  EXPECT_TRUE(opening.outOfView.isEmpty()) << opening.outOfView.join(' ').toStdString();
  for (const char* button :
       {"Btn2Upload", "BtnBoot", "BtnCable", "BtnCaptureFile", "BtnHelp", "BtnClose"})
    EXPECT_TRUE(opening.reached.contains(QLatin1String(button))) << button;
  form.ControlWidget(Ctl::BtnClose)->setFocus();
  QApplication::processEvents();
  EXPECT_TRUE(form.grab().save(shots + "opening.png"));

  WindowModel& w = form.Model();
  w.Hide(Ctl::OpeningBox);
  for (Ctl c : {Ctl::MainBox, Ctl::BtnChooseFile, Ctl::BtnBackToStart}) w.Show(c);
  w.SetCaption(Ctl::Label12, "Port is open on Com 1 at 38400 baud");
  QApplication::processEvents();
  TabRound upload = TabAround(form);
  EXPECT_TRUE(upload.outOfView.isEmpty()) << upload.outOfView.join(' ').toStdString();
  for (const char* button : {"BtnChooseFile", "BtnBackToStart", "BtnHelp", "BtnClose"})
    EXPECT_TRUE(upload.reached.contains(QLatin1String(button))) << button;
  form.ControlWidget(Ctl::BtnChooseFile)->setFocus();
  QApplication::processEvents();
  EXPECT_TRUE(form.grab().save(shots + "software-upload.png"));
}

}  // namespace
