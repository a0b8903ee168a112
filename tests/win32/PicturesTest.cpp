// The Win32 window's pictures (GDI+) and its window-to-PNG saving. The pictures are painted on
// a memory bitmap, so they need no display; saving a window needs one (Wine inside Xvfb, or
// Windows): without one that test is skipped.
#include <gtest/gtest.h>
#include <objidl.h>
#include <windows.h>

// After windows.h and objidl.h (IStream).
#include <gdiplus.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ui/win32/Pictures.h"
#include "ui/win32/PngFile.h"

namespace korvel::win32 {
namespace {

// GDI+ for the whole test program, as the window's main holds it.
class GdiplusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    session_ = new GdiplusSession;
    ASSERT_TRUE(session_->ok()) << "GdiplusStartup status " << session_->status();
  }
  void TearDown() override { delete session_; }

 private:
  GdiplusSession* session_ = nullptr;
};
const auto* const kGdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

// A w x h memory bitmap filled with a background, its pixels readable after painting.
class Surface {
 public:
  Surface(int w, int h, COLORREF background) : w_(w), h_(h) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    dib_ =
        CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    old_ = SelectObject(dc_, dib_);
    HBRUSH brush = CreateSolidBrush(background);
    RECT all{0, 0, w, h};
    FillRect(dc_, &all, brush);
    DeleteObject(brush);
  }
  ~Surface() {
    SelectObject(dc_, old_);
    DeleteObject(dib_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  RECT rect() const { return {0, 0, w_, h_}; }
  COLORREF At(int x, int y) const {
    GdiFlush();
    const DWORD p = bits_[y * w_ + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
  int Differing(COLORREF background) const {
    int n = 0;
    for (int y = 0; y < h_; ++y)
      for (int x = 0; x < w_; ++x) n += At(x, y) != background;
    return n;
  }
  // Pixels within tolerance of a colour.
  int Near(COLORREF c, int tolerance = 24) const {
    int n = 0;
    for (int y = 0; y < h_; ++y)
      for (int x = 0; x < w_; ++x) {
        const COLORREF p = At(x, y);
        n += std::abs(GetRValue(p) - GetRValue(c)) <= tolerance &&
             std::abs(GetGValue(p) - GetGValue(c)) <= tolerance &&
             std::abs(GetBValue(p) - GetBValue(c)) <= tolerance;
      }
    return n;
  }

 private:
  int w_, h_;
  HDC dc_ = nullptr;
  HBITMAP dib_ = nullptr;
  HGDIOBJ old_ = nullptr;
  DWORD* bits_ = nullptr;
};

const COLORREF kBackground = RGB(0xF0, 0xF0, 0xF0);

TEST(Win32Pictures, LogoHasTheMarkAndTheName) {
  Surface s(270, 66, kBackground);
  PaintLogo(s.dc(), s.rect());
  EXPECT_GT(s.Near(RGB(0x1E, 0x6F, 0xC8)), 50);   // the radio mark, the subtitle
  EXPECT_GT(s.Near(RGB(0x30, 0x3A, 0x48)), 100);  // "KORVEL"
  // The dot of the mark at (0.42h, 0.5h).
  EXPECT_EQ(s.At(28, 33), RGB(0x1E, 0x6F, 0xC8));
}

TEST(Win32Pictures, StatePicturesDiffer) {
  Surface none(64, 48, kBackground), linked(64, 48, kBackground);
  PaintNoDevice(none.dc(), none.rect());
  PaintConnected(linked.dc(), linked.rect());
  EXPECT_GT(none.Near(RGB(0xC0, 0x30, 0x30)), 10);    // the red cross
  EXPECT_GT(linked.Near(RGB(0x20, 0xA0, 0x40)), 10);  // the green waves
  EXPECT_EQ(linked.Near(RGB(0xC0, 0x30, 0x30), 10), 0);
}

TEST(Win32Pictures, BindFramesGrowWaveByWave) {
  int previous = -1;
  for (int frame = 0; frame < kBindFrames; ++frame) {
    Surface s(64, 48, kBackground);
    PaintBindFrame(s.dc(), s.rect(), frame);
    const int waves = s.Near(RGB(0xE0, 0x90, 0x10), 30);
    if (frame == 0)
      EXPECT_EQ(waves, 0);
    else
      EXPECT_GT(waves, previous) << "frame " << frame;
    previous = waves;
  }
}

TEST(Win32Pictures, LanguageBadgesHaveTheirColourAndWhiteLettering) {
  const COLORREF colours[] = {RGB(0x1E, 0x4F, 0x9C), RGB(0xB0, 0x2A, 0x2A), RGB(0xD2, 0x6A, 0x10)};
  for (int i = 0; i < 3; ++i) {
    Surface s(32, 20, kBackground);
    PaintLanguageBadge(s.dc(), s.rect(), i);
    EXPECT_EQ(s.At(2, 10), colours[i]) << "badge " << i;
    // The letters: some near-white pixels in the middle (a font with the glyph was found).
    EXPECT_GT(s.Near(RGB(255, 255, 255), 40), 8) << "badge " << i;
  }
  // Real glyphs, not two alike missing-glyph boxes: 繁 has many more strokes than 简.
  Surface traditional(32, 20, kBackground), simplified(32, 20, kBackground);
  PaintLanguageBadge(traditional.dc(), traditional.rect(), 1);
  PaintLanguageBadge(simplified.dc(), simplified.rect(), 2);
  EXPECT_GT(traditional.Near(RGB(255, 255, 255), 60), simplified.Near(RGB(255, 255, 255), 60) + 5);
}

TEST(Win32Pictures, Globe) {
  Surface s(32, 32, kBackground);
  PaintGlobe(s.dc(), s.rect());
  EXPECT_GT(s.Near(RGB(0x1E, 0x6F, 0xC8), 40), 30);
  EXPECT_GT(s.Near(RGB(0xE8, 0xF1, 0xFB), 8), 20);
}

TEST(Win32Pictures, LampLitAndUnlit) {
  Surface lit(16, 16, kBackground), unlit(16, 16, kBackground), red(22, 22, kBackground);
  PaintLamp(lit.dc(), lit.rect(), true);
  PaintLamp(unlit.dc(), unlit.rect(), false);
  PaintLamp(red.dc(), red.rect(), true, RGB(255, 0, 0));
  const COLORREF g = lit.At(8, 8), u = unlit.At(8, 8), r = red.At(11, 11);
  EXPECT_GT(GetGValue(g), 150);
  EXPECT_LT(GetRValue(g), GetGValue(g));
  EXPECT_EQ(GetRValue(u), GetGValue(u));  // grey
  EXPECT_GT(GetRValue(r), 150);
  EXPECT_LT(GetGValue(r), GetRValue(r));
  // The 1 px border straddles x = 1, as Qt's does; the rounded corner leaves the corner pixel.
  EXPECT_NE(lit.At(0, 8), kBackground);
  EXPECT_EQ(lit.At(0, 0), kBackground);
}

// --- SaveWindowPng ---

LRESULT CALLBACK DemoProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    RECT c;
    GetClientRect(w, &c);
    FillRect(dc, &c, GetSysColorBrush(COLOR_BTNFACE));
    RECT logo{10, 10, 280, 76};
    PaintLogo(dc, logo);
    RECT lamp{10, 90, 26, 106};
    PaintLamp(dc, lamp, true);
    EndPaint(w, &ps);
    return 0;
  }
  return DefWindowProcW(w, m, wp, lp);
}

struct PngHeader {
  bool ok = false;
  unsigned width = 0, height = 0;
};

PngHeader ReadPngHeader(const std::wstring& path) {
  PngHeader h;
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) return h;
  unsigned char b[24] = {};
  const size_t n = fread(b, 1, sizeof b, f);
  fclose(f);
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (n != sizeof b || memcmp(b, kSignature, 8) != 0 || memcmp(b + 12, "IHDR", 4) != 0) return h;
  auto be = [&](int at) {
    return unsigned(b[at]) << 24 | unsigned(b[at + 1]) << 16 | unsigned(b[at + 2]) << 8 | b[at + 3];
  };
  h.ok = true;
  h.width = be(16);
  h.height = be(20);
  return h;
}

