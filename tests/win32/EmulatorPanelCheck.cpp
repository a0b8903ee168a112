// The Win32 emulator panel on a real host, a real emulated bus and a real window: drives every
// control the way the automated driver does (set the control, then send its notification), and
// the way a click does, and checks the emulator and the status line followed. Runs under Wine
// (in Xvfb when there is no display). Exit code 0 when every check held.
//
//   EmulatorPanelCheck [--screenshot=FILE.bmp]
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "EmulatedHid.h"
#include "EmulatedRx.h"
#include "EmulatedTx.h"
#include "EmulatorPanelWin32.h"
#include "platform/SystemHost.h"

namespace {

using namespace korvel;
using namespace korvel::win32;

int g_failed = 0;
int g_passed = 0;

void Check(bool ok, const char* what) {
  if (ok) {
    ++g_passed;
  } else {
    ++g_failed;
    std::printf("FAILED: %s\n", what);
  }
}

std::string Narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());  // the panel's texts are ASCII
}

std::wstring Text(HWND window) {
  wchar_t buffer[512] = {};
  GetWindowTextW(window, buffer, 512);
  return buffer;
}

std::wstring ClassOf(HWND window) {
  wchar_t buffer[128] = {};
  GetClassNameW(window, buffer, 128);
  return buffer;
}

// The program's loop for a while: window messages and the host's timers.
void Pump(SystemHost& host, uint32_t ms) {
  const uint64_t end = host.TickCount() + ms;
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    host.ProcessMessages();
    Sleep(5);
  } while (host.TickCount() < end);
}

// Pumps until `done` holds or `capMs` passed (a slow machine only waits longer); true when
// it held.
template <typename Done>
bool PumpUntil(SystemHost& host, uint32_t capMs, Done done) {
  const uint64_t end = host.TickCount() + capMs;
  while (!done()) {
    if (host.TickCount() >= end) return false;
    Pump(host, 10);
  }
  return true;
}

