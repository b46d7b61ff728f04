// The progress gauge `Gauge` as a Qt widget: draws a TGaugeModel as a horizontal or vertical
// bar, a pie, a needle dial or plain text, with the whole percentage written across it in
// inverting colours, and repaints whenever the model asks for it.
#pragma once

#include <QImage>
#include <QWidget>

#include "sequencer/gauge_model.h"

class TGauge : public QWidget {
  Q_OBJECT

 public:
  explicit TGauge(TGaugeModel& model, QWidget* parent = nullptr);
  ~TGauge() override;
  TGauge(const TGauge&) = delete;
  TGauge& operator=(const TGauge&) = delete;

  TGaugeModel& Model() const { return m_model; }
  // The gauge as it is painted, at the widget's present size and the screen's resolution;
  // `scale` gives the device pixels per unit of the widget's size.
  QImage Render() const;
  QImage Render(qreal scale) const;
  QSize sizeHint() const override { return QSize(100, 100); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void drawKind(QImage& overlay, const GaugeRect& area) const;
  void drawText(QImage& text, const GaugeRect& area) const;

  TGaugeModel& m_model;
  int m_listener = 0;
};
