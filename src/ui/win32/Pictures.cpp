#include "ui/win32/Pictures.h"

#include <objidl.h>
// objidl.h first: gdiplus.h needs IStream.
#include <gdiplus.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace korvel::win32 {

namespace {

using Gdiplus::Color;
using Gdiplus::GraphicsPath;
using Gdiplus::Pen;
using Gdiplus::PointF;
using Gdiplus::REAL;
using Gdiplus::RectF;
using Gdiplus::SolidBrush;

const Color kInk(0x30, 0x3A, 0x48);
const Color kAccent(0x1E, 0x6F, 0xC8);

// Draws into an off-screen copy of r, kScale times larger, then averages each kScale x kScale
// block back into r: anti-aliasing that does not depend on the GDI+ at hand (Wine's fills and
// strokes have none, on a window DC or a bitmap) and matches Qt's coverage-based edges. It
// also keeps a picture from flickering.
class Canvas {
 public:
  static constexpr int kScale = 4;

  Canvas(HDC dc, const RECT& r)
      : dc_(dc), left_(r.left), top_(r.top), width_(r.right - r.left), height_(r.bottom - r.top) {
    if (width_ <= 0 || height_ <= 0) return;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width_;
    info.bmiHeader.biHeight = -height_;  // top-down, as a GDI+ bitmap's rows go
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    dib_ = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dib_ || !bits) return;
    small_ = static_cast<DWORD*>(bits);
    memory_ = CreateCompatibleDC(dc);
    if (!memory_) return;
    old_ = SelectObject(memory_, dib_);
    // The background the caller painted, each pixel a kScale x kScale block.
    if (!BitBlt(memory_, 0, 0, width_, height_, dc, left_, top_, SRCCOPY)) return;
    GdiFlush();
    const int bigWidth = width_ * kScale, bigHeight = height_ * kScale;
    big_.resize(size_t(bigWidth) * size_t(bigHeight));
    for (int y = 0; y < bigHeight; ++y)
      for (int x = 0; x < bigWidth; ++x)
        big_[size_t(y) * bigWidth + x] = small_[(y / kScale) * width_ + x / kScale];
    bitmap_ =
        std::make_unique<Gdiplus::Bitmap>(bigWidth, bigHeight, bigWidth * 4, PixelFormat32bppRGB,
                                          reinterpret_cast<BYTE*>(big_.data()));
    if (bitmap_->GetLastStatus() != Gdiplus::Ok) return;
    graphics_ = std::make_unique<Gdiplus::Graphics>(bitmap_.get());
    if (graphics_->GetLastStatus() != Gdiplus::Ok) {
      graphics_.reset();
      return;
    }
    // Pixel i covers [i, i + 1), as with QPainter::Antialiasing, so the same coordinates
    // give the same pixels.
    graphics_->SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    graphics_->SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    graphics_->SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
    graphics_->ScaleTransform(REAL(kScale), REAL(kScale));
  }
  ~Canvas() {
    if (graphics_) {
      graphics_->Flush(Gdiplus::FlushIntentionSync);
      graphics_.reset();
      bitmap_.reset();
      const int bigWidth = width_ * kScale;
      for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
          unsigned sum[3] = {0, 0, 0};
          for (int dy = 0; dy < kScale; ++dy)
            for (int dx = 0; dx < kScale; ++dx) {
              const DWORD p = big_[size_t(y * kScale + dy) * bigWidth + x * kScale + dx];
              sum[0] += p & 0xFF;
              sum[1] += (p >> 8) & 0xFF;
              sum[2] += (p >> 16) & 0xFF;
            }
          const unsigned n = kScale * kScale;
          small_[y * width_ + x] = DWORD((sum[0] + n / 2) / n) | DWORD((sum[1] + n / 2) / n) << 8 |
                                   DWORD((sum[2] + n / 2) / n) << 16;
        }
      GdiFlush();
      BitBlt(dc_, left_, top_, width_, height_, memory_, 0, 0, SRCCOPY);
    }
    graphics_.reset();
    bitmap_.reset();
    if (memory_) {
      if (old_) SelectObject(memory_, old_);
      DeleteDC(memory_);
    }
    if (dib_) DeleteObject(dib_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  // Null when the DC, GDI+ or memory failed: then nothing is drawn.
  Gdiplus::Graphics* operator->() { return graphics_.get(); }
  explicit operator bool() const { return graphics_ != nullptr; }
  Gdiplus::Graphics& g() { return *graphics_; }
  REAL width() const { return REAL(width_); }
  REAL height() const { return REAL(height_); }

 private:
  HDC dc_;
  int left_, top_, width_, height_;
  HBITMAP dib_ = nullptr;
  HDC memory_ = nullptr;
  HGDIOBJ old_ = nullptr;
  DWORD* small_ = nullptr;
  std::vector<DWORD> big_;
  std::unique_ptr<Gdiplus::Bitmap> bitmap_;
  std::unique_ptr<Gdiplus::Graphics> graphics_;
};

// QPainter's default pen: square caps, bevel joins.
void QtPen(Pen& pen, Gdiplus::LineCap cap = Gdiplus::LineCapSquare) {
  pen.SetLineCap(cap, cap, Gdiplus::DashCapFlat);
  pen.SetLineJoin(Gdiplus::LineJoinBevel);
}

// QPainterPath::addRoundedRect with absolute radii (clamped to half the sides, as Qt does).
void RoundedRect(GraphicsPath& path, RectF r, REAL xr, REAL yr) {
  xr = std::min(xr, r.Width / 2);
  yr = std::min(yr, r.Height / 2);
  if (xr <= 0 || yr <= 0) {
    path.AddRectangle(r);
    return;
  }
  const REAL dx = 2 * xr, dy = 2 * yr;
  path.StartFigure();
  path.AddArc(r.X + r.Width - dx, r.Y, dx, dy, 270, 90);
  path.AddArc(r.X + r.Width - dx, r.Y + r.Height - dy, dx, dy, 0, 90);
  path.AddArc(r.X, r.Y + r.Height - dy, dx, dy, 90, 90);
  path.AddArc(r.X, r.Y, dx, dy, 180, 90);
  path.CloseFigure();
}

void DrawRoundedRect(Gdiplus::Graphics& g, const Pen* pen, const Gdiplus::Brush* brush, RectF r,
                     REAL xr, REAL yr) {
  GraphicsPath path;
  RoundedRect(path, r, xr, yr);
  if (brush) g.FillPath(brush, &path);
  if (pen) g.DrawPath(pen, &path);
}

// QPainter::drawArc's angles: degrees counter-clockwise from 3 o'clock; GDI+'s go clockwise.
void DrawQtArc(Gdiplus::Graphics& g, const Pen& pen, RectF r, REAL start, REAL span) {
  g.DrawArc(&pen, r, -start, -span);
}

void Dongle(Gdiplus::Graphics& g, RectF r, Color body) {
  Pen pen(kInk, 1.5f);
  QtPen(pen);
  SolidBrush fill(body);
  DrawRoundedRect(g, &pen, &fill,
                  RectF(r.X, r.Y + r.Height * 0.3f, r.Width * 0.7f, r.Height * 0.4f), 3, 3);
  SolidBrush plug(Color(0xC8, 0xC8, 0xC8));
  const RectF tip(r.X + r.Width * 0.7f, r.Y + r.Height * 0.38f, r.Width * 0.3f, r.Height * 0.24f);
  g.FillRectangle(&plug, tip);
  g.DrawRectangle(&pen, tip);
}

void Mouse(Gdiplus::Graphics& g, RectF r, Color body) {
  Pen pen(kInk, 1.5f);
  QtPen(pen);
  SolidBrush fill(body);
  DrawRoundedRect(g, &pen, &fill, r, r.Width / 2, r.Width / 2);
  const REAL cx = r.X + r.Width / 2;
  g.DrawLine(&pen, PointF(cx, r.Y), PointF(cx, r.Y + r.Height * 0.4f));
}

// The logo's radio mark, for a logo h pixels high from the origin.
void LogoMark(Gdiplus::Graphics& g, REAL h, REAL penWidth) {
  Pen pen(kAccent, penWidth);
  QtPen(pen);
  DrawQtArc(g, pen, RectF(h * 0.12f, h * 0.2f, h * 0.6f, h * 0.6f), -60, 120);
  DrawQtArc(g, pen, RectF(h * 0.02f, h * 0.08f, h * 0.8f, h * 0.84f), -50, 100);
  SolidBrush dot(kAccent);
  const RectF disc(h * 0.42f - h * 0.08f, h * 0.5f - h * 0.08f, h * 0.16f, h * 0.16f);
  g.FillEllipse(&dot, disc);
  g.DrawEllipse(&pen, disc);
}

// --- Fonts ---------------------------------------------------------------------------------

int CALLBACK OnFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool FamilyInstalled(const wchar_t* name, BYTE charset) {
  HDC screen = GetDC(nullptr);
  LOGFONTW want{};
  want.lfCharSet = charset;
  wcsncpy(want.lfFaceName, name, LF_FACESIZE - 1);
  bool found = false;
  EnumFontFamiliesExW(screen, &want, OnFamily, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, screen);
  return found;
}

// The first of the names that the system has, for GDI+ (which, unlike GDI, links no fonts:
// the family itself must have the glyphs).
std::wstring PickFamily(std::initializer_list<const wchar_t*> names, BYTE charset) {
  for (const wchar_t* name : names)
    if (FamilyInstalled(name, charset)) return name;
  return {};
}

// The logo's and the badge's Latin lettering: a bold sans, as Qt's "Sans".
const std::wstring& SansFamily() {
  static const std::wstring name = PickFamily({L"Segoe UI", L"Tahoma", L"Arial", L"DejaVu Sans",
                                               L"Liberation Sans", L"Microsoft Sans Serif"},
                                              DEFAULT_CHARSET);
  return name;
}

// Chinese lettering, Traditional or Simplified first: the Windows UI fonts, then what a
// Linux system (Wine) has.
const std::wstring& CjkFamily(bool traditional) {
  static const std::wstring hant = PickFamily(
      {L"Microsoft JhengHei UI", L"Microsoft JhengHei", L"PMingLiU", L"MingLiU",
       L"Microsoft YaHei UI", L"Microsoft YaHei", L"WenQuanYi Micro Hei", L"WenQuanYi Zen Hei",
       L"Noto Sans CJK TC", L"Noto Sans CJK SC", L"Droid Sans Fallback", L"SimSun"},
      CHINESEBIG5_CHARSET);
  static const std::wstring hans = PickFamily(
      {L"Microsoft YaHei UI", L"Microsoft YaHei", L"SimHei", L"SimSun", L"WenQuanYi Micro Hei",
       L"WenQuanYi Zen Hei", L"Noto Sans CJK SC", L"Noto Sans CJK TC", L"Droid Sans Fallback",
       L"Microsoft JhengHei UI", L"Microsoft JhengHei"},
      GB2312_CHARSET);
  return traditional ? hant : hans;
}

std::unique_ptr<Gdiplus::FontFamily> MakeFamily(const std::wstring& name) {
  if (!name.empty()) {
    auto family = std::make_unique<Gdiplus::FontFamily>(name.c_str());
    if (family->IsAvailable()) return family;
  }
  auto family =
      std::unique_ptr<Gdiplus::FontFamily>(Gdiplus::FontFamily::GenericSansSerif()->Clone());
  return family;
}

// Ascent plus descent in pixels, as QFontMetricsF::height() (no line gap).
REAL TextHeight(const Gdiplus::FontFamily& family, int style, REAL pixels) {
  const REAL em = family.GetEmHeight(style);
  if (em <= 0) return pixels;
  return pixels * REAL(family.GetCellAscent(style) + family.GetCellDescent(style)) / em;
}

enum class HAlign { Left, Centre };
enum class VAlign { Top, Centre, Bottom };

// QPainter::drawText(rect, alignment, text) with QFont's percentage letter spacing: each
// character's advance is stretched by spacing.
void PaintText(Gdiplus::Graphics& g, const std::wstring& text, const std::wstring& familyName,
               int style, REAL pixels, REAL spacing, Color colour, RectF box, HAlign h, VAlign v) {
  if (pixels <= 0) return;
  const auto family = MakeFamily(familyName);
  Gdiplus::Font font(family.get(), pixels, style, Gdiplus::UnitPixel);
  if (font.GetLastStatus() != Gdiplus::Ok) return;
  Gdiplus::StringFormat format(Gdiplus::StringFormat::GenericTypographic());
  format.SetFormatFlags(format.GetFormatFlags() | Gdiplus::StringFormatFlagsMeasureTrailingSpaces |
                        Gdiplus::StringFormatFlagsNoWrap | Gdiplus::StringFormatFlagsNoClip);
  // Each character's advance.
  std::vector<REAL> advances;
  REAL total = 0;
  for (wchar_t c : text) {
    RectF bounds;
    g.MeasureString(&c, 1, &font, PointF(0, 0), &format, &bounds);
    const REAL advance = bounds.Width * spacing;
    advances.push_back(advance);
    total += advance;
  }
  if (!advances.empty()) total -= advances.back() * (spacing - 1) / spacing;
  const REAL height = TextHeight(*family, style, pixels);
  REAL x = h == HAlign::Left ? box.X : box.X + (box.Width - total) / 2;
  const REAL y = v == VAlign::Top      ? box.Y
                 : v == VAlign::Bottom ? box.Y + box.Height - height
                                       : box.Y + (box.Height - height) / 2;
  SolidBrush ink(colour);
  if (spacing == 1) {
    g.DrawString(text.c_str(), INT(text.size()), &font, PointF(x, y), &format, &ink);
    return;
  }
  for (size_t i = 0; i < text.size(); ++i) {
    g.DrawString(&text[i], 1, &font, PointF(x, y), &format, &ink);
    x += advances[i];
  }
}

// --- Colours as QColor::lighter / darker (by way of HSV, 16-bit channels) ------------------

struct Hsv {
  double h, s, v;  // h in degrees (-1 for grey), s and v 0..65535
};

Hsv ToHsv(COLORREF c) {
  const double r = GetRValue(c) / 255.0, g = GetGValue(c) / 255.0, b = GetBValue(c) / 255.0;
  const double max = std::max({r, g, b}), min = std::min({r, g, b}), delta = max - min;
  Hsv out{-1, 0, max * 65535};
  if (delta > 0 && max > 0) {
    out.s = delta / max * 65535;
    double hue;
    if (r == max)
      hue = (g - b) / delta;
    else if (g == max)
      hue = 2 + (b - r) / delta;
    else
      hue = 4 + (r - g) / delta;
    hue *= 60;
    if (hue < 0) hue += 360;
    out.h = hue;
  }
  return out;
}

Color FromHsv(Hsv c) {
  const double v = c.v / 65535, s = c.s / 65535;
  double r = v, g = v, b = v;
  if (c.h >= 0 && s > 0) {
    const double h = std::fmod(c.h, 360) / 60;
    const int i = int(h);
    const double f = h - i, p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    switch (i) {
      case 0:
        r = v, g = t, b = p;
        break;
      case 1:
        r = q, g = v, b = p;
        break;
      case 2:
        r = p, g = v, b = t;
        break;
      case 3:
        r = p, g = q, b = v;
        break;
      case 4:
        r = t, g = p, b = v;
        break;
      default:
        r = v, g = p, b = q;
        break;
    }
  }
  auto byte = [](double x) { return BYTE(std::lround(std::clamp(x, 0.0, 1.0) * 255)); };
  return Color(byte(r), byte(g), byte(b));
}

Color Lighter(COLORREF c, int factor) {
  Hsv hsv = ToHsv(c);
  hsv.v = hsv.v * factor / 100;
  if (hsv.v > 65535) {
    hsv.s = std::max(0.0, hsv.s - (hsv.v - 65535));
    hsv.v = 65535;
  }
  return FromHsv(hsv);
}

Color Darker(COLORREF c, int factor) {
  Hsv hsv = ToHsv(c);
  hsv.v = hsv.v * 100 / factor;
  return FromHsv(hsv);
}

}  // namespace

