// kvuflash: the Korvane Flash Device Upload window.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>
#include <exception>

#include "app/main_window.h"
#include "kv_build_info.h"

namespace {

constexpr const char* kUsage =
    "Usage: kvuflash [--help] [--version]\n"
    "\n"
    "Opens the Korvane Flash Device Upload window, which uploads firmware into an RQ-410\n"
    "satellite modem through a serial port. Its \"Help\" button and F1 open the help pages.\n"
    "\n"
    "Options:\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "\n"
    "Qt's own options (such as -platform offscreen) are taken as well. Ports: as for\n"
    "kvuflash-cli, COM numbers map to devices through ports.txt or KVUFLASH_PORTS.\n";

}  // namespace

int main(int argc, char* argv[]) {
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
  try {
    TForm1 form1;
    if (form1.Model().Maximized) {
      form1.showMaximized();
    } else {
      form1.show();
    }
    return QApplication::exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QStringLiteral("Korvane Flash Device Upload"),
                          QString::fromLocal8Bit(e.what()));
    return 1;
  }
}
