// The production tool on the real HID bus, in a native Windows window.
#include <windows.h>

#include "Arguments.h"
#include "device/HidPlatform.h"
#include "device/HotPlug.h"
#include "localization/Lang.h"
#include "platform/ProcessControl.h"
#include "ui/win32/Form1.h"
#include "ui/win32/Pictures.h"
#include "ui/win32/Win32Host.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
  korvel::win32::GdiplusSession drawing;
  korvel::win32::Win32Host host;
  auto hid = korvel::CreateSystemHidPlatform();
  auto languages = korvel::CreateSystemLanguageStore();
  // Devices are found on the system's word at once; the timer stays as the fallback.
  auto hotPlug = korvel::CreateSystemHotPlugSource();
  korvel::win32::TForm1 form({.host = host,
                              .hid = *hid,
                              .languageStore = *languages,
                              .workingDirectory = ".",
                              .killOtherInstances = [] { return korvel::KillOtherInstances(); },
                              .hotPlug = hotPlug.get()});
  host.PreTranslate = [&form](MSG& msg) { return form.PreTranslate(msg); };
  form.Start(korvel::win32::Arguments());
  form.Show(show);
  return host.Run();
}
