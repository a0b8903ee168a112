#include "platform/SystemHost.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace korvel {

namespace {
uint64_t SteadyMs() {
  using namespace std::chrono;
  static const steady_clock::time_point start = steady_clock::now();
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now() - start).count());
}
}  // namespace

SystemHost::SystemHost() : timers_([] { return SteadyMs(); }) {}

uint64_t SystemHost::TickCount() {
  return SteadyMs();
}

void SystemHost::Sleep(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SystemHost::ProcessMessages() {
  timers_.FireDue();
}

std::unique_ptr<HostTimer> SystemHost::CreateTimer() {
  return timers_.CreateTimer();
}

void SystemHost::RunFor(uint32_t ms) {
  const uint64_t end = TickCount() + ms;
  for (;;) {
    timers_.FireDue();
    const uint64_t now = TickCount();
    if (now >= end) return;
    const uint64_t wake = std::min(end, timers_.NextDue());
    if (wake > now) Sleep(static_cast<uint32_t>(wake - now));
  }
}

}  // namespace korvel
