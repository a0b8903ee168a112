#include "VirtualHost.h"

#include <algorithm>

namespace korvel {

VirtualHost::VirtualHost(uint64_t startMs) : now_(startMs), timers_([this] { return now_; }) {}

void VirtualHost::ProcessMessages() {
  ++pumps_;
  posted_.RunPending();
  timers_.FireDue();
}

std::unique_ptr<HostTimer> VirtualHost::CreateTimer() {
  return timers_.CreateTimer();
}

void VirtualHost::RunFor(uint64_t ms) {
  const uint64_t end = now_ + ms;
  posted_.RunPending();
  for (;;) {
    const uint64_t next = timers_.NextDue();
    if (next > end) break;
    now_ = std::max(now_, next);
    timers_.FireDue();
  }
  now_ = std::max(now_, end);
}

bool VirtualHost::RunUntil(const std::function<bool()>& pred, uint64_t maxMs, uint64_t stepMs) {
  const uint64_t end = now_ + maxMs;
  while (!pred()) {
    if (now_ >= end) return false;
    RunFor(std::min(stepMs, end - now_));
  }
  return true;
}

}  // namespace korvel
