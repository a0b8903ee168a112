// The one door to time and the message pump. Nothing in the core reads a clock or sleeps
// except through a Host, so tests can run minutes of timer ticks in virtual time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace korvel {

class HostTimer {
 public:
  virtual ~HostTimer() = default;
  // Like a window timer: enabling it, or changing the interval while enabled, restarts the
  // countdown; a disabled timer never fires.
  virtual void SetInterval(uint32_t ms) = 0;
  virtual uint32_t Interval() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;

  std::function<void()> OnTimer;
};

// A file descriptor the message loop watches; the watch ends when this is destroyed.
class HostWatch {
 public:
  virtual ~HostWatch() = default;
};

class Host {
 public:
  virtual ~Host() = default;
  // Milliseconds since an arbitrary start; never wraps in practice.
  virtual uint64_t TickCount() = 0;
  // Blocks; no messages and no timers run meanwhile.
  virtual void Sleep(uint32_t ms) = 0;
  // Runs what is pending now: due timers (never one whose handler is already running).
  virtual void ProcessMessages() = 0;
  virtual std::unique_ptr<HostTimer> CreateTimer() = 0;

  // Calls onReadable from the message loop whenever fd has something to read; null when this
  // host's loop cannot watch descriptors.
  virtual std::unique_ptr<HostWatch> WatchReadable(intptr_t /*fd*/,
                                                   std::function<void()> /*onReadable*/) {
    return nullptr;
  }
  // Runs task on the message loop's thread at its next turn. Safe from any thread; false
  // when this host cannot take tasks.
  virtual bool Post(std::function<void()> /*task*/) { return false; }
};

// Tasks posted from any thread, run by the loop that owns them.
class PostedTasks {
 public:
  void Add(std::function<void()> task);
  // Runs what was posted before the call; tasks they post wait for the next turn.
  void RunPending();

 private:
  std::mutex mutex_;
  std::vector<std::function<void()>> tasks_;
};

}  // namespace korvel
