// kvuflash: the Korvane Flash Device Upload window.
#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "app/main_window.h"

int main(int argc, char* argv[]) {
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
