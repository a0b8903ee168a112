// The demo's second window on Windows (the Qt build has EmulatorPanel): plays the operator's
// hands on the emulated dongle and mouse. Plain Win32, wide APIs only; it runs on the
// program's own message loop.
//
// A driver in another process finds the window by its class and its controls by their IDs.
// It changes a box with BM_SETCHECK and then posts WM_COMMAND(MAKEWPARAM(id, BN_CLICKED),
// box), the battery with CB_SETCURSEL and then WM_COMMAND(MAKEWPARAM(id, CBN_SELCHANGE),
// combo): the panel applies the control's state as it finds it then, as it does for a click.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "EmulatedHid.h"
#include "EmulatedRx.h"
#include "platform/Host.h"

namespace korvel::win32 {

inline constexpr const wchar_t* kEmulatorPanelClass = L"KorvelRfEmulator";
inline constexpr const wchar_t* kEmulatorPanelTitle = L"Emulated dongle and mouse";

// Control IDs (the Qt panel's object names in brackets).
inline constexpr int kEmuRxPlugged = 2001;  // check box (chkRxPlugged)
inline constexpr int kEmuTxPowered = 2002;  // check box (chkTxPowered)
inline constexpr int kEmuTxInRange = 2003;  // check box (chkTxInRange)
inline constexpr int kEmuRadio = 2004;      // check box (chkRadio)
inline constexpr int kEmuBindMode = 2005;   // check box (chkBindMode)
inline constexpr int kEmuBattery = 2006;    // drop-down list, items "0" .. "15" (cbbBattery)
inline constexpr int kEmuStatus = 2007;     // static text (lblEmulatorStatus)

// How often the status line is refreshed.
inline constexpr unsigned kEmulatorRefreshMs = 500;

// The status line, as the Qt panel writes it: "Link: up   RX address 92 34 56\n
// Reports in/out: 12 / 11   open handles: 1" (one line break, "\n").
std::string EmulatorStatusText(const EmulatedRx& rx, const EmulatedHidPlatform& platform);

class EmulatorPanelWindow {
 public:
  // Creates the window, hidden, owned by `owner` (may be null) and beside nothing yet; font
  // null: the default GUI font. The RX must have its TX (SetTx) before this. The window is
  // not created when the class cannot be registered or the window made: Handle() is null.
  EmulatorPanelWindow(HINSTANCE instance, Host& host, EmulatedHidPlatform& platform,
                      std::shared_ptr<EmulatedRx> rx, HWND owner, HFONT font = nullptr);
  // Destroys the window if it is still there (destroying its owner destroys it first).
  ~EmulatorPanelWindow();
  EmulatorPanelWindow(const EmulatorPanelWindow&) = delete;
  EmulatorPanelWindow& operator=(const EmulatorPanelWindow&) = delete;

  HWND Handle() const { return hwnd_; }
  // Puts the window to the right of `main`'s frame, top edges level (12 px apart, as the Qt
  // demo does); to its left, or at the screen's edge, when the right has no room.
  void MoveBeside(HWND main);
  // Shows the window without taking the focus from the main window.
  void Show();
  // Rewrites the status line now (the timer does it every kEmulatorRefreshMs).
  void Refresh();

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls(HINSTANCE instance);
  void OnCommand(int id, int code, HWND control);
  HWND Control(int id) const { return GetDlgItem(hwnd_, id); }

  Host& host_;
  EmulatedHidPlatform& platform_;
  std::shared_ptr<EmulatedRx> rx_;
  HFONT font_;
  HWND hwnd_ = nullptr;
};

}  // namespace korvel::win32
