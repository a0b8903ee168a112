// The production tool's window on the emulated dongle and mouse, with a small window that
// plugs, powers and binds them.
#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>

#include "DemoOptions.h"
#include "EmulatedNeighbours.h"
#include "EmulatorPanel.h"
#include "localization/Lang.h"
#include "platform/ProcessControl.h"
#include "ui/qt/Form1.h"
#include "ui/qt/QtHost.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName(korvel::kApplicationTitle);
  const korvel::DemoOptions options =
      korvel::ParseDemoOptions(std::vector<std::string>(argv + 1, argv + argc));
  const QString screenshot = QString::fromStdString(options.screenshot);
  const int after = options.after;
  const std::string& scene = options.scene;
  if (options.userFolder) {
    // Started from the desktop menu the current folder may be anywhere, even read-only: the
    // demo's TX.ini and record go to the user's own data folder instead.
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/korvel-rf-demo";
    if (!QDir().mkpath(folder) || !QDir::setCurrent(folder)) {
      std::fprintf(stderr, "korvel-rf-demo: cannot use the folder %s\n", qPrintable(folder));
      return 1;
    }
  }
  korvel::QtHost host;
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
  korvel::TForm1 form({.host = host,
                       .hid = hid,
                       .languageStore = *languages,
                       .workingDirectory = ".",
                       .killOtherInstances = [] { return korvel::KillOtherInstances(); },
                       .program = "korvel-rf-demo",
                       .hotPlug = hotPlug.get()});
  form.Start(options.args);
  form.show();
  auto* panel = new korvel::EmulatorPanel(host, hid, rx, &form);
  panel->move(form.geometry().right() + 12, form.geometry().top());
  panel->show();
  if (!screenshot.isEmpty()) {
    // Save the window and leave; --after=0 measures the start-up to a painted window.
    QTimer::singleShot(after, &form, [&] {
      korvel::PlayScene(scene, form, *rx);
      QApplication::processEvents();
      form.grab().save(screenshot);
      panel->grab().save(QString(screenshot).replace(".png", "-emulator.png"));
      if (QWidget* page = form.findChild<QWidget*>("spgcntrl1"); page && page->isVisible())
        page->grab().save(QString(screenshot).replace(".png", "-engineering.png"));
      form.close();
    });
  }
  return app.exec();
}
