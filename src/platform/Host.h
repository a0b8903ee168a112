// The one door to time and the message pump. Nothing in the core reads a clock or sleeps
// except through a Host, so tests can run minutes of timer ticks in virtual time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

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
};

}  // namespace korvel
