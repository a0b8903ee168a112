// The production tool's Windows window on the emulated dongle and mouse, with a small window
// that plugs, powers and binds them.
#include <windows.h>
// The system's old Yield() macro would hide the station's Yield().
#undef Yield

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "Arguments.h"
#include "DemoOptions.h"
#include "EmulatedNeighbours.h"
#include "EmulatorPanelWin32.h"
#include "localization/Lang.h"
#include "platform/ProcessControl.h"
#include "ui/win32/Form1.h"
#include "ui/win32/Pictures.h"
#include "ui/win32/PngFile.h"
#include "ui/win32/Wide.h"
#include "ui/win32/Win32Host.h"

namespace {

// The demo cannot print to a console it does not have: problems go to a message box.
void Complain(const std::wstring& text) {
  MessageBoxW(nullptr, text.c_str(), L"korvel-rf-demo", MB_OK | MB_ICONERROR);
}

bool Save(HWND window, const std::wstring& file) {
  std::wstring error;
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  if (korvel::win32::SaveWindowPng(window, file, error)) return true;
  Complain(L"Cannot save " + file + L": " + error);
  return false;
}

std::wstring Beside(const std::wstring& file, const wchar_t* suffix) {
  const size_t dot = file.rfind(L".png");
  return dot == std::wstring::npos ? file + suffix + L".png"
                                   : file.substr(0, dot) + suffix + L".png";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  const korvel::DemoOptions options = korvel::ParseDemoOptions(korvel::win32::Arguments());
  const std::wstring screenshot = korvel::win32::Wide(options.screenshot);
  const int after = options.after;
  const std::string& scene = options.scene;
  if (options.userFolder) {
    // Started from a shortcut the current folder may be anywhere, even read-only: the demo's
    // TX.ini and record go to the user's own data folder instead.
    wchar_t local[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(n ? local : L".") / "korvel-rf-demo";
    std::filesystem::create_directories(folder, ec);
    if (ec || !SetCurrentDirectoryW(folder.c_str())) {
      Complain(L"Cannot use the folder " + folder.wstring() + L" (error " +
               std::to_wstring(ec ? ec.value() : int(GetLastError())) + L")");
      return 1;
    }
  }
  korvel::win32::GdiplusSession drawing;
  korvel::win32::Win32Host host;
  korvel::EmulatedHidPlatform hid(host);
  korvel::AttachTypicalNeighbours(hid);
  auto rx = std::make_shared<korvel::EmulatedRx>(host);
  auto tx = std::make_shared<korvel::EmulatedTx>();
  tx->SetPowered(true, host.TickCount());
  rx->SetTx(tx);
  hid.Attach(rx);
  auto languages = korvel::CreateSystemLanguageStore();
  // The emulated bus gives the same hot-plug word a real one does.
  auto hotPlug = hid.CreateHotPlugSource();
  korvel::win32::TForm1 form({.host = host,
                              .hid = hid,
                              .languageStore = *languages,
                              .workingDirectory = ".",
                              .killOtherInstances = [] { return korvel::KillOtherInstances(); },
                              .program = "korvel-rf-demo",
                              .hotPlug = hotPlug.get()});
  host.PreTranslate = [&form](MSG& msg) { return form.PreTranslate(msg); };
  form.Start(options.args);
  form.Show(show);
  korvel::win32::EmulatorPanelWindow panel(instance, host, hid, rx, form.Handle());
  panel.MoveBeside(form.Handle());
  panel.Show();
  // Tab moves between the panel's boxes too.
  host.PreTranslate = [&form, &panel](MSG& msg) {
    return form.PreTranslate(msg) ||
           (panel.Handle() && IsDialogMessageW(panel.Handle(), &msg) != FALSE);
  };

  std::unique_ptr<korvel::HostTimer> shot;
  int result = 0;
  if (!screenshot.empty()) {
    // Save the window and leave; --after=0 measures the start-up to a painted window.
    shot = host.CreateTimer();
    shot->SetInterval(std::max(after, 1));
    shot->OnTimer = [&] {
      shot->SetEnabled(false);
      korvel::PlayScene(scene, form, *rx);
      bool saved =
          Save(form.Handle(), screenshot) && Save(panel.Handle(), Beside(screenshot, L"-emulator"));
      if (saved && IsWindowVisible(form.Page()))
        saved = Save(form.Page(), Beside(screenshot, L"-engineering"));
      result = saved ? 0 : 1;
      PostMessageW(form.Handle(), WM_CLOSE, 0, 0);
    };
    shot->SetEnabled(true);
  }
  const int code = host.Run();
  return result ? result : code;
}
