// Text and the font shared by the main window's files: the core's strings in the locale's
// encoding, and the window's own font.
#pragma once

#include <QFont>
#include <QString>
#include <string>

namespace window_text {

inline QString Q(const std::string& s) {
  return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}

inline QFont WindowFont() {
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(13);
  return f;
}

}  // namespace window_text
