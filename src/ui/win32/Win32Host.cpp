#include "ui/win32/Win32Host.h"

namespace korvel::win32 {

namespace {
constexpr UINT kRunPosted = WM_APP + 1;
constexpr const wchar_t* kSinkClass = L"KorvelRfHostSink";
constexpr int kMessagesPerTurn = 500;
}  // namespace

class Win32Timer final : public HostTimer {
 public:
  Win32Timer(Win32Host& host, UINT_PTR id) : host_(host), id_(id) { host_.timers_[id_] = this; }
  ~Win32Timer() override {
    KillTimer(host_.sink_, id_);
    host_.timers_.erase(id_);
  }
  void SetInterval(uint32_t ms) override {
    interval_ = ms;
    Arm();
  }
  uint32_t Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override {
    enabled_ = enabled;
    Arm();
  }
  bool Enabled() const override { return enabled_; }

  void Fire() {
    // A handler that pumps messages must not run itself again.
    if (running_ || !enabled_ || !OnTimer) return;
    running_ = true;
    const auto call = OnTimer;
    call();
    running_ = false;
  }

 private:
  // Setting a running timer again restarts its countdown, as the core expects.
  void Arm() {
    if (enabled_ && interval_ > 0)
      SetTimer(host_.sink_, id_, interval_, nullptr);
    else
      KillTimer(host_.sink_, id_);
  }

  Win32Host& host_;
  const UINT_PTR id_;
  uint32_t interval_ = 1000;
  bool enabled_ = false;
  bool running_ = false;
};

Win32Host::Win32Host() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = SinkProc;
  wc.hInstance = instance;
  wc.lpszClassName = kSinkClass;
  RegisterClassExW(&wc);  // fails harmlessly when a second host registers it again
  sink_ = CreateWindowExW(0, kSinkClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
}

Win32Host::~Win32Host() {
  for (auto& [id, timer] : timers_) KillTimer(sink_, id);
  if (sink_) DestroyWindow(sink_);
}

LRESULT CALLBACK Win32Host::SinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(create->lpCreateParams));
  }
  auto* host = reinterpret_cast<Win32Host*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (host && message == WM_TIMER) {
    const auto it = host->timers_.find(wParam);
    if (it != host->timers_.end()) it->second->Fire();
    return 0;
  }
  if (host && message == kRunPosted) {
    host->posted_.RunPending();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

std::unique_ptr<HostTimer> Win32Host::CreateTimer() {
  return std::make_unique<Win32Timer>(*this, nextTimer_++);
}

bool Win32Host::Post(std::function<void()> task) {
  posted_.Add(std::move(task));
  return PostMessageW(sink_, kRunPosted, 0, 0) != FALSE;
}

void Win32Host::Dispatch(MSG& msg) {
  if (PreTranslate && PreTranslate(msg)) return;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

void Win32Host::ProcessMessages() {
  MSG msg;
  // Bounded, so that a timer due again before its handler returns cannot hold the core here.
  for (int i = 0; i < kMessagesPerTurn && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (msg.message == WM_QUIT) {
      // The program's own loop ends on it, not this turn of the pump.
      PostQuitMessage(int(msg.wParam));
      return;
    }
    Dispatch(msg);
  }
}

int Win32Host::Run() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) Dispatch(msg);
  return int(msg.wParam);
}

}  // namespace korvel::win32