// --- The pictures ----------------------------------------------------------------------------

void PaintLogo(HDC dc, const RECT& r) {
  Canvas c(dc, r);
  if (!c) return;
  const REAL w = c.width(), h = c.height();
  LogoMark(c.g(), h, 2.5f);
  PaintText(c.g(), L"KORVEL", SansFamily(), Gdiplus::FontStyleBold, REAL(int(h * 0.42f)), 1.08f,
            kInk, RectF(h * 0.9f, 0, w - h * 0.9f, h * 0.7f), HAlign::Left, VAlign::Bottom);
  PaintText(c.g(), L"2.4GHz RF SoC", SansFamily(), Gdiplus::FontStyleRegular, REAL(int(h * 0.17f)),
            1, kAccent, RectF(h * 0.92f, h * 0.7f, w - h * 0.9f, h * 0.3f), HAlign::Left,
            VAlign::Top);
}

void PaintNoDevice(HDC dc, const RECT& r) {
  Canvas c(dc, r);
  if (!c) return;
  const RectF box(4, 4, c.width() - 8, c.height() - 8);
  Dongle(c.g(), box, Color(0xE4, 0xE4, 0xE4));
  Pen pen(Color(0xC0, 0x30, 0x30), 3);
  QtPen(pen, Gdiplus::LineCapRound);
  const RectF x(box.X + box.Width - box.Width * 0.35f, box.Y, box.Width * 0.3f, box.Width * 0.3f);
  c->DrawLine(&pen, PointF(x.X, x.Y), PointF(x.X + x.Width, x.Y + x.Height));
  c->DrawLine(&pen, PointF(x.X + x.Width, x.Y), PointF(x.X, x.Y + x.Height));
}

