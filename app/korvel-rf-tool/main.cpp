// The production tool on the real HID bus.
#include <QApplication>

#include "device/HidPlatform.h"
#include "device/HotPlug.h"
#include "localization/Lang.h"
#include "platform/ProcessControl.h"
#include "ui/qt/Form1.h"
#include "ui/qt/QtHost.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName(korvel::kApplicationTitle);
  korvel::QtHost host;
  auto hid = korvel::CreateSystemHidPlatform();
  auto languages = korvel::CreateSystemLanguageStore();
  // Devices are found on the system's word at once; the timer stays as the fallback.
  auto hotPlug = korvel::CreateSystemHotPlugSource();
  korvel::TForm1 form({.host = host,
                       .hid = *hid,
                       .languageStore = *languages,
                       .workingDirectory = ".",
                       .killOtherInstances = [] { return korvel::KillOtherInstances(); },
                       .hotPlug = hotPlug.get()});
  form.Start(std::vector<std::string>(argv + 1, argv + argc));
  form.show();
  return app.exec();
}
