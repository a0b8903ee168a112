// A lamp: on in TrueColor, off in FalseColor, optionally blinking.
#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace korvel {

enum class LEDStyle { LEDSmall, LEDLarge, LEDSqSmall, LEDSqLarge, LEDVertical, LEDHorizontal };

class ThhALed : public QWidget {
  Q_OBJECT
 public:
  explicit ThhALed(QWidget* parent = nullptr);

  bool Value() const { return value_; }
  void SetValue(bool on);
  QColor TrueColor = Qt::green;
  QColor FalseColor = QColor(192, 192, 192);
  QColor BorderColor = QColor(128, 128, 128);
  bool Bordered() const { return bordered_; }
  void SetBordered(bool on);
  bool Blink() const { return blink_; }
  void SetBlink(bool on);
  int Interval() const { return timer_.interval(); }
  void SetInterval(int ms) { timer_.setInterval(ms); }
  LEDStyle Style() const { return style_; }
  void SetLEDStyle(LEDStyle style);
  // What the lamp shows now (alternates while blinking).
  bool Lit() const { return lit_; }
  std::function<void()> OnTimer;

  static QSize StyleSize(LEDStyle style);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void UpdateTimer();
  bool value_ = false;
  bool bordered_ = true;
  bool blink_ = true;
  bool lit_ = false;
  LEDStyle style_ = LEDStyle::LEDSmall;
  QTimer timer_;
};

}  // namespace korvel
