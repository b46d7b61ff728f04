#include "app/gauge_widget.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygonF>
#include <cmath>
#include <numbers>

namespace {

QColor ToQColor(TColor c) {
  return QColor(c.r, c.g, c.b);
}

// A rectangle with the window system's meaning (right and bottom excluded) as Qt's.
QRect ToQRect(int l, int t, int r, int b) {
  return QRect(l, t, r - l, b - t);
}

// The wedge of the ellipse inscribed in the box (l, t, r, b), from the radial through
// `from` counter-clockwise to the radial through `to`, as a polygon with the centre first.
// When both radials coincide the whole ellipse is drawn, as the window system does.
QPolygonF PieWedge(int l, int t, int r, int b, QPointF from, QPointF to) {
  const double cx = (l + r - 1) / 2.0;
  const double cy = (t + b - 1) / 2.0;
  const double rx = std::max((r - l - 1) / 2.0, 0.5);
  const double ry = std::max((b - t - 1) / 2.0, 0.5);
  const auto angle = [&](QPointF p) { return std::atan2((cy - p.y()) / ry, (p.x() - cx) / rx); };
  const double start = angle(from);
  double span = angle(to) - start;
  constexpr double kTwoPi = 2 * std::numbers::pi;
  while (span <= 1e-9) span += kTwoPi;
  if (span > kTwoPi) span = kTwoPi;
  QPolygonF wedge;
  wedge << QPointF(cx, cy);
  const int steps = std::max(8, static_cast<int>(span / kTwoPi * 180));
  for (int i = 0; i <= steps; ++i) {
    const double a = start + span * i / steps;
    wedge << QPointF(cx + rx * std::cos(a), cy - ry * std::sin(a));
  }
  return wedge;
}

void XorOnto(QImage& target, const QImage& source) {
  QPainter p(&target);
  p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  p.drawImage(0, 0, source);
}

}  // namespace

TGauge::TGauge(TGaugeModel& model, QWidget* parent) : QWidget(parent), m_model(model) {
  // The gauge paints its whole rectangle.
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(100, 100);
  m_listener = m_model.AddRepaintListener([this] { update(); });
}

TGauge::~TGauge() {
  m_model.RemoveRepaintListener(m_listener);
}

void TGauge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, Render());
}

QImage TGauge::Render() const {
  return Render(devicePixelRatioF());
}

QImage TGauge::Render(qreal scale) const {
  const int w = std::max(width(), 1);
  const int h = std::max(height(), 1);
  // The shapes are laid out in the widget's own units and drawn at the screen's pixels, so
  // that on a scaled screen the percentage is sharp rather than a bitmap blown up.
  const QSize pixels(static_cast<int>(std::ceil(w * scale)),
                     static_cast<int>(std::ceil(h * scale)));
  const auto blank = [&] {
    QImage image(pixels, QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::black);
    return image;
  };
  // Everything is drawn on black and combined by XOR, so the frame outside the area stays
  // black and the text inverts whatever lies under it.
  QImage image = blank();
  const GaugeRect area = GaugeArea(w, h, m_model.BorderStyle());
  QImage overlay = blank();
  drawKind(overlay, area);
  XorOnto(image, overlay);
  if (m_model.ShowText()) {
    QImage text = blank();
    drawText(text, area);
    XorOnto(image, text);
  }
  return image;
}

void TGauge::drawKind(QImage& overlay, const GaugeRect& area) const {
  QPainter p(&overlay);
  p.setRenderHint(QPainter::Antialiasing, false);
  const QColor fore = ToQColor(m_model.ForeColor());
  const QColor back = ToQColor(m_model.BackColor());
  const QRect areaRect = ToQRect(area.L, area.T, area.R, area.B);
  const int percent = m_model.ProgressPercent();
  const bool single = m_model.BorderStyle() == TBorderStyle::bsSingle;
  switch (m_model.Kind()) {
    case TGaugeKind::gkText:
      p.fillRect(areaRect, back);
      break;
    case TGaugeKind::gkHorizontalBar:
    case TGaugeKind::gkVerticalBar: {
      p.fillRect(areaRect, back);
      const GaugeRect bar = m_model.Kind() == TGaugeKind::gkHorizontalBar
                                ? HorizontalBarRect(area, percent)
                                : VerticalBarRect(area, percent);
      if (bar.R > bar.L && bar.B > bar.T) p.fillRect(ToQRect(bar.L, bar.T, bar.R, bar.B), fore);
      break;
    }
    case TGaugeKind::gkPie: {
      const GaugeRect box = PieBox(area, m_model.BorderStyle());
      p.fillRect(areaRect, palette().color(QPalette::Window));
      p.setPen(QPen(fore, 1));
      p.setBrush(back);
      p.drawEllipse(ToQRect(box.L, box.T, box.R - 1, box.B - 1));
      if (percent > 0) {
        const GaugePoint from = PieStartPoint(box, percent);
        p.setBrush(fore);
        p.drawPolygon(
            PieWedge(box.L, box.T, box.R, box.B, QPointF(from.x, from.y), QPointF(box.R / 2, 0)));
      }
      break;
    }
    case TGaugeKind::gkNeedle: {
      const int extra = single ? 1 : 0;
      const int wBox = area.R - area.L + extra;
      const int hBox = area.B - area.T + extra;
      p.fillRect(areaRect, palette().color(QPalette::Window));
      p.setPen(QPen(fore, 1));
      p.setBrush(back);
      // The upper half of the ellipse in (L, T, W, 2H - 1): the dial.
      p.drawPolygon(PieWedge(area.L, area.T, wBox, 2 * hBox - 1, QPointF(area.L + wBox, area.B - 1),
                             QPointF(area.L, area.B - 1)));
      p.drawLine(area.L, area.B, area.L + wBox, area.B);
      if (percent > 0) {
        const GaugePoint tip = NeedleTip(area, width(), percent);
        p.drawLine(width() / 2, area.B - 1, tip.x, tip.y);
      }
      break;
    }
  }
}

void TGauge::drawText(QImage& text, const GaugeRect& area) const {
  QPainter p(&text);
  QFont f = font();
  // Plain white pixels, so that the XOR shows black on white and white on black.
  f.setStyleStrategy(QFont::NoAntialias);
  p.setFont(f);
  p.setPen(Qt::white);
  const QString s = QString::number(m_model.ProgressPercent()) + QLatin1Char('%');
  const QFontMetrics metrics(f);
  const int tw = metrics.horizontalAdvance(s);
  const int th = metrics.height();
  const int x = (area.R - area.L + 1 - tw) / 2;
  const int y = (area.B - area.T + 1 - th) / 2;
  p.setClipRect(ToQRect(area.L, area.T, area.R, area.B));
  p.drawText(QRect(x, y, tw, th), Qt::AlignLeft | Qt::AlignTop, s);
}
