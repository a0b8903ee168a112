#include "platform/TimerQueue.h"

#include <algorithm>

namespace korvel {

class TimerQueue::Timer final : public HostTimer {
 public:
  Timer(TimerQueue* queue, std::shared_ptr<bool> alive) : queue_(queue), alive_(std::move(alive)) {}
  ~Timer() override {
    if (*alive_) {
      auto& v = queue_->timers_;
      v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
  }

  void SetInterval(uint32_t ms) override {
    interval_ = ms;
    if (enabled_) Restart();
  }
  uint32_t Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (enabled_) Restart();
    ++generation_;
  }
  bool Enabled() const override { return enabled_; }

  void Restart() {
    due_ = queue_->clock_() + interval_;
    ++generation_;
  }

  void Fire() {
    running_ = true;
    const uint64_t scheduled = due_;
    const uint64_t generation = generation_;
    const std::shared_ptr<bool> alive = alive_;
    if (OnTimer) OnTimer();
    if (!*alive) return;
    running_ = false;
    // A handler that reconfigured its own timer has already set the next due time.
    if (enabled_ && generation == generation_) {
      // Ticks missed while the handler (or a blocking sleep) ran are not owed: the one
      // just delivered stood for them, as a window timer's single pending message does.
      const uint64_t step = std::max<uint32_t>(interval_, 1);
      const uint64_t now = queue_->clock_();
      due_ = scheduled + step > now ? scheduled + step : now + step;
    }
  }

  TimerQueue* queue_;
  std::shared_ptr<bool> alive_;
  uint32_t interval_ = 1000;
  bool enabled_ = false;
  bool running_ = false;
  uint64_t due_ = 0;
  uint64_t generation_ = 0;
};

TimerQueue::TimerQueue(Clock clock)
    : clock_(std::move(clock)), alive_(std::make_shared<bool>(true)) {}

TimerQueue::~TimerQueue() {
  *alive_ = false;
}

std::unique_ptr<HostTimer> TimerQueue::CreateTimer() {
  auto timer = std::make_unique<Timer>(this, alive_);
  timers_.push_back(timer.get());
  return timer;
}

uint64_t TimerQueue::NextDue() const {
  uint64_t next = kNever;
  for (const Timer* t : timers_) {
    if (t->enabled_ && !t->running_) next = std::min(next, t->due_);
  }
  return next;
}

void TimerQueue::FireDue() {
  const uint64_t now = clock_();
  // Collect first: handlers may create, destroy or reconfigure timers.
  std::vector<Timer*> due;
  for (Timer* t : timers_) {
    if (t->enabled_ && !t->running_ && t->due_ <= now) due.push_back(t);
  }
  std::sort(due.begin(), due.end(),
            [](const Timer* a, const Timer* b) { return a->due_ < b->due_; });
  const std::shared_ptr<bool> alive = alive_;
  for (Timer* t : due) {
    if (!*alive) return;
    // Still registered, still due and not re-entered by a nested pump?
    if (std::find(timers_.begin(), timers_.end(), t) == timers_.end()) continue;
    if (!t->enabled_ || t->running_ || t->due_ > now) continue;
    t->Fire();
  }
}

}  // namespace korvel
