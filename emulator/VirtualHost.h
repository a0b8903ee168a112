// Discrete-event host for tests and simulation: time moves only when someone sleeps or
// runs the clock, so a minute of timer ticks costs microseconds.
#pragma once

#include "platform/Host.h"
#include "platform/TimerQueue.h"

namespace korvel {

class VirtualHost final : public Host {
 public:
  explicit VirtualHost(uint64_t startMs = 1000);

  uint64_t TickCount() override { return now_; }
  // Advances virtual time; no timer fires, as a blocking sleep would not let one.
  void Sleep(uint32_t ms) override { now_ += ms; }
  void ProcessMessages() override;
  std::unique_ptr<HostTimer> CreateTimer() override;
  bool Post(std::function<void()> task) override {
    posted_.Add(std::move(task));
    return true;
  }

  // Lets ms of virtual time pass, firing each timer when it falls due. A handler that
  // sleeps past the end leaves the clock where the handler left it.
  void RunFor(uint64_t ms);
  // Runs until pred() holds or maxMs has passed; returns pred().
  bool RunUntil(const std::function<bool()>& pred, uint64_t maxMs, uint64_t stepMs = 1);

  uint64_t ProcessMessagesCalls() const { return pumps_; }

 private:
  uint64_t now_;
  uint64_t pumps_ = 0;
  TimerQueue timers_;
  PostedTasks posted_;
};

}  // namespace korvel
