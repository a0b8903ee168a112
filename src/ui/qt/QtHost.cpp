#include "ui/qt/QtHost.h"

#include <QCoreApplication>
#include <QSocketNotifier>

namespace korvel {

QtHost::QtHost() {
  // The core's timers are coarse (500 ms and up); a 10 ms pump keeps them within a tick of
  // a native timer without the event loop knowing about each of them.
  pump_.setInterval(10);
  QObject::connect(&pump_, &QTimer::timeout, [this] { clock_.ProcessMessages(); });
  pump_.start();
}

namespace {
class SocketWatch final : public HostWatch {
 public:
  SocketWatch(intptr_t fd, std::function<void()> onReadable)
      : notifier_(qintptr(fd), QSocketNotifier::Read) {
    QObject::connect(&notifier_, &QSocketNotifier::activated,
                     [call = std::move(onReadable)] { call(); });
  }

 private:
  QSocketNotifier notifier_;
};
}  // namespace

std::unique_ptr<HostWatch> QtHost::WatchReadable(intptr_t fd, std::function<void()> onReadable) {
  return std::make_unique<SocketWatch>(fd, std::move(onReadable));
}

void QtHost::ProcessMessages() {
  QCoreApplication::processEvents();
  clock_.ProcessMessages();
}

}  // namespace korvel
