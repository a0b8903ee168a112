#include "ui/qt/hhALed.h"

#include <QPainter>
#include <QRadialGradient>

namespace korvel {

ThhALed::ThhALed(QWidget* parent) : QWidget(parent) {
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, [this] {
    lit_ = !lit_;
    update();
    if (OnTimer) OnTimer();
  });
  SetLEDStyle(LEDStyle::LEDSmall);
}

QSize ThhALed::StyleSize(LEDStyle style) {
  switch (style) {
    case LEDStyle::LEDLarge:
    case LEDStyle::LEDSqLarge:
      return {22, 22};
    case LEDStyle::LEDVertical:
      return {16, 22};
    case LEDStyle::LEDHorizontal:
      return {22, 16};
    default:
      return {16, 16};
  }
}

void ThhALed::SetLEDStyle(LEDStyle style) {
  style_ = style;
  setFixedSize(StyleSize(style));
  update();
}

void ThhALed::SetValue(bool on) {
  value_ = on;
  lit_ = on;
  UpdateTimer();
  update();
}

void ThhALed::SetBordered(bool on) {
  bordered_ = on;
  update();
}

void ThhALed::SetBlink(bool on) {
  blink_ = on;
  lit_ = value_;
  UpdateTimer();
  update();
}

void ThhALed::UpdateTimer() {
  if (value_ && blink_)
    timer_.start();
  else
    timer_.stop();
}

void ThhALed::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor colour = lit_ ? TrueColor : FalseColor;
  const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
  if (!bordered_) p.fillRect(rect(), BorderColor);
  QRadialGradient glow(r.center() - QPointF(r.width() / 5, r.height() / 5), r.width());
  glow.setColorAt(0, colour.lighter(160));
  glow.setColorAt(1, colour.darker(130));
  p.setBrush(glow);
  p.setPen(bordered_ ? QPen(QColor(96, 96, 96), 1) : Qt::NoPen);
  const bool round = style_ == LEDStyle::LEDSmall || style_ == LEDStyle::LEDLarge;
  if (round)
    p.drawEllipse(r);
  else
    p.drawRoundedRect(r, 3, 3);
}

}  // namespace korvel
