// The window's pictures for the Win32 window, drawn at run time with GDI+ (anti-aliased), the
// same drawings in the same proportions and colours as the Qt window's (ui/qt/Pictures.cpp,
// ui/qt/hhALed.cpp), so the two windows look alike. Each function paints over a background
// the caller has already filled, inside r (r's size plays the part of the Qt picture's size).
// GDI+ must be running: see GdiplusSession.
#pragma once

#include <windows.h>

namespace korvel::win32 {

// The logo: the radio mark and "KORVEL" over "2.4GHz RF SoC".
void PaintLogo(HDC dc, const RECT& r);
// No dongle: a grey dongle with a red cross.
void PaintNoDevice(HDC dc, const RECT& r);
// Dongle and mouse linked: two green waves.
void PaintConnected(HDC dc, const RECT& r);
// Frames of the "binding" animation: frame 0 has no wave, frame n has n amber waves.
inline constexpr int kBindFrames = 4;
void PaintBindFrame(HDC dc, const RECT& r, int frame);
// The language list's badges: 0 "EN", 1 "繁" (Traditional), 2 "简" (Simplified). Designed at
// 32x20; another size scales the design.
inline constexpr int kLanguageBadges = 3;
void PaintLanguageBadge(HDC dc, const RECT& r, int index);
// The picture of the language dialog.
void PaintGlobe(HDC dc, const RECT& r);

// ThhALed's colours (ui/qt/hhALed.h): TrueColor Qt::green, FalseColor (192, 192, 192).
inline constexpr COLORREF kLampOn = RGB(0, 255, 0);
inline constexpr COLORREF kLampOff = RGB(192, 192, 192);
// The lamp as ThhALed draws its square styles (LEDSqSmall 16x16, LEDSqLarge 22x22), bordered:
// a rounded square 1 px inside r, a radial glow from lighter (upper left) to darker.
void PaintLamp(HDC dc, const RECT& r, bool lit, COLORREF on = kLampOn, COLORREF off = kLampOff);

// GDI+ started for the life of the object; the program holds one in main, before any window
// paints, and destroys it after the last window is gone. Without it the Paint functions
// draw nothing.
class GdiplusSession {
 public:
  GdiplusSession();
  ~GdiplusSession();
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  // Whether GdiplusStartup succeeded; status() is its Gdiplus::Status (0 is Ok).
  bool ok() const { return status_ == 0; }
  int status() const { return status_; }

 private:
  ULONG_PTR token_ = 0;
  int status_ = -1;
};

}  // namespace korvel::win32
