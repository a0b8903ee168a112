#include "ui/qt/Pictures.h"

#include <QPainter>
#include <algorithm>

namespace korvel {

namespace {
const QColor kInk(0x30, 0x3A, 0x48);
const QColor kAccent(0x1E, 0x6F, 0xC8);

QPixmap Blank(QSize size) {
  QPixmap p(size);
  p.fill(Qt::transparent);
  return p;
}

void Dongle(QPainter& p, QRectF r, QColor body) {
  p.setPen(QPen(kInk, 1.5));
  p.setBrush(body);
  p.drawRoundedRect(QRectF(r.left(), r.top() + r.height() * 0.3, r.width() * 0.7, r.height() * 0.4),
                    3, 3);
  p.setBrush(QColor(0xC8, 0xC8, 0xC8));
  p.drawRect(QRectF(r.left() + r.width() * 0.7, r.top() + r.height() * 0.38, r.width() * 0.3,
                    r.height() * 0.24));
}

void Mouse(QPainter& p, QRectF r, QColor body) {
  p.setPen(QPen(kInk, 1.5));
  p.setBrush(body);
  p.drawRoundedRect(r, r.width() / 2, r.width() / 2);
  p.drawLine(QPointF(r.center().x(), r.top()), QPointF(r.center().x(), r.top() + r.height() * 0.4));
}

// The logo's radio mark, drawn for a logo h pixels high from the painter's origin.
void LogoMark(QPainter& p, qreal h, qreal penWidth) {
  p.setPen(QPen(kAccent, penWidth));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(h * 0.12, h * 0.2, h * 0.6, h * 0.6), -60 * 16, 120 * 16);
  p.drawArc(QRectF(h * 0.02, h * 0.08, h * 0.8, h * 0.84), -50 * 16, 100 * 16);
  p.setBrush(kAccent);
  p.drawEllipse(QPointF(h * 0.42, h * 0.5), h * 0.08, h * 0.08);
}

// The name's lettering in the logo.
QFont NameFont(int pixelSize) {
  QFont font("Sans", 1);
  font.setPixelSize(pixelSize);
  font.setBold(true);
  font.setLetterSpacing(QFont::PercentageSpacing, 108);
  return font;
}
}  // namespace

QPixmap LogoPicture(QSize size) {
  QPixmap pix = Blank(size);
  QPainter p(&pix);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal h = size.height();
  LogoMark(p, h, 2.5);
  QFont font = NameFont(int(h * 0.42));
  p.setFont(font);
  p.setPen(kInk);
  p.drawText(QRectF(h * 0.9, 0, size.width() - h * 0.9, h * 0.7), Qt::AlignLeft | Qt::AlignBottom,
             "KORVEL");
  font.setPixelSize(int(h * 0.17));
  font.setBold(false);
  font.setLetterSpacing(QFont::PercentageSpacing, 100);
  p.setFont(font);
  p.setPen(kAccent);
  p.drawText(QRectF(h * 0.92, h * 0.7, size.width() - h * 0.9, h * 0.3),
             Qt::AlignLeft | Qt::AlignTop, "2.4GHz RF SoC");
  return pix;
}

QPixmap AppIconPicture(int side) {
  QPixmap pix = Blank({side, side});
  QPainter p(&pix);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = side;
  const qreal line = std::max(1.0, s / 64);
  const QRectF tile(line / 2 + s * 0.03, line / 2 + s * 0.03, s * 0.94 - line, s * 0.94 - line);
  p.setPen(QPen(kAccent, line));
  p.setBrush(Qt::white);
  p.drawRoundedRect(tile, s * 0.16, s * 0.16);
  // The mark spans 0.34h..0.82h across and 0.18h..0.82h down; below 64 pixels the name
  // cannot be read, so the mark takes the whole tile.
  const bool named = side >= 64;
  const qreal h = named ? s * 0.8 : s * 1.2;
  p.save();
  p.translate(s / 2 - h * 0.58, (named ? s * 0.38 : s / 2) - h * 0.5);
  LogoMark(p, h, h * 2.5 / 66);
  p.restore();
  if (named) {
    QFont font = NameFont(int(s * 0.165));
    font.setLetterSpacing(QFont::PercentageSpacing, 100);
    p.setFont(font);
    p.setPen(kInk);
    p.drawText(QRectF(tile.left(), s * 0.67, tile.width(), s * 0.22),
               Qt::AlignHCenter | Qt::AlignTop, "KORVEL");
  }
  return pix;
}

