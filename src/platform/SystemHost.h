// Host on the real clock for programs without a GUI toolkit (the companion, benchmarks,
// the emulator in real time). The Qt window has its own host.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/Host.h"
#include "platform/TimerQueue.h"

namespace korvel {

class SystemHost final : public Host {
 public:
  SystemHost();
  ~SystemHost() override;
  SystemHost(const SystemHost&) = delete;
  SystemHost& operator=(const SystemHost&) = delete;
  uint64_t TickCount() override;
  void Sleep(uint32_t ms) override;
  void ProcessMessages() override;
  std::unique_ptr<HostTimer> CreateTimer() override;
  // Descriptors are watched on POSIX systems only (poll); elsewhere null.
  std::unique_ptr<HostWatch> WatchReadable(intptr_t fd, std::function<void()> onReadable) override;
  // Wakes a loop waiting in RunOnce.
  bool Post(std::function<void()> task) override;

  // Runs the timers for ms milliseconds of real time, sleeping between them.
  void RunFor(uint32_t ms);
  // Runs what is due, then waits up to maxWaitMs for the next timer, a posted task or a
  // watched descriptor, and runs that.
  void RunOnce(uint32_t maxWaitMs);
  // RunOnce until done() holds (checked after each turn) or ms passed; returns done().
  bool RunUntil(const std::function<bool()>& done, uint32_t ms);

 private:
  struct Watched {
    int id;
    intptr_t fd;
    std::function<void()> onReadable;
  };
  class Watch;
  void Wait(uint32_t ms);

  TimerQueue timers_;
  PostedTasks posted_;
  std::vector<Watched> watches_;
  int nextWatch_ = 0;
#ifdef _WIN32
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  bool woken_ = false;
#else
  int wakeRead_ = -1, wakeWrite_ = -1;  // a byte here ends a wait
#endif
};

}  // namespace korvel
