#include "ui/win32/Controls.h"

#include <commctrl.h>

#include "ui/HexField.h"
#include "ui/win32/Pictures.h"
#include "ui/win32/Wide.h"

namespace korvel::win32 {

int DpiOf(HWND window) {
  // Bound at run time: Windows 7 and 8 have no per-window DPI.
  using DpiForWindow = UINT(WINAPI*)(HWND);
  static const auto forWindow = reinterpret_cast<DpiForWindow>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (forWindow && window) {
    if (const UINT dpi = forWindow(window)) return int(dpi);
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

Fonts::~Fonts() {
  Free();
}

void Fonts::Free() {
  for (HFONT& font : fonts_) {
    if (font) DeleteObject(font);
    font = nullptr;
  }
}

void Fonts::Make(int dpi) {
  Free();
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  LOGFONTW base = metrics.lfMessageFont;
  // The system gives the message font at the primary screen's DPI; the window's may differ.
  const int systemDpi = DpiOf(nullptr);
  base.lfHeight = MulDiv(base.lfHeight, dpi, systemDpi);
  base.lfQuality = CLEARTYPE_QUALITY;
  auto points = [&](int pt, bool bold) {
    LOGFONTW f = base;
    f.lfHeight = -MulDiv(pt, dpi, 72);
    f.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    return CreateFontIndirectW(&f);
  };
  fonts_[int(FontSize::Normal)] = CreateFontIndirectW(&base);
  fonts_[int(FontSize::Small)] = points(8, false);
  fonts_[int(FontSize::Large)] = points(18, true);
  fonts_[int(FontSize::Huge)] = points(34, true);
  LOGFONTW fixed{};
  fixed.lfHeight = -MulDiv(9, dpi, 72);
  fixed.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  fixed.lfQuality = CLEARTYPE_QUALITY;
  wcscpy_s(fixed.lfFaceName, L"Consolas");
  fonts_[int(FontSize::Fixed)] = CreateFontIndirectW(&fixed);
}

namespace {
LRESULT CALLBACK HexFilterProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                               DWORD_PTR) {
  if (message == WM_CHAR && wParam >= 0x20 && wParam != 0x7F && !HexFilterAccepts(char32_t(wParam)))
    return 0;
  if (message == WM_NCDESTROY) RemoveWindowSubclass(edit, HexFilterProc, id);
  return DefSubclassProc(edit, message, wParam, lParam);
}
}  // namespace

void FilterHex(HWND edit) {
  SetWindowSubclass(edit, HexFilterProc, 1, 0);
}

void DrawImageItem(const DRAWITEMSTRUCT& item, int dpi) {
  HDC dc = item.hDC;
  const bool selected = (item.itemState & ODS_SELECTED) && !(item.itemState & ODS_COMBOBOXEDIT);
  FillRect(dc, &item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  if (item.itemID == UINT(-1)) return;
  wchar_t text[256] = {};
  if (SendMessageW(item.hwndItem, CB_GETLBTEXTLEN, item.itemID, 0) < 255)
    SendMessageW(item.hwndItem, CB_GETLBTEXT, item.itemID, LPARAM(text));
  const ImageItem parsed = ParseImageItem(Narrow(text));
  const int badgeW = Scaled(32, dpi), badgeH = Scaled(20, dpi);
  RECT badge{item.rcItem.left + Scaled(2, dpi), 0, 0, 0};
  badge.top = item.rcItem.top + (item.rcItem.bottom - item.rcItem.top - badgeH) / 2;
  badge.right = badge.left + badgeW;
  badge.bottom = badge.top + badgeH;
  if (parsed.imageIndex >= 0 && parsed.imageIndex < 3)
    PaintLanguageBadge(dc, badge, parsed.imageIndex);
  RECT rest = item.rcItem;
  rest.left = badge.right + Scaled(4, dpi);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  const std::wstring caption = Wide(parsed.caption);
  DrawTextW(dc, caption.c_str(), int(caption.size()), &rest,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT))
    DrawFocusRect(dc, &item.rcItem);
}

int TextPixels(HWND window, HFONT font, const std::wstring& text) {
  HDC dc = GetDC(window);
  const HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return size.cx;
}

}  // namespace korvel::win32
