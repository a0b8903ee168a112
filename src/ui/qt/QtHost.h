// Host for the window: the real clock, with the timers pumped by the Qt event loop.
#pragma once

#include <QTimer>

#include "platform/SystemHost.h"

namespace korvel {

class QtHost final : public Host {
 public:
  QtHost();
  uint64_t TickCount() override { return clock_.TickCount(); }
  // Blocks like the operating system's sleep: the window does not repaint meanwhile.
  void Sleep(uint32_t ms) override { clock_.Sleep(ms); }
  void ProcessMessages() override;
  std::unique_ptr<HostTimer> CreateTimer() override { return clock_.CreateTimer(); }
  std::unique_ptr<HostWatch> WatchReadable(intptr_t fd, std::function<void()> onReadable) override;
  bool Post(std::function<void()> task) override { return clock_.Post(std::move(task)); }

 private:
  SystemHost clock_;
  QTimer pump_;
};

}  // namespace korvel
