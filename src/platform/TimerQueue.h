// Timer bookkeeping shared by the hosts that pump their own timers (the standard-C++ host
// and the virtual host). A host asks it which timer is due next and lets it fire.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "platform/Host.h"

namespace korvel {

class TimerQueue {
 public:
  using Clock = std::function<uint64_t()>;
  explicit TimerQueue(Clock clock);
  ~TimerQueue();
  TimerQueue(const TimerQueue&) = delete;
  TimerQueue& operator=(const TimerQueue&) = delete;

  std::unique_ptr<HostTimer> CreateTimer();

  static constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
  // Earliest due time among enabled timers whose handler is not running, or kNever.
  uint64_t NextDue() const;
  // Fires every timer due at the current time, once each.
  void FireDue();

 private:
  class Timer;
  friend class Timer;
  Clock clock_;
  std::vector<Timer*> timers_;
  // Shared with the timers so one outliving the queue does not touch freed memory.
  std::shared_ptr<bool> alive_;
};

}  // namespace korvel
