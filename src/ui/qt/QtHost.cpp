#include "ui/qt/QtHost.h"

#include <QCoreApplication>

namespace korvel {

QtHost::QtHost() {
  // The core's timers are coarse (500 ms and up); a 10 ms pump keeps them within a tick of
  // a native timer without the event loop knowing about each of them.
  pump_.setInterval(10);
  QObject::connect(&pump_, &QTimer::timeout, [this] { clock_.ProcessMessages(); });
  pump_.start();
}

void QtHost::ProcessMessages() {
  QCoreApplication::processEvents();
  clock_.ProcessMessages();
}

}  // namespace korvel
