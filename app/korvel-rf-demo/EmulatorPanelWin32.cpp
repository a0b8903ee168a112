#include "EmulatorPanelWin32.h"

#include <algorithm>
#include <array>
#include <utility>

namespace korvel::win32 {

namespace {

constexpr UINT_PTR kRefreshTimer = 1;
constexpr int kMargin = 11;     // around the controls, as QFormLayout's default
constexpr int kRowGap = 6;      // between rows
constexpr int kLabelGap = 8;    // between the battery label and its list
constexpr int kBesideGap = 12;  // between the main window and the panel (the Qt demo's)

std::string Hex2(uint8_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(size_t(std::max(n, 0)), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), n);
  return wide;
}

struct Box {
  int id;
  const wchar_t* text;
};
// In the Qt panel's order.
constexpr std::array<Box, 5> kBoxes{{
    {kEmuRxPlugged, L"RX dongle plugged in"},
    {kEmuTxPowered, L"TX mouse powered"},
    {kEmuTxInRange, L"TX mouse in radio range"},
    {kEmuRadio, L"RX radio on (link possible)"},
    {kEmuBindMode, L"TX in bind mode (buttons held)"},
}};
constexpr const wchar_t* kBatteryLabel = L"Battery level (0 empty .. 15 full)";
constexpr int kBatteryLabelId = 2008;  // the label beside the list; nothing drives it

SIZE TextSize(HDC dc, const std::wstring& text) {
  SIZE size{0, 0};
  GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &size);
  return size;
}

}  // namespace

std::string EmulatorStatusText(const EmulatedRx& rx, const EmulatedHidPlatform& platform) {
  const EmulatedTx::Address& id = rx.ActiveAddress();
  return std::string("Link: ") + (rx.Linked() ? "up" : "down") + "   RX address " + Hex2(id[0]) +
         " " + Hex2(id[1]) + " " + Hex2(id[2]) +
         "\nReports in/out: " + std::to_string(rx.ReportsReceived()) + " / " +
         std::to_string(rx.ReportsFetched()) +
         "   open handles: " + std::to_string(platform.OpenHandleCount());
}

EmulatorPanelWindow::EmulatorPanelWindow(HINSTANCE instance, Host& host,
                                         EmulatedHidPlatform& platform,
                                         std::shared_ptr<EmulatedRx> rx, HWND owner, HFONT font)
    : host_(host),
      platform_(platform),
      rx_(std::move(rx)),
      font_(font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT))) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (!GetClassInfoExW(instance, kEmulatorPanelClass, &wc)) {
    wc = WNDCLASSEXW{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &EmulatorPanelWindow::WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kEmulatorPanelClass;
    if (!RegisterClassExW(&wc)) return;
  }
  // The size is set once the controls are measured.
  if (!CreateWindowExW(WS_EX_TOOLWINDOW, kEmulatorPanelClass, kEmulatorPanelTitle,
                       WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, CW_USEDEFAULT,
                       CW_USEDEFAULT, 320, 240, owner, nullptr, instance, this))
    return;
  CreateControls(instance);
  Refresh();
  SetTimer(hwnd_, kRefreshTimer, kEmulatorRefreshMs, nullptr);
}

EmulatorPanelWindow::~EmulatorPanelWindow() {
  if (hwnd_) DestroyWindow(hwnd_);
}

