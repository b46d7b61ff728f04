#include "app/logo.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {
const QColor kNavy(16, 42, 96);
const QColor kSky(36, 128, 208);
const QColor kAmber(240, 160, 32);
// The mark in a 68 x 68 box: a disc with a lighter lower half, crossed by a tilted orbit.
void PaintMark(QPainter& p) {
  const QRectF disc(6, 6, 56, 56);
  QLinearGradient fill(disc.topLeft(), disc.bottomLeft());
  fill.setColorAt(0.0, kNavy);
  fill.setColorAt(1.0, kSky);
  p.setPen(Qt::NoPen);
  p.setBrush(fill);
  p.drawEllipse(disc);

  p.save();
  p.translate(disc.center());
  p.rotate(-24);
  p.setPen(QPen(kAmber, 3.2));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QRectF(-36, -11, 72, 22));
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(33, -5), 4.2, 4.2);
  p.restore();
}

}  // namespace

QPixmap KorvaneMark(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 68.0, size / 68.0);
  PaintMark(p);
  return pixmap;
}

QPixmap KorvaneLogo() {
  QPixmap pixmap(299, 68);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  PaintMark(p);

  // The wordmark.
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(44);
  font.setBold(true);
  font.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
  p.setFont(font);
  p.setPen(kNavy);
  p.drawText(QRectF(74, 0, 225, 56), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Korvane"));

  // A thin rule under the name, in the orbit's colour.
  p.setPen(QPen(kAmber, 2.5));
  p.drawLine(QPointF(77, 58), QPointF(292, 58));
  return pixmap;
}
