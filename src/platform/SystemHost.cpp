#include "platform/SystemHost.h"

#include <algorithm>
#include <chrono>
#include <thread>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <timeapi.h>
#endif

namespace korvel {

namespace {
uint64_t SteadyMs() {
  using namespace std::chrono;
  static const steady_clock::time_point start = steady_clock::now();
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now() - start).count());
}
}  // namespace

void PostedTasks::Add(std::function<void()> task) {
  std::lock_guard lock(mutex_);
  tasks_.push_back(std::move(task));
}

void PostedTasks::RunPending() {
  std::vector<std::function<void()>> now;
  {
    std::lock_guard lock(mutex_);
    now.swap(tasks_);
  }
  for (auto& task : now) task();
}

SystemHost::SystemHost() : timers_([] { return SteadyMs(); }) {
#ifdef _WIN32
  // The protocol waits 8 ms between reports; at the default 15.6 ms timer resolution every
  // such wait would last a whole tick.
  timeBeginPeriod(1);
#endif
}

SystemHost::~SystemHost() {
#ifdef _WIN32
  timeEndPeriod(1);
#endif
}

uint64_t SystemHost::TickCount() {
  return SteadyMs();
}

void SystemHost::Sleep(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SystemHost::ProcessMessages() {
  posted_.RunPending();
  timers_.FireDue();
}

std::unique_ptr<HostTimer> SystemHost::CreateTimer() {
  return timers_.CreateTimer();
}

void SystemHost::RunFor(uint32_t ms) {
  const uint64_t end = TickCount() + ms;
  for (;;) {
    posted_.RunPending();
    timers_.FireDue();
    const uint64_t now = TickCount();
    if (now >= end) return;
    const uint64_t wake = std::min(end, timers_.NextDue());
    if (wake > now) Sleep(static_cast<uint32_t>(wake - now));
  }
}

}  // namespace korvel
