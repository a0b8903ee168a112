#include "presence/PresenceMonitor.h"

namespace korvel {

namespace {
constexpr uint32_t kDetectIntervalMs = 5500;
constexpr uint32_t kBindIntervalMs = 1000;
constexpr uint32_t kLinkIntervalMs = 500;
constexpr int kBindTimeoutTicks = 16;
constexpr int kBindCheckPairs = 19;
constexpr int kBindStatusRequests = 10;
constexpr uint8_t kBindDone = 0xBB, kBindIdle = 0x33;
constexpr int kBatteryQueries = 20;
constexpr int kSensorProbes = 6;
constexpr uint8_t kBatteryLowLevel = 2;
constexpr uint32_t kPBindRelease = 0xA041;
}  // namespace

PresenceMonitor::PresenceMonitor(RxLink& link, ReceiverFinder& finder, Host& host,
                                 std::function<std::optional<VidPid>()> typed)
    : link_(link),
      finder_(finder),
      host_(host),
      typed_(std::move(typed)),
      detect_(host.CreateTimer()),
      softBind_(host.CreateTimer()),
      isTxLink_(host.CreateTimer()),
      // Never under a run: Go's end enables detection again and catches up. A burst that
      // took an interface away says the population changed: a dongle pulled and another
      // plugged within one burst leaves the count as it was, and the RX may already be closed
      // (after Go), so neither the count nor the open handle can tell.
      hotPlug_(
          host, [this] { return !held_ && !writing_ && detect_->Enabled(); },
          [this](const HotPlugTrigger::Burst& burst) {
            // Interfaces that only arrived leave a ready RX as it is (the dongle's own
            // last nodes, or another device).
            if (!burst.left && link_.HaveRx() && rxLamp_)
              return HotPlugTrigger::Found{.rxOpen = true};
            SearchAgain();
            // A node udev has not yet opened up is not yet a reason to tell the operator.
            holdPermissionHint_ = !burst.settled;
            DetectionTick();
            holdPermissionHint_ = false;
            return HotPlugTrigger::Found{.rxOpen = link_.HaveRx(), .refused = refusedNode_};
          }) {
  detect_->SetInterval(kDetectIntervalMs);
  softBind_->SetInterval(kBindIntervalMs);
  isTxLink_->SetInterval(kLinkIntervalMs);
  detect_->OnTimer = [this] { DetectionTick(); };
  softBind_->OnTimer = [this] { BindCheckTick(); };
  isTxLink_->OnTimer = [this] { LinkTick(); };
}

void PresenceMonitor::Hold() {
  held_ = holdPending_ = true;
  detect_->SetEnabled(false);
}

void PresenceMonitor::Writing(bool writing) {
  writing_ = writing;
  // Word that came during a run is acted on once it is over.
  if (!writing && !held_) hotPlug_.CatchUp();
}

void PresenceMonitor::LetGo() {
  held_ = holdPending_ = false;
  detect_->SetEnabled(true);
  hotPlug_.CatchUp();
}

void PresenceMonitor::Resume() {
  LetGo();
}

void PresenceMonitor::ReleaseUnit() {
  EnterNotReady();
  LetGo();
}

void PresenceMonitor::NotReadyLook() {
  softBind_->SetEnabled(false);
  isTxLink_->SetEnabled(false);
}

void PresenceMonitor::EnterNotReady() {
  NotReadyLook();
  rxLamp_ = txLamp_ = false;
  Emit(PresenceEvent::RxNotReady);
}

void PresenceMonitor::DetectionTick() {
  if (detectBusy_) return;
  detectBusy_ = true;
  int stableRounds = 0;
  int32_t count = 0;
  for (int round = 0; round < 2; ++round) {
    const int32_t first = link_.CountHidDevices();
    const int32_t second = link_.CountHidDevices();
    if (first == second) ++stableRounds;
    count = first;
  }
  if (count != lastDeviceCount_ && stableRounds == 2) {
    // Stored first: the ready state may ask for a new search (an RX that does not answer).
    lastDeviceCount_ = count;
    link_.ForgetIdentity();
    EnterNotReady();
    Emit(PresenceEvent::DevicesChanged);
    // The handle of an RX that is gone (or of one still there) would otherwise stay open.
    link_.Close();
    if (const Result<ReceiverFinder::Opened> opened = finder_.OpenFirst(typed_())) {
      lastWhyNone_ = {};
      link_.Adopt(opened->handle, opened->id, opened->version);
      ReadyState();
      held_ = false;
    } else {
      ++emptySearches_;
      if (!(opened.status.failure == lastWhyNone_)) {
        lastWhyNone_ = opened.status.failure;
        Emit(PresenceEvent::NoReceiver, {}, lastWhyNone_);
      }
    }
  }
  // Interfaces this user may not open are not even counted, so look for our dongle among
  // them whenever none is open.
  refusedNode_ = !link_.HaveRx() && PermissionHint();
  detectBusy_ = false;
}

bool PresenceMonitor::PermissionHint() {
  // The built-in and TX.ini identities: a typed one may name anything.
  const std::optional<HidAttributes> refused = finder_.Unopenable(std::nullopt);
  if (!refused) return false;
  if (!permissionHintShown_ && !holdPermissionHint_) {
    permissionHintShown_ = true;
    Emit(PresenceEvent::PermissionDenied, {refused->VendorID, refused->ProductID});
  }
  return true;
}

void PresenceMonitor::ReadyState() {
  // The sensor probe below may run the ready state again; once is enough.
  if (readyDepth_ > 1) return;
  ++readyDepth_;
  softBind_->SetEnabled(false);
  Emit(PresenceEvent::RxOpened, {link_.State().ActiveVid, link_.State().ActivePid});
  const Result<CommandAnswer> answer = link_.LinkQueryAnswer();
  // An RX that does not answer stays open and not ready; the next tick asks again.
  if (!answer) SearchAgain();
  if (answer) {
    linkId_ = {(*answer)[1], (*answer)[2]};
    SendDeviceType();
    if (link_.State().RxVersion == kPBindRelease) PBindSwitch();
    rxLamp_ = true;
    Emit(PresenceEvent::RxReady);
    TxStatusCheck();
    host_.ProcessMessages();
    isTxLink_->SetEnabled(true);
  }
  --readyDepth_;
}

void PresenceMonitor::SetDeviceType(DeviceType type) {
  deviceType_ = type;
  SendDeviceType();
}

void PresenceMonitor::SendDeviceType() {
  // A dongle that misses it hears it again when it is next found ready.
  if (link_.HaveRx()) (void)link_.SetDeviceType(deviceType_);
}

std::optional<std::array<uint8_t, 2>> PresenceMonitor::AgreedLinkId(int pairs) {
  for (int i = 0; i < pairs; ++i) {
    const auto first = link_.QueryLinkStatus();
    const auto second = link_.QueryLinkStatus();
    if (first && second && first->linkId[0] == second->linkId[0]) return second->linkId;
  }
  return std::nullopt;
}

void PresenceMonitor::Connect() {
  isTxLink_->SetEnabled(false);
  bindCheckCount_ = 0;
  if (!link_.HaveRx()) return;
  const auto id = AgreedLinkId(kConnectPairLimit);
  if (!id) {
    // An RX that never gives a valid pair is not usable: say so instead of asking forever,
    // and let the next detection tick try it afresh.
    EnterNotReady();
    SearchAgain();
    return;
  }
  linkId_ = *id;
  // Whether the bind started shows in the bind check: the link ID changes or it times out.
  (void)link_.StartSoftBind();
  softBind_->SetEnabled(true);
  Emit(PresenceEvent::Binding);
}

void PresenceMonitor::BindCheckTick() {
  ++bindCheckCount_;
  if (!link_.HaveRx()) {
    softBind_->SetEnabled(false);
    return;
  }
  const auto id = AgreedLinkId(kBindCheckPairs);
  if (!id) {
    EnterNotReady();
    softBind_->SetEnabled(false);
    SearchAgain();
    return;
  }
  for (int request = 1;; ++request) {
    // The bind state is the last valid answer of its selector, as the page shows it.
    (void)link_.SpecialQuery(4);
    if (request == kBindStatusRequests) return;  // the timer stays on; the next tick retries
    const auto status = link_.LastSpecialAnswer(4);
    if (status && ((*status)[1] == kBindDone || (*status)[1] == kBindIdle)) break;
  }
  const bool changed = keyboardBindMode_ ? (*id)[1] != linkId_[1] : *id != linkId_;
  auto finish = [this] {
    softBind_->SetEnabled(false);
    Emit(PresenceEvent::BindEnded);
  };
  if (changed) {
    // A success on the 16th tick is a success: the time-out below is for binds that failed.
    finish();
    linkId_ = *id;
    if (!keyboardBindMode_) {
      Emit(PresenceEvent::BindSucceeded);
      isTxLink_->SetEnabled(true);
    }
    return;
  }
  if (bindCheckCount_ == kBindTimeoutTicks) {
    finish();
    if (!keyboardBindMode_) Emit(PresenceEvent::BindFailed);
    isTxLink_->SetEnabled(true);
  } else if (bindCheckCount_ > kBindTimeoutTicks) {
    // A tick that ended early at 16 left the timer on: adopt what the RX now reports.
    linkId_ = *id;
    finish();
  }
}

void PresenceMonitor::LinkTick() {
  if (held_ || holdPending_ || writing_) return;
  isTxLink_->SetEnabled(false);
  host_.ProcessMessages();
  TxStatusCheck();
  if (holdPending_) return;
  for (int i = 0; i < 100; ++i) {
    host_.Sleep(1);
    host_.ProcessMessages();
    if (holdPending_) return;
  }
  isTxLink_->SetEnabled(true);
  Emit(PresenceEvent::LinkTickEnded);
}

bool PresenceMonitor::PresencePairDiffers() {
  auto sequence = [this]() -> std::optional<uint8_t> {
    // A query that got no valid answer leaves the last one in place: no change, no mouse.
    (void)link_.SpecialQuery(1);
    const auto answer = link_.LastSpecialAnswer(1);
    return answer ? std::optional<uint8_t>((*answer)[1]) : std::nullopt;
  };
  const auto first = sequence();
  host_.Sleep(24);
  return sequence() != first;
}

void PresenceMonitor::TxStatusCheck() {
  if (languageDialogOpen_) return;
  if (!link_.HaveRx()) {
    txLamp_ = false;
    Emit(PresenceEvent::TxNotReady);
    return;
  }
  // Whether the mouse answers is what the presence pair below finds out.
  (void)link_.TxEnterAccess(false);
  host_.Sleep(50);
  bool present = PresencePairDiffers();
  if (!present) {
    Emit(PresenceEvent::SensorAddressCleared);
    present = PresencePairDiffers();
  }
  if (!present) {
    // Dark as well as "Not Ready": a lit lamp would let an automatic Go start on no mouse.
    txLamp_ = false;
    Emit(PresenceEvent::TxNotReady);
    return;
  }
  txLamp_ = true;
  Emit(PresenceEvent::TxReady);
  Result<uint8_t> level;
  for (int i = 0; i < kBatteryQueries && !level; ++i) {
    level = link_.QueryBattery();
    host_.ProcessMessages();
  }
  if (level && *level <= kBatteryLowLevel) {
    NotReadyLook();
    Emit(PresenceEvent::BatteryLow);
    return;
  }
  if (link_.ProbeSensorLink(kSensorProbes))
    Emit(PresenceEvent::GoAllowed);
  else
    ReadyState();
  holdPending_ = false;
}

bool PresenceMonitor::CheckTx() {
  TxStatusCheck();
  return txLamp_;
}

void PresenceMonitor::PBindSwitch() {
  // Each step only after the one before it took.
  if (link_.WriteByte(RegisterSpace::RxDirect, 0x94, 0) && link_.WriteRegisterVerified(7, 0x00FF) &&
      link_.ReloadParameter())
    host_.Sleep(100);
}

}  // namespace korvel
