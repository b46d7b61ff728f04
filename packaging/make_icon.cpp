// Draws the program's icon for the desktop, at build time: the window's own mark, written as
// OUTDIR/SIZExSIZE/apps/kvuflash.png for each size given, as the icon theme lays them out.
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

#include "app/logo.h"

int main(int argc, char* argv[]) {
  QGuiApplication app(argc, argv);
  const QStringList args = QGuiApplication::arguments();
  if (args.size() < 3) {
    std::fputs("Usage: kv_make_icon OUTDIR SIZE...\n", stderr);
    return 2;
  }
  for (qsizetype i = 2; i < args.size(); ++i) {
    const int size = args[i].toInt();
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(args[1]).arg(size);
    if (size <= 0 || !QDir().mkpath(dir) ||
        !KorvaneMark(size).save(dir + QStringLiteral("/kvuflash.png"), "PNG")) {
      std::fprintf(stderr, "kv_make_icon: cannot write the %s icon in %s\n",
                   args[i].toLocal8Bit().constData(), dir.toLocal8Bit().constData());
      return 1;
    }
  }
  return 0;
}
