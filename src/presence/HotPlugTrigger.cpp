#include "presence/HotPlugTrigger.h"

namespace korvel {

HotPlugTrigger::HotPlugTrigger(Host& host, MayDetect mayDetect, Detect detect)
    : host_(host),
      mayDetect_(std::move(mayDetect)),
      detect_(std::move(detect)),
      settle_(host.CreateTimer()) {
  settle_->SetInterval(kQuietMs);
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

void HotPlugTrigger::OnEvent(const HotPlugEvent& event) {
  if (event.kind == HotPlugEvent::Kind::Left) {
    present_.erase(event.path);
    left_ = true;
  } else if (!present_.insert(event.path).second && rxOpen_) {
    // udev's copy of an arrival already acted on, with the RX open: nothing new. Without an
    // RX it may say the node's permissions have just been set.
    return;
  }
  // udev's copy of a refused node's word belongs to the plug that began with the kernel's.
  if (!inBurst_ && !refused_) burstStartedAt_ = host_.TickCount();
  inBurst_ = true;
  // Each word restarts the wait: the detection runs once the burst is over.
  settle_->SetInterval(kQuietMs);
  settle_->SetEnabled(true);
}

void HotPlugTrigger::CatchUp() {
  if (pending_) {
    settle_->SetInterval(kQuietMs);
    settle_->SetEnabled(true);
  }
}

void HotPlugTrigger::Settled() {
  settle_->SetEnabled(false);
  pending_ = !mayDetect_();
  if (pending_) return;
  ++ticks_;
  const uint64_t waited = host_.TickCount() - burstStartedAt_;
  const Burst burst{.left = left_, .settled = waited >= kUdevMs};
  inBurst_ = left_ = false;
  const Found found = detect_(burst);
  rxOpen_ = found.rxOpen;
  refused_ = found.refused && !burst.settled;
  // Not openable yet: udev's copy of the word comes soon, or this wait ends it.
  if (refused_) {
    settle_->SetInterval(uint32_t(kUdevMs - waited));
    settle_->SetEnabled(true);
  }
}

}  // namespace korvel