void EmulatorPanelWindow::CreateControls(HINSTANCE instance) {
  HDC dc = GetDC(hwnd_);
  HGDIOBJ old = SelectObject(dc, font_);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  const int line = tm.tmHeight;
  // The box and the gap before its text.
  const int boxWidth = GetSystemMetrics(SM_CXMENUCHECK) + 6;
  const int checkHeight = std::max(line + 4, GetSystemMetrics(SM_CYMENUCHECK) + 2);

  int width = 0;
  for (const Box& box : kBoxes) width = std::max<int>(width, boxWidth + TextSize(dc, box.text).cx);
  const SIZE label = TextSize(dc, kBatteryLabel);
  const int comboWidth = TextSize(dc, L"15").cx + GetSystemMetrics(SM_CXVSCROLL) + 16;
  width = std::max<int>(width, label.cx + kLabelGap + comboWidth);
  // Room for a long run's counters without the line wrapping.
  const int statusWidth = TextSize(dc, L"Reports in/out: 0000000 / 0000000   open handles: 00").cx;
  width = std::max(width, statusWidth);
  SelectObject(dc, old);
  ReleaseDC(hwnd_, dc);

  auto make = [&](DWORD exStyle, const wchar_t* cls, const wchar_t* text, DWORD style, int id,
                  int x, int y, int w, int h) {
    HWND control =
        CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, hwnd_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return control;
  };

  const EmulatedTx& tx = *rx_->Tx();
  const std::array<bool, 5> initial{rx_->Plugged(), tx.Powered(), tx.InRange(),
                                    true,  // the RX has no getter; the Qt panel starts on too
                                    tx.BindMode()};
  int y = kMargin;
  for (size_t i = 0; i < kBoxes.size(); ++i) {
    HWND box = make(0, L"BUTTON", kBoxes[i].text, BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP,
                    kBoxes[i].id, kMargin, y, width, checkHeight);
    SendMessageW(box, BM_SETCHECK, initial[i] ? BST_CHECKED : BST_UNCHECKED, 0);
    y += checkHeight + kRowGap;
  }

  // The list's height includes its dropped-down part: all 16 levels without a scroll bar.
  HWND combo = make(0, L"COMBOBOX", nullptr, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_GROUP,
                    kEmuBattery, kMargin + width - comboWidth, y, comboWidth, line * 18 + 8);
  for (int level = 0; level < 16; ++level)
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::to_wstring(level).c_str()));
  SendMessageW(combo, CB_SETCURSEL, tx.BatteryLevel(), 0);
  RECT comboRect{};
  GetWindowRect(combo, &comboRect);
  const int comboHeight = comboRect.bottom - comboRect.top;
  make(0, L"STATIC", kBatteryLabel, SS_LEFT | SS_NOPREFIX, kBatteryLabelId, kMargin,
       y + (comboHeight - line) / 2, width - comboWidth - kLabelGap, line);
  y += comboHeight + kRowGap;

  make(0, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kEmuStatus, kMargin, y, width, 2 * line + 2);
  y += 2 * line + 2 + kMargin;

  RECT frame{0, 0, width + 2 * kMargin, y};
  AdjustWindowRectEx(&frame, DWORD(GetWindowLongPtrW(hwnd_, GWL_STYLE)), FALSE,
                     DWORD(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)));
  SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void EmulatorPanelWindow::MoveBeside(HWND main) {
  if (!hwnd_ || !main) return;
  RECT beside{}, own{};
  GetWindowRect(main, &beside);
  GetWindowRect(hwnd_, &own);
  const int w = own.right - own.left, h = own.bottom - own.top;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(main, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& work = monitor.rcWork;
  int x = beside.right + kBesideGap;
  if (x + w > work.right) x = beside.left - kBesideGap - w;
  if (x < work.left) x = work.right - w;
  const int y = std::max<int>(work.top, std::min<int>(beside.top, work.bottom - h));
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void EmulatorPanelWindow::Show() {
  if (hwnd_) ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
}

void EmulatorPanelWindow::Refresh() {
  if (!hwnd_) return;
  HWND status = Control(kEmuStatus);
  const std::wstring text = Widen(EmulatorStatusText(*rx_, platform_));
  // Unchanged text is not set again: no repaint every half second for nothing.
  std::wstring shown(size_t(GetWindowTextLengthW(status)) + 1, L'\0');
  shown.resize(size_t(GetWindowTextW(status, shown.data(), int(shown.size()))));
  if (shown != text) SetWindowTextW(status, text.c_str());
}

void EmulatorPanelWindow::OnCommand(int id, int code, HWND /*control*/) {
  // The state is read from the control itself, never toggled: a driver sets it first and then
  // sends the notification, and a click has already changed an automatic box.
  if (id == kEmuBattery) {
    if (code != CBN_SELCHANGE) return;
    const LRESULT level = SendMessageW(Control(kEmuBattery), CB_GETCURSEL, 0, 0);
    if (level < 0 || level > 15) return;
    rx_->Tx()->SetBatteryLevel(uint8_t(level));
    Refresh();
    return;
  }
  if (code != BN_CLICKED) return;
  HWND box = Control(id);
  if (!box) return;
  const bool on = SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
  EmulatedTx& tx = *rx_->Tx();
  switch (id) {
    case kEmuRxPlugged:
      on ? rx_->Plug() : rx_->Unplug();
      break;
    case kEmuTxPowered:
      tx.SetPowered(on, host_.TickCount());
      break;
    case kEmuTxInRange:
      tx.SetInRange(on);
      break;
    case kEmuRadio:
      rx_->SetRadioEnabled(on);
      break;
    case kEmuBindMode:
      tx.SetBindMode(on);
      break;
    default:
      return;
  }
  Refresh();
}

LRESULT CALLBACK EmulatorPanelWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
  auto* self = reinterpret_cast<EmulatorPanelWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    self =
        static_cast<EmulatorPanelWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  return self->OnMessage(message, wParam, lParam);
}

LRESULT EmulatorPanelWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_TIMER:
      if (wParam == kRefreshTimer) {
        Refresh();
        return 0;
      }
      break;
    case WM_CLOSE:
      // Closing hides it, as the Qt tool window does; the demo goes on.
      ShowWindow(hwnd_, SW_HIDE);
      return 0;
    case WM_DESTROY:
      KillTimer(hwnd_, kRefreshTimer);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

}  // namespace korvel::win32
