#include "ui/win32/PngFile.h"

#include <objidl.h>
// objidl.h first: gdiplus.h needs IStream.
#include <gdiplus.h>

#include <memory>
#include <vector>

#ifndef PW_RENDERFULLCONTENT
#define PW_RENDERFULLCONTENT 0x00000002
#endif

namespace korvel::win32 {

namespace {

std::wstring Failed(const wchar_t* step, DWORD code) {
  return std::wstring(step) + L" failed (GetLastError " + std::to_wstring(code) + L")";
}

std::wstring FailedGdiplus(const wchar_t* step, Gdiplus::Status status) {
  return std::wstring(step) + L" failed (Gdiplus::Status " + std::to_wstring(int(status)) + L")";
}

// The CLSID of GDI+'s encoder for the MIME type.
bool EncoderClsid(const wchar_t* mime, CLSID& clsid, std::wstring& error) {
  UINT count = 0, bytes = 0;
  Gdiplus::Status status = Gdiplus::GetImageEncodersSize(&count, &bytes);
  if (status != Gdiplus::Ok) {
    error = FailedGdiplus(L"GetImageEncodersSize", status);
    return false;
  }
  if (count == 0 || bytes == 0) {
    error = L"GetImageEncodersSize: GDI+ has no image encoders (is GDI+ started?)";
    return false;
  }
  std::vector<BYTE> buffer(bytes);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  status = Gdiplus::GetImageEncoders(count, bytes, codecs);
  if (status != Gdiplus::Ok) {
    error = FailedGdiplus(L"GetImageEncoders", status);
    return false;
  }
  for (UINT i = 0; i < count; ++i) {
    if (codecs[i].MimeType && wcscmp(codecs[i].MimeType, mime) == 0) {
      clsid = codecs[i].Clsid;
      return true;
    }
  }
  error = std::wstring(L"GetImageEncoders: no encoder for ") + mime;
  return false;
}

// A memory DC holding a top-down 32-bit DIB of the window's size.
struct Snapshot {
  HDC dc = nullptr;
  HBITMAP dib = nullptr;
  HGDIOBJ old = nullptr;
  void* bits = nullptr;
  ~Snapshot() {
    if (dc) {
      if (old) SelectObject(dc, old);
      DeleteDC(dc);
    }
    if (dib) DeleteObject(dib);
  }
};

struct WindowDc {
  HWND window;
  HDC dc;
  ~WindowDc() {
    if (dc) ReleaseDC(window, dc);
  }
};

// Wine's PrintWindow sends WM_PRINT, whose DefWindowProc draws neither the child windows
// (they come out black) nor the frame. Its window DC, though, reads the window's pixels as
// Wine drew them, frame (when Wine draws it) and controls included: so under Wine, that.
bool OnWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

}  // namespace

bool SaveWindowPng(HWND window, const std::wstring& path, std::wstring& error) {
  error.clear();
  if (!IsWindow(window)) {
    error = L"IsWindow: not a window";
    return false;
  }
  RECT frame;
  if (!GetWindowRect(window, &frame)) {
    error = Failed(L"GetWindowRect", GetLastError());
    return false;
  }
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  if (width <= 0 || height <= 0) {
    error = L"GetWindowRect: the window has no area (" + std::to_wstring(width) + L"x" +
            std::to_wstring(height) + L")";
    return false;
  }
  // Whatever is waiting to be painted first.
  RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);

  WindowDc source{window, GetWindowDC(window)};
  if (!source.dc) {
    error = Failed(L"GetWindowDC", GetLastError());
    return false;
  }
  Snapshot shot;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  shot.dib = CreateDIBSection(source.dc, &info, DIB_RGB_COLORS, &shot.bits, nullptr, 0);
  if (!shot.dib || !shot.bits) {
    error = Failed(L"CreateDIBSection", GetLastError());
    return false;
  }
  shot.dc = CreateCompatibleDC(source.dc);
  if (!shot.dc) {
    error = Failed(L"CreateCompatibleDC", GetLastError());
    return false;
  }
  shot.old = SelectObject(shot.dc, shot.dib);

  bool copied = false;
  DWORD printError = 0;
  if (!OnWine()) {
    // PW_RENDERFULLCONTENT (Windows 8.1 on) also gets DirectComposition and layered content;
    // older systems refuse the flag, so then the plain call.
    copied = PrintWindow(window, shot.dc, PW_RENDERFULLCONTENT) || PrintWindow(window, shot.dc, 0);
    if (!copied) printError = GetLastError();
  }
  if (!copied && !BitBlt(shot.dc, 0, 0, width, height, source.dc, 0, 0, SRCCOPY | CAPTUREBLT)) {
    const DWORD code = GetLastError();
    error = printError ? L"PrintWindow failed (GetLastError " + std::to_wstring(printError) +
                             L"), then " + Failed(L"BitBlt", code)
                       : Failed(L"BitBlt", code);
    return false;
  }
  GdiFlush();

  CLSID png;
  if (!EncoderClsid(L"image/png", png, error)) return false;
  Gdiplus::Bitmap bitmap(width, height, width * 4, PixelFormat32bppRGB,
                         static_cast<BYTE*>(shot.bits));
  if (bitmap.GetLastStatus() != Gdiplus::Ok) {
    error = FailedGdiplus(L"Gdiplus::Bitmap", bitmap.GetLastStatus());
    return false;
  }
  const Gdiplus::Status saved = bitmap.Save(path.c_str(), &png, nullptr);
  if (saved != Gdiplus::Ok) {
    error = FailedGdiplus(L"Gdiplus::Bitmap::Save", saved);
    if (saved == Gdiplus::Win32Error)
      error += L" (GetLastError " + std::to_wstring(GetLastError()) + L")";
    return false;
  }
  return true;
}

}  // namespace korvel::win32