TEST(Win32PngFile, SavesTheWindowAtItsSize) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DemoProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KorvelPicturesTest";
  RegisterClassW(&wc);
  HWND w = CreateWindowExW(0, wc.lpszClassName, L"Pictures test", WS_OVERLAPPEDWINDOW, 40, 40, 360,
                           200, nullptr, nullptr, wc.hInstance, nullptr);
  if (!w) GTEST_SKIP() << "no window (no display?): CreateWindowExW error " << GetLastError();
  CreateWindowW(L"BUTTON", L"Write", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 200, 20, 100, 28, w,
                nullptr, nullptr, nullptr);
  ShowWindow(w, SW_SHOWNOACTIVATE);
  UpdateWindow(w);
  MSG msg;
  const DWORD until = GetTickCount() + 300;
  while (GetTickCount() < until)
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);

  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  const std::wstring path = std::wstring(dir) + L"korvel-pictures-test.png";
  std::wstring error;
  ASSERT_TRUE(SaveWindowPng(w, path, error)) << std::string(error.begin(), error.end());
  RECT frame;
  GetWindowRect(w, &frame);
  POINT client{0, 0};
  ClientToScreen(w, &client);
  DestroyWindow(w);
  const PngHeader h = ReadPngHeader(path);
  ASSERT_TRUE(h.ok);
  EXPECT_EQ(h.width, unsigned(frame.right - frame.left));
  EXPECT_EQ(h.height, unsigned(frame.bottom - frame.top));
  {
    // What the window showed: the logo's dot at (10 + 0.42 * 66, 10 + 0.5 * 66) of the client
    // area, the lit lamp's middle green, the button's face unlike the black of a missing child.
    Gdiplus::Bitmap png(path.c_str());
    ASSERT_EQ(png.GetLastStatus(), Gdiplus::Ok);
    const int dx = client.x - frame.left, dy = client.y - frame.top;
    Gdiplus::Color dot, lamp, button;
    png.GetPixel(dx + 38, dy + 43, &dot);
    png.GetPixel(dx + 18, dy + 98, &lamp);
    png.GetPixel(dx + 205, dy + 24, &button);
    EXPECT_EQ(RGB(dot.GetR(), dot.GetG(), dot.GetB()), RGB(0x1E, 0x6F, 0xC8));
    EXPECT_GT(lamp.GetG(), 150);
    EXPECT_LT(lamp.GetR(), lamp.GetG());
    EXPECT_GT(button.GetR() + button.GetG() + button.GetB(), 3 * 96);
  }
  DeleteFileW(path.c_str());
}

TEST(Win32PngFile, NamesTheFailedStep) {
  std::wstring error;
  EXPECT_FALSE(SaveWindowPng(nullptr, L"x.png", error));
  EXPECT_NE(error.find(L"IsWindow"), std::wstring::npos);
}

}  // namespace
}  // namespace korvel::win32