namespace {
// Dongle and mouse with waves between them: ConnectedPicture and BindFrames.
void Linked(Canvas& c, Color body, Color wave, int waves, REAL first, REAL step) {
  const REAL w = c.width(), h = c.height();
  Dongle(c.g(), RectF(2, h * 0.45f, w * 0.45f, h * 0.5f), body);
  Mouse(c.g(), RectF(w * 0.62f, h * 0.3f, w * 0.32f, h * 0.6f), body);
  Pen pen(wave, 2.5f);
  QtPen(pen, Gdiplus::LineCapRound);
  for (int i = 0; i < waves; ++i) {
    const REAL radius = h * (first + step * REAL(i));
    DrawQtArc(c.g(), pen, RectF(w * 0.5f - radius, h * 0.28f - radius, 2 * radius, 2 * radius), 30,
              120);
  }
}
}  // namespace

void PaintConnected(HDC dc, const RECT& r) {
  Canvas c(dc, r);
  if (!c) return;
  Linked(c, Color(0xD8, 0xE8, 0xF8), Color(0x20, 0xA0, 0x40), 2, 0.12f, 0.1f);
}

void PaintBindFrame(HDC dc, const RECT& r, int frame) {
  Canvas c(dc, r);
  if (!c) return;
  frame = std::clamp(frame, 0, kBindFrames - 1);
  Linked(c, Color(0xFF, 0xF0, 0xC8), Color(0xE0, 0x90, 0x10), frame, 0.08f, 0.08f);
}

