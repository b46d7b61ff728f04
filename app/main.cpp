// kvuflash: the Korvane Flash Device Upload window.
#include <QApplication>
#include <QMessageBox>
#include <QTextBrowser>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "app/main_window.h"
#include "app/qt_ui_services.h"
#include "kv_build_info.h"
#include "sequencer/window_texts.h"

namespace {

constexpr const char* kUsage =
    "Usage: kvuflash [--help] [--version] [--help-source TOPIC]\n"
    "\n"
    "Opens the Korvane Flash Device Upload window, which uploads firmware into an RQ-410\n"
    "satellite modem through a serial port. Its \"Help\" button and F1 open the help pages.\n"
    "\n"
    "Options:\n"
    "  --help               show this text\n"
    "  --version            show the version\n"
    "  --help-source TOPIC  open the window and its help at TOPIC (1, 3, 4, 5 or 9), print\n"
    "                       where that page was read from, and exit: 0 when the page has\n"
    "                       text. A check that an installed window finds its help pages.\n"
    "\n"
    "Qt's own options (such as -platform offscreen) are taken as well. Ports: as for\n"
    "kvuflash-cli, COM numbers map to devices through ports.txt or KVUFLASH_PORTS.\n";

// The page the help window shows at `topic`, as the window itself would open it.
int PrintHelpSource(TForm1& form1, int topic) {
  form1.show();
  form1.Ui().ShowHelp(topic);
  const QTextBrowser* browser = form1.Ui().HelpWindow()->Browser();
  std::printf("%s\n", browser->source().toString().toLocal8Bit().constData());
  return browser->toPlainText().trimmed().isEmpty() ? 1 : 0;
}

}  // namespace

int main(int argc, char* argv[]) {
#ifdef SIGXFSZ
  // A file-size limit (ulimit -f) must fail a write as a full disk does, with its message,
  // instead of killing the window in the middle of a conversion or an upload.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  // These answer before Qt starts, so that they need no display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("kvuflash " KV_VERSION);
      return 0;
    }
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kvuflash"));
  // The application's title ("Korvane Flash Device Upload") heads its message boxes and the
  // help window; it is not set as the display name, which some desktops append to every
  // window caption, so the main window's caption stays as it is.
  int helpTopic = 0;
  const QStringList args = QApplication::arguments();
  if (const auto at = args.indexOf(QStringLiteral("--help-source")); at >= 0) {
    helpTopic = at + 1 < args.size() ? args[at + 1].toInt() : 0;
    if (helpTopic <= 0) {
      std::fputs("kvuflash: --help-source needs a topic number\n", stderr);
      return 2;
    }
  }
  try {
    TForm1 form1;
    if (helpTopic) return PrintHelpSource(form1, helpTopic);
    if (form1.Model().Maximized) {
      form1.showMaximized();
    } else {
      form1.show();
    }
    return QApplication::exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QString::fromLatin1(window_texts::kAppTitle),
                          QString::fromLocal8Bit(e.what()));
    return 1;
  }
}
