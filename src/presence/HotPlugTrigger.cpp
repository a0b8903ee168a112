#include "presence/HotPlugTrigger.h"

namespace korvel {

namespace {
// One dongle brings several interfaces within a few milliseconds (and udev repeats each
// after its rules ran, tens of milliseconds later): one detection after the burst settles.
constexpr uint32_t kSettleMs = 250;
}  // namespace

HotPlugTrigger::HotPlugTrigger(Host& host, std::function<bool()> mayDetect,
                               std::function<void()> detect)
    : host_(host),
      mayDetect_(std::move(mayDetect)),
      detect_(std::move(detect)),
      settle_(host.CreateTimer()) {
  settle_->SetInterval(kSettleMs);
  settle_->OnTimer = [this] { Settled(); };
}

void HotPlugTrigger::Start(HotPlugSource* source) {
  if (!source) return;
  const korvel::Status started =
      source->Start(host_, [this](const HotPlugEvent& e) { OnEvent(e); });
  active_ = started.Ok();
  status_ = active_
                ? "hot-plug: " + source->Name()
                : "hot-plug unavailable (" + started.failure.English() + "): detection every 5.5 s";
}

void HotPlugTrigger::OnEvent(const HotPlugEvent&) {
  // Each event restarts the wait: the detection runs once the burst is over.
  settle_->SetEnabled(false);
  settle_->SetEnabled(true);
}

void HotPlugTrigger::CatchUp() {
  if (pending_) settle_->SetEnabled(true);
}

void HotPlugTrigger::Settled() {
  settle_->SetEnabled(false);
  pending_ = !mayDetect_();
  if (pending_) return;
  ++ticks_;
  detect_();
}

}  // namespace korvel