void PaintLanguageBadge(HDC dc, const RECT& r, int index) {
  // Labelled badges rather than national flags: unambiguous for every operator.
  static const struct {
    const wchar_t* text;
    Color colour;
  } badges[kLanguageBadges] = {{L"EN", Color(0x1E, 0x4F, 0x9C)},
                               {L"\u7E41", Color(0xB0, 0x2A, 0x2A)},   // 繁
                               {L"\u7B80", Color(0xD2, 0x6A, 0x10)}};  // 简
  if (index < 0 || index >= kLanguageBadges) return;
  Canvas c(dc, r);
  if (!c) return;
  c->ScaleTransform(c.width() / 32, c.height() / 20);
  SolidBrush fill(badges[index].colour);
  DrawRoundedRect(c.g(), nullptr, &fill, RectF(0.5f, 0.5f, 31, 19), 3, 3);
  const std::wstring& family = index == 0 ? SansFamily() : CjkFamily(/*traditional=*/index == 1);
  PaintText(c.g(), badges[index].text, family, Gdiplus::FontStyleBold, 13, 1, Color(255, 255, 255),
            RectF(0, 0, 32, 20), HAlign::Centre, VAlign::Centre);
}

void PaintGlobe(HDC dc, const RECT& r) {
  Canvas c(dc, r);
  if (!c) return;
  const RectF box(3, 3, c.width() - 6, c.height() - 6);
  const REAL cx = box.X + box.Width / 2, cy = box.Y + box.Height / 2;
  Pen pen(kAccent, 2);
  QtPen(pen);
  SolidBrush sea(Color(0xE8, 0xF1, 0xFB));
  c->FillEllipse(&sea, box);
  c->DrawEllipse(&pen, box);
  const RectF meridian(cx - box.Width / 4, box.Y, box.Width / 2, box.Height);
  c->FillEllipse(&sea, meridian);
  c->DrawEllipse(&pen, meridian);
  c->DrawLine(&pen, PointF(box.X, cy), PointF(box.X + box.Width, cy));
  c->DrawLine(&pen, PointF(cx, box.Y), PointF(cx, box.Y + box.Height));
}

