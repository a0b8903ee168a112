#include "platform/SystemHost.h"

#include <algorithm>
#include <chrono>
#include <thread>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <timeapi.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
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

class SystemHost::Watch final : public HostWatch {
 public:
  Watch(SystemHost& host, int id) : host_(host), id_(id) {}
  ~Watch() override {
    auto& w = host_.watches_;
    w.erase(std::remove_if(w.begin(), w.end(), [this](const Watched& x) { return x.id == id_; }),
            w.end());
  }

 private:
  SystemHost& host_;
  int id_;
};

SystemHost::SystemHost() : timers_([] { return SteadyMs(); }) {
#ifdef _WIN32
  // The protocol waits 8 ms between reports; at the default 15.6 ms timer resolution every
  // such wait would last a whole tick.
  timeBeginPeriod(1);
#else
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
  }
#endif
}

SystemHost::~SystemHost() {
#ifdef _WIN32
  timeEndPeriod(1);
#else
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
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
  // Watched descriptors too, as a window's message pump would: a long run must not leave
  // the system's hot-plug word piling up unread.
  if (!watches_.empty()) Wait(0);
}

std::unique_ptr<HostTimer> SystemHost::CreateTimer() {
  return timers_.CreateTimer();
}

std::unique_ptr<HostWatch> SystemHost::WatchReadable(intptr_t fd,
                                                     std::function<void()> onReadable) {
#ifdef _WIN32
  (void)fd;
  (void)onReadable;
  return nullptr;
#else
  const int id = ++nextWatch_;
  watches_.push_back({id, fd, std::move(onReadable)});
  return std::make_unique<Watch>(*this, id);
#endif
}

bool SystemHost::Post(std::function<void()> task) {
  posted_.Add(std::move(task));
#ifdef _WIN32
  {
    std::lock_guard lock(wakeMutex_);
    woken_ = true;
  }
  wake_.notify_one();
#else
  const char byte = 1;
  // A full pipe already holds a wake-up.
  if (wakeWrite_ >= 0) (void)!::write(wakeWrite_, &byte, 1);
#endif
  return true;
}

void SystemHost::Wait(uint32_t ms) {
#ifdef _WIN32
  std::unique_lock lock(wakeMutex_);
  wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return woken_; });
  woken_ = false;
#else
  std::vector<pollfd> fds{{wakeRead_, POLLIN, 0}};
  std::vector<int> ids{0};
  for (const Watched& w : watches_) {
    fds.push_back({int(w.fd), POLLIN, 0});
    ids.push_back(w.id);
  }
  if (::poll(fds.data(), fds.size(), int(ms)) <= 0) return;
  if (fds[0].revents) {
    char drain[64];
    while (::read(wakeRead_, drain, sizeof drain) > 0) {
    }
  }
  // A callback may end another's watch: each is looked up again before it runs.
  for (size_t i = 1; i < fds.size(); ++i) {
    if (!fds[i].revents) continue;
    const auto it = std::find_if(watches_.begin(), watches_.end(),
                                 [&](const Watched& w) { return w.id == ids[i]; });
    if (it == watches_.end()) continue;
    const std::function<void()> onReadable = it->onReadable;
    onReadable();
  }
#endif
}

void SystemHost::RunOnce(uint32_t maxWaitMs) {
  posted_.RunPending();
  timers_.FireDue();
  const uint64_t now = TickCount();
  const uint64_t wake = std::min(now + maxWaitMs, timers_.NextDue());
  Wait(wake > now ? uint32_t(wake - now) : 0);
  posted_.RunPending();
  timers_.FireDue();
}

bool SystemHost::RunUntil(const std::function<bool()>& done, uint32_t ms) {
  const uint64_t end = TickCount() + ms;
  while (!done()) {
    const uint64_t now = TickCount();
    if (now >= end) return false;
    RunOnce(uint32_t(end - now));
  }
  return true;
}

void SystemHost::RunFor(uint32_t ms) {
  const uint64_t end = TickCount() + ms;
  for (;;) {
    posted_.RunPending();
    timers_.FireDue();
    const uint64_t now = TickCount();
    if (now >= end) return;
    const uint64_t wake = std::min(end, timers_.NextDue());
    if (wake > now) Wait(static_cast<uint32_t>(wake - now));
  }
}

}  // namespace korvel
