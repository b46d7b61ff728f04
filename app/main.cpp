// kvuflash: the Korvane Flash Device Upload window.
#include <QApplication>

#include "app/main_window.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kvuflash"));
  QApplication::setApplicationDisplayName(QStringLiteral("Korvane Flash Device Upload"));
  TForm1 form1;
  if (form1.Model().Maximized) {
    form1.showMaximized();
  } else {
    form1.show();
  }
  return QApplication::exec();
}