// As the driver in another process does it: the state first, then the notification.
void DriveBox(SystemHost& host, HWND panel, int id, bool on) {
  HWND box = GetDlgItem(panel, id);
  SendMessageW(box, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
  PostMessageW(panel, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(box));
  Pump(host, 20);
}

void DriveBattery(SystemHost& host, HWND panel, int level) {
  HWND combo = GetDlgItem(panel, kEmuBattery);
  SendMessageW(combo, CB_SETCURSEL, WPARAM(level), 0);
  PostMessageW(panel, WM_COMMAND, MAKEWPARAM(kEmuBattery, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
  Pump(host, 20);
}

bool Checked(HWND panel, int id) {
  return SendDlgItemMessageW(panel, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::string StatusLine(HWND panel) {
  return Narrow(Text(GetDlgItem(panel, kEmuStatus)));
}

bool SaveBitmap(HWND window, const char* path) {
  RECT r{};
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;  // bottom-up, as a .bmp file keeps it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bitmap);
  // What is on the screen there: the frame as the window manager draws it, too.
  BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  SelectObject(dc, old);
  const DWORD stride = DWORD((w * 3 + 3) & ~3);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + stride * DWORD(h);
  bool ok = false;
  if (FILE* out = std::fopen(path, "wb")) {
    ok = std::fwrite(&file, sizeof file, 1, out) == 1 &&
         std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
         std::fwrite(bits, stride * DWORD(h), 1, out) == 1;
    std::fclose(out);
  }
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return ok;
}

// The driver's side, in a process of its own: finds the panel by class and title and switches
// the radio off and the battery to 7. Exit code 0 when it found everything.
int DriveFromOutside() {
  HWND panel = FindWindowW(kEmulatorPanelClass, kEmulatorPanelTitle);
  HWND radio = panel ? GetDlgItem(panel, kEmuRadio) : nullptr;
  HWND battery = panel ? GetDlgItem(panel, kEmuBattery) : nullptr;
  if (!radio || !battery) return 2;
  SendMessageW(radio, BM_SETCHECK, BST_UNCHECKED, 0);
  PostMessageW(panel, WM_COMMAND, MAKEWPARAM(kEmuRadio, BN_CLICKED),
               reinterpret_cast<LPARAM>(radio));
  SendMessageW(battery, CB_SETCURSEL, 7, 0);
  PostMessageW(panel, WM_COMMAND, MAKEWPARAM(kEmuBattery, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(battery));
  return 0;
}

// Runs this program again as the driver and pumps until it ended; its exit code, or -1.
int RunOutsideDriver(SystemHost& host) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --drive";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return -1;
  CloseHandle(process.hThread);
  // The driver's SendMessage calls need this thread's loop to run.
  PumpUntil(host, 30000, [&] { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; });
  DWORD code = DWORD(-1);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  Pump(host, 50);  // the posted notifications
  return int(code);
}

}  // namespace

int main(int argc, char** argv) {
  const char* screenshot = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--drive") == 0) return DriveFromOutside();
    if (std::strncmp(argv[i], "--screenshot=", 13) == 0) screenshot = argv[i] + 13;
  }

  SystemHost host;
  EmulatedHidPlatform hid(host);
  auto rx = std::make_shared<EmulatedRx>(host);
  auto tx = std::make_shared<EmulatedTx>();
  tx->SetPowered(true, host.TickCount());
  rx->SetTx(tx);
  hid.Attach(rx);

  const HINSTANCE instance = GetModuleHandleW(nullptr);
  // The main window's stand-in.
  HWND main = CreateWindowExW(0, L"STATIC", L"main", WS_OVERLAPPEDWINDOW, 40, 40, 500, 400, nullptr,
                              nullptr, instance, nullptr);
  ShowWindow(main, SW_SHOWNORMAL);
  HFONT font =
      CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");

  {
    EmulatorPanelWindow panel(instance, host, hid, rx, main, font);
    HWND w = panel.Handle();
    Check(w != nullptr, "the panel window is created");
    if (!w) return 1;
    Check(ClassOf(w) == kEmulatorPanelClass, "class KorvelRfEmulator");
    Check(Text(w) == L"Emulated dongle and mouse", "title");
    Check(GetWindow(w, GW_OWNER) == main, "owned by the main window");
    Check((GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0, "tool window");
    Check((GetWindowLongPtrW(w, GWL_STYLE) & WS_CHILD) == 0, "top-level");
    Check(IsWindowUnicode(w) != FALSE, "Unicode window");
    Check(FindWindowW(kEmulatorPanelClass, L"Emulated dongle and mouse") == w,
          "a driver finds it by class and title");

    struct Expected {
      int id;
      const wchar_t* cls;
      const wchar_t* text;
      bool checked;
    };
    const Expected boxes[] = {
        {kEmuRxPlugged, L"Button", L"RX dongle plugged in", true},
        {kEmuTxPowered, L"Button", L"TX mouse powered", true},
        {kEmuTxInRange, L"Button", L"TX mouse in radio range", true},
        {kEmuRadio, L"Button", L"RX radio on (link possible)", true},
        {kEmuBindMode, L"Button", L"TX in bind mode (buttons held)", false},
    };
    for (const Expected& e : boxes) {
      HWND box = GetDlgItem(w, e.id);
      const std::string name = Narrow(e.text);
      Check(box != nullptr, ("control " + name).c_str());
      Check(_wcsicmp(ClassOf(box).c_str(), e.cls) == 0, ("button class: " + name).c_str());
      Check(Text(box) == e.text, ("text: " + name).c_str());
      Check((GetWindowLongPtrW(box, GWL_STYLE) & 0x0F) == BS_AUTOCHECKBOX,
            ("automatic check box: " + name).c_str());
      Check(Checked(w, e.id) == e.checked, ("starts as the emulator is: " + name).c_str());
      Check(SendMessageW(box, WM_GETFONT, 0, 0) == reinterpret_cast<LRESULT>(font),
            ("the given font: " + name).c_str());
    }
    HWND combo = GetDlgItem(w, kEmuBattery);
    Check(combo && _wcsicmp(ClassOf(combo).c_str(), L"ComboBox") == 0, "battery list");
    Check(SendMessageW(combo, CB_GETCOUNT, 0, 0) == 16, "16 battery levels");
    Check(SendMessageW(combo, CB_GETCURSEL, 0, 0) == 12, "battery starts at the TX's 12");
    wchar_t item[8] = {};
    SendMessageW(combo, CB_GETLBTEXT, 15, reinterpret_cast<LPARAM>(item));
    Check(std::wstring(item) == L"15", "last level 15");
    bool labelled = false;
    for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
      if (Text(c) == L"Battery level (0 empty .. 15 full)") labelled = true;
    Check(labelled, "battery label");
    Check(GetDlgItem(w, kEmuStatus) != nullptr, "status line");

    const std::string start = StatusLine(w);
    std::printf("status: %s\n", start.c_str());
    Check(start == "Link: up   RX address 92 34 56\nReports in/out: 0 / 0   open handles: 0",
          "status at the start");
    Check(start == EmulatorStatusText(*rx, hid), "status as EmulatorStatusText");

    panel.MoveBeside(main);
    panel.Show();
    Pump(host, 100);
    RECT m{}, p{};
    GetWindowRect(main, &m);
    GetWindowRect(w, &p);
    std::printf("main %ld,%ld-%ld,%ld  panel %ld,%ld-%ld,%ld\n", m.left, m.top, m.right, m.bottom,
                p.left, p.top, p.right, p.bottom);
    Check(p.left == m.right + 12 && p.top == m.top, "beside the main window");
    Check(IsWindowVisible(w) != FALSE, "shown");
    Check(GetForegroundWindow() != w, "shown without taking the focus");
    // Every control inside the client area.
    RECT client{};
    GetClientRect(w, &client);
    for (int id = kEmuRxPlugged; id <= kEmuStatus; ++id) {
      RECT c{};
      GetWindowRect(GetDlgItem(w, id), &c);
      MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&c), 2);
      if (id == kEmuBattery) c.bottom = c.top + 20;  // the dropped-down part is not shown
      Check(c.left >= 0 && c.top >= 0 && c.right <= client.right && c.bottom <= client.bottom,
            ("control inside the window: " + std::to_string(id)).c_str());
    }

    // RX plug.
    const uint64_t generation = rx->Generation();
    DriveBox(host, w, kEmuRxPlugged, false);
    Check(!rx->Plugged(), "driver unplugs the RX");
    Check(StatusLine(w).rfind("Link: down", 0) == 0, "link down without the RX");
    DriveBox(host, w, kEmuRxPlugged, false);
    Check(!rx->Plugged(), "a repeated notification does not toggle");
    DriveBox(host, w, kEmuRxPlugged, true);
    Check(rx->Plugged() && rx->Generation() == generation + 1, "driver plugs the RX back in");
    DriveBox(host, w, kEmuRxPlugged, true);
    Check(rx->Plugged() && rx->Generation() == generation + 1, "plugged stays plugged");

    // TX power.
    DriveBox(host, w, kEmuTxPowered, false);
    Check(!tx->Powered(), "driver powers the TX off");
    Check(StatusLine(w).rfind("Link: down", 0) == 0, "link down without power");
    DriveBox(host, w, kEmuTxPowered, true);
    Check(tx->Powered(), "driver powers the TX on");
    Check(PumpUntil(host, 5000, [&] { return rx->Linked(); }), "link back after power-up");

    // Range.
    DriveBox(host, w, kEmuTxInRange, false);
    Check(!tx->InRange() && !rx->Linked(), "driver moves the TX out of range");
    DriveBox(host, w, kEmuTxInRange, true);
    Check(tx->InRange() && rx->Linked(), "driver brings it back");

    // Radio.
    DriveBox(host, w, kEmuRadio, false);
    Check(!rx->Linked(), "driver switches the radio off");
    Check(StatusLine(w).rfind("Link: down", 0) == 0, "status says down with the radio off");
    DriveBox(host, w, kEmuRadio, false);
    Check(!rx->Linked(), "radio stays off");
    DriveBox(host, w, kEmuRadio, true);
    Check(rx->Linked(), "driver switches the radio on");
    Check(StatusLine(w).rfind("Link: up", 0) == 0, "status says up again");

    // Bind mode.
    DriveBox(host, w, kEmuBindMode, true);
    Check(tx->BindMode(), "driver holds the bind buttons");
    DriveBox(host, w, kEmuBindMode, true);
    Check(tx->BindMode(), "bind mode stays on");
    DriveBox(host, w, kEmuBindMode, false);
    Check(!tx->BindMode(), "driver lets go");

    // Battery.
    DriveBattery(host, w, 3);
    Check(tx->BatteryLevel() == 3, "driver sets battery level 3");
    DriveBattery(host, w, 0);
    Check(tx->BatteryLevel() == 0, "driver sets battery level 0");
    DriveBattery(host, w, 15);
    Check(tx->BatteryLevel() == 15, "driver sets battery level 15");

    // A driver in another process.
    Check(RunOutsideDriver(host) == 0, "the driver process finds the panel and its controls");
    Check(!rx->Linked() && !Checked(w, kEmuRadio), "the driver process switches the radio off");
    Check(tx->BatteryLevel() == 7, "the driver process sets battery level 7");
    DriveBox(host, w, kEmuRadio, true);
    Check(rx->Linked(), "radio on again");

    // A click on an automatic box: BM_CLICK presses and releases it like the mouse.
    SendDlgItemMessageW(w, kEmuBindMode, BM_CLICK, 0, 0);
    Pump(host, 20);
    Check(Checked(w, kEmuBindMode) && tx->BindMode(), "a click checks bind mode and applies it");
    SendDlgItemMessageW(w, kEmuBindMode, BM_CLICK, 0, 0);
    Pump(host, 20);
    Check(!Checked(w, kEmuBindMode) && !tx->BindMode(), "a second click clears it");
    SendDlgItemMessageW(w, kEmuTxInRange, BM_CLICK, 0, 0);
    Pump(host, 20);
    Check(!tx->InRange(), "a click moves the TX out of range");
    SendDlgItemMessageW(w, kEmuTxInRange, BM_CLICK, 0, 0);
    Pump(host, 20);
    Check(tx->InRange(), "a click brings it back");

    // The status line follows the bus on the timer alone.
    intptr_t handle = -1;
    std::vector<HidInterfaceInfo> interfaces;
    hid.Enumerate(interfaces, false);
    for (const HidInterfaceInfo& i : interfaces)
      if (i.path.find("vendor") != std::string::npos) handle = hid.Open(i.path);
    Check(handle >= 0, "the vendor interface opens");
    const uint8_t command[9] = {1, 0x09, 0, 0, 0, 0, 0, 0, 0};
    Check(hid.SetFeature(handle, command, sizeof command), "a command goes to the RX");
    uint8_t answer[9] = {1};
    hid.GetFeature(handle, answer, sizeof answer);
    const std::string before = StatusLine(w);
    PumpUntil(host, 5000, [&] { return StatusLine(w) != before; });
    const std::string after = StatusLine(w);
    std::printf("status: %s\n", after.c_str());
    Check(after == "Link: up   RX address 92 34 56\nReports in/out: 1 / 1   open handles: 1",
          "the timer refreshes counts and handles");
    Check(before != after, "the status changed by the timer, not by a control");
    hid.Close(handle);
    Check(PumpUntil(host, 5000,
                    [&] { return StatusLine(w).find("open handles: 0") != std::string::npos; }),
          "the closed handle is gone");

    if (screenshot) {
      SetForegroundWindow(w);
      Pump(host, 300);
      Check(SaveBitmap(w, screenshot), "screenshot saved");
    }

    // Closing the panel hides it; the program goes on.
    SendMessageW(w, WM_CLOSE, 0, 0);
    Check(IsWindow(w) && !IsWindowVisible(w), "close hides the panel");
    panel.Show();
    Check(IsWindowVisible(w) != FALSE, "shown again");
  }
  Check(FindWindowW(kEmulatorPanelClass, nullptr) == nullptr, "the destructor destroys it");

  {
    // The main window going first takes the panel with it; the object is left harmless.
    EmulatorPanelWindow panel(instance, host, hid, rx, main, nullptr);
    HWND w = panel.Handle();
    Check(w != nullptr, "a second panel in the same process (class registered once)");
    Check(SendDlgItemMessageW(w, kEmuStatus, WM_GETFONT, 0, 0) ==
              reinterpret_cast<LRESULT>(GetStockObject(DEFAULT_GUI_FONT)),
          "default GUI font without one given");
    DestroyWindow(main);
    Check(!IsWindow(w) && panel.Handle() == nullptr, "destroyed with its owner");
    panel.Refresh();
    panel.MoveBeside(nullptr);
  }
  DeleteObject(font);
  std::printf("emulator panel: %d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
