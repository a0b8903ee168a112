// The production tool on the real HID bus.
#include <QApplication>

#include "device/HidPlatform.h"
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
  korvel::TForm1 form({.host = host,
                       .hid = *hid,
                       .languageStore = *languages,
                       .workingDirectory = ".",
                       .killOtherInstances = [] { return korvel::KillOtherInstances(); }});
  form.Start(std::vector<std::string>(argv + 1, argv + argc));
  form.show();
  return app.exec();
}
