// A picture of a window, as the screen shows it, saved as a PNG file (GDI+'s encoder).
#pragma once

#include <windows.h>

#include <string>

namespace korvel::win32 {

// Saves what the window shows, its frame (if it has one) and its child controls included, as
// a PNG of the window's size at path. Renders with PrintWindow(PW_RENDERFULLCONTENT), else
// PrintWindow, else copies the window's pixels from its window DC (always so under Wine, whose
// PrintWindow leaves out the controls and the frame; there the frame is only in the picture
// when Wine draws it, not an X window manager). On failure returns false
// and error names the step that failed with its GetLastError code or Gdiplus::Status.
// GDI+ must be running (GdiplusSession).
bool SaveWindowPng(HWND window, const std::wstring& path, std::wstring& error);

}  // namespace korvel::win32
