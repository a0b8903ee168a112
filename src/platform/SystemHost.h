// Host on the real clock for programs without a GUI toolkit (the companion, benchmarks,
// the emulator in real time). The Qt window has its own host.
#pragma once

#include "platform/Host.h"
#include "platform/TimerQueue.h"

namespace korvel {

class SystemHost final : public Host {
 public:
  SystemHost();
  ~SystemHost() override;
  uint64_t TickCount() override;
  void Sleep(uint32_t ms) override;
  void ProcessMessages() override;
  std::unique_ptr<HostTimer> CreateTimer() override;
  bool Post(std::function<void()> task) override {
    posted_.Add(std::move(task));
    return true;
  }

  // Runs the timers for ms milliseconds of real time, sleeping between them.
  void RunFor(uint32_t ms);

 private:
  TimerQueue timers_;
  PostedTasks posted_;
};

}  // namespace korvel