QPixmap NoDevicePicture(QSize size) {
  QPixmap pix = Blank(size);
  QPainter p(&pix);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r(4, 4, size.width() - 8, size.height() - 8);
  Dongle(p, r, QColor(0xE4, 0xE4, 0xE4));
  p.setPen(QPen(QColor(0xC0, 0x30, 0x30), 3, Qt::SolidLine, Qt::RoundCap));
  const QRectF x(r.right() - r.width() * 0.35, r.top(), r.width() * 0.3, r.width() * 0.3);
  p.drawLine(x.topLeft(), x.bottomRight());
  p.drawLine(x.topRight(), x.bottomLeft());
  return pix;
}

QPixmap ConnectedPicture(QSize size) {
  QPixmap pix = Blank(size);
  QPainter p(&pix);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal w = size.width(), h = size.height();
  Dongle(p, QRectF(2, h * 0.45, w * 0.45, h * 0.5), QColor(0xD8, 0xE8, 0xF8));
  Mouse(p, QRectF(w * 0.62, h * 0.3, w * 0.32, h * 0.6), QColor(0xD8, 0xE8, 0xF8));
  p.setPen(QPen(QColor(0x20, 0xA0, 0x40), 2.5, Qt::SolidLine, Qt::RoundCap));
  for (int i = 0; i < 2; ++i) {
    const qreal r = h * (0.12 + 0.1 * i);
    p.drawArc(QRectF(w * 0.5 - r, h * 0.28 - r, 2 * r, 2 * r), 30 * 16, 120 * 16);
  }
  return pix;
}

QList<QPixmap> BindFrames(QSize size) {
  QList<QPixmap> frames;
  for (int frame = 0; frame < 4; ++frame) {
    QPixmap pix = Blank(size);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = size.width(), h = size.height();
    Dongle(p, QRectF(2, h * 0.45, w * 0.45, h * 0.5), QColor(0xFF, 0xF0, 0xC8));
    Mouse(p, QRectF(w * 0.62, h * 0.3, w * 0.32, h * 0.6), QColor(0xFF, 0xF0, 0xC8));
    p.setPen(QPen(QColor(0xE0, 0x90, 0x10), 2.5, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < frame; ++i) {
      const qreal r = h * (0.08 + 0.08 * i);
      p.drawArc(QRectF(w * 0.5 - r, h * 0.28 - r, 2 * r, 2 * r), 30 * 16, 120 * 16);
    }
    frames.append(pix);
  }
  return frames;
}

QList<QPixmap> LanguagePictures() {
  // Labelled badges rather than national flags: unambiguous for every operator.
  const struct {
    const char* text;
    QColor colour;
  } badges[] = {{"EN", QColor(0x1E, 0x4F, 0x9C)},
                {"繁", QColor(0xB0, 0x2A, 0x2A)},
                {"简", QColor(0xD2, 0x6A, 0x10)}};
  QList<QPixmap> list;
  for (const auto& b : badges) {
    QPixmap pix = Blank({32, 20});
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(b.colour);
    p.drawRoundedRect(QRectF(0.5, 0.5, 31, 19), 3, 3);
    QFont font("Sans", 1);
    font.setPixelSize(13);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, 32, 20), Qt::AlignCenter, QString::fromUtf8(b.text));
    list.append(pix);
  }
  return list;
}

QPixmap GlobePicture(QSize size) {
  QPixmap pix = Blank(size);
  QPainter p(&pix);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r(3, 3, size.width() - 6, size.height() - 6);
  p.setPen(QPen(kAccent, 2));
  p.setBrush(QColor(0xE8, 0xF1, 0xFB));
  p.drawEllipse(r);
  p.drawEllipse(QRectF(r.center().x() - r.width() / 4, r.top(), r.width() / 2, r.height()));
  p.drawLine(QPointF(r.left(), r.center().y()), QPointF(r.right(), r.center().y()));
  p.drawLine(QPointF(r.center().x(), r.top()), QPointF(r.center().x(), r.bottom()));
  return pix;
}

}  // namespace korvel