void PaintLamp(HDC dc, const RECT& r, bool lit, COLORREF on, COLORREF off) {
  Canvas c(dc, r);
  if (!c) return;
  const COLORREF colour = lit ? on : off;
  const RectF box(1, 1, c.width() - 2, c.height() - 2);
  GraphicsPath shape;
  RoundedRect(shape, box, 3, 3);
  // QRadialGradient(centre - (w/5, h/5), radius w): lighter(160) at the centre, darker(130)
  // at the radius and beyond.
  const Color inner = Lighter(colour, 160), outer = Darker(colour, 130);
  SolidBrush pad(outer);
  c->FillPath(&pad, &shape);
  const PointF centre(box.X + box.Width / 2 - box.Width / 5,
                      box.Y + box.Height / 2 - box.Height / 5);
  const REAL radius = box.Width;
  GraphicsPath disc;
  disc.AddEllipse(centre.X - radius, centre.Y - radius, 2 * radius, 2 * radius);
  Gdiplus::PathGradientBrush glow(&disc);
  glow.SetCenterPoint(centre);
  glow.SetCenterColor(inner);
  Color surround = outer;
  INT count = 1;
  glow.SetSurroundColors(&surround, &count);
  c->SetClip(&shape);
  c->FillPath(&glow, &disc);
  c->ResetClip();
  Pen border(Color(96, 96, 96), 1);
  QtPen(border);
  c->DrawPath(&border, &shape);
}

// --- GDI+ ------------------------------------------------------------------------------------

GdiplusSession::GdiplusSession() {
  Gdiplus::GdiplusStartupInput input;
  status_ = int(Gdiplus::GdiplusStartup(&token_, &input, nullptr));
}

GdiplusSession::~GdiplusSession() {
  if (status_ == 0) Gdiplus::GdiplusShutdown(token_);
}

}  // namespace korvel::win32
