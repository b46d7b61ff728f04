// A whole Software Upload through the real window, offscreen, against the simulated unit on
// a pseudo-terminal: the buttons a user presses, the screens and texts the user sees.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <filesystem>
#include <string>
#include <thread>

#include "app/main_window.h"
#include "app/qt_ui_services.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// rq410-sim on a new pseudo-terminal; the first line it prints is the terminal's path.
class SimulatedUnit {
 public:
  explicit SimulatedUnit(const std::vector<std::string>& options) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<std::string> args{kSimPath};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, kSimPath, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    char c;
    while (read(pipeFds[0], &c, 1) == 1 && c != '\n') path_ += c;
    // The simulator goes on printing; keep the pipe drained so that it never blocks.
    reader_ = std::thread([fd = pipeFds[0]] {
      char buffer[256];
      while (read(fd, buffer, sizeof buffer) > 0) {
      }
      close(fd);
    });
  }
  ~SimulatedUnit() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
  }
  const std::string& Path() const { return path_; }

  static constexpr const char* kSimPath = KV_BINARY_DIR "/sim/rq410-sim";

 private:
  pid_t pid_ = -1;
  std::string path_;
  std::thread reader_;
};

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

QString Caption(TForm1& form, const char* name) {
  QWidget* w = form.ControlWidget(QString::fromLatin1(name));
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
  return {};
}

void Click(TForm1& form, const char* name) {
  auto* button = qobject_cast<QPushButton*>(form.ControlWidget(QString::fromLatin1(name)));
  ASSERT_NE(button, nullptr) << name;
  ASSERT_TRUE(button->isVisibleTo(&form)) << name << " is not shown";
  button->click();
}

TEST(WindowUpload, SoftwareUploadOfAnIntelHexFileAgainstTheSimulatedUnit) {
  if (!fs::exists(SimulatedUnit::kSimPath)) GTEST_SKIP() << "rq410-sim is not built";
  const fs::path dir = fs::temp_directory_path() / ("kv-winup-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(KV_SOURCE_DIR "/samples/demo-small.hex", dir / "demo-small.hex");

  SimulatedUnit unit({"--erase-ms", "200", "--reboot-ms", "300"});
  ASSERT_FALSE(unit.Path().empty());
  setenv("KVUFLASH_PORTS", ("1=" + unit.Path()).c_str(), 1);
  {
    TForm1 form(dir.string() + "/", true);
    QStringList messages;
    form.Ui().MessageHook = [&](const QString& m) { messages << m; };
    form.Ui().ChooserHook = [&](QString& path) {
      path = QString::fromStdString((dir / "demo-small.hex").string());
      return true;
    };
    form.resize(762, 409);
    form.show();
    MainForm& f = form.Form();

    Click(form, "Btn2Upload");
    ASSERT_TRUE(PumpUntil([&] { return f.S().Step == 0; }, 5000));
    EXPECT_EQ(Caption(form, "Label12"), "Port is open on Com 1 at 38400 baud");

    Click(form, "BtnChooseFile");
    ASSERT_TRUE(PumpUntil([&] { return f.S().Step == 0 && f.W().Visible("RunBox"); }, 60000))
        << messages.join("; ").toStdString();
    EXPECT_TRUE(fs::exists(dir / "demo-small.KVU"));
    EXPECT_TRUE(Caption(form, "Label8").startsWith("Upload will be "))
        << Caption(form, "Label8").toStdString();

    Click(form, "BtnStartRun");
    const bool finished = PumpUntil(
        [&] { return f.S().Step == 0 || (f.S().Step >= 183 && f.S().Step <= 204); }, 120000);
    ASSERT_TRUE(finished);
    EXPECT_GE(f.S().Step, 183) << Caption(form, "Label2").toStdString();
    EXPECT_TRUE(Caption(form, "Label4").startsWith("Upload complete. Time taken: "))
        << Caption(form, "Label4").toStdString();
    EXPECT_EQ(Caption(form, "Label10"), "Now, CYCLE POWER on the RQ-410....");
    const QString history =
        qobject_cast<QPlainTextEdit*>(form.ControlWidget(QStringLiteral("FUpHist")))->toPlainText();
    EXPECT_TRUE(history.startsWith("Got U,READY handshake\nSending GO\nErasing..."))
        << history.toStdString();
    EXPECT_TRUE(messages.isEmpty()) << messages.join("; ").toStdString();

    // The finished screen, for a look.
    QApplication::processEvents();
    const QString out = QStringLiteral(KV_BINARY_DIR "/screenshots");
    fs::create_directories(out.toStdString());
    form.grab().save(out + "/upload-finished.png");

    Click(form, "BtnBackToStart");
    EXPECT_EQ(f.S().Step, 0);
    EXPECT_TRUE(form.ControlWidget(QStringLiteral("OpeningBox"))->isVisibleTo(&form));
  }
  unsetenv("KVUFLASH_PORTS");
  fs::remove_all(dir);
}

}  // namespace
