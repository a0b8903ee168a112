// Keeps the tool's view of the hardware current on the window's three timers: notices HID
// devices coming and going and opens the RX (detection), pairs a TX with it ("Connect" and
// the bind check), and watches the link, the battery and the sensor. It reports every change
// as a typed event; what the operator sees of it is the listener's business.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device/ReceiverFinder.h"
#include "device/RxLink.h"
#include "platform/Host.h"
#include "presence/HotPlugTrigger.h"
#include "production/GoCycle.h"
#include "production/UnitProgrammer.h"

namespace korvel {

enum class PresenceEvent {
  NotReadyLook,          // timers off; Go, the mode buttons and Connect disabled; no-link picture
  RxNotReady,            // the above, no VID/PID shown, both lamps off, both sides "Not Ready"
  DevicesChanged,        // the population changed: the last unit's result is cleared
  RxOpened,              // an RX was opened: mode buttons and Connect enabled, its VID/PID shown
  RxReady,               // it answered the link query: connected picture, RX lamp on
  TxNotReady,            // TX lamp off, "Mouse TX Not Ready"
  TxReady,               // TX lamp on, "Mouse TX Ready"
  GoAllowed,             // the sensor answered: Connect and Go enabled
  BatteryLow,            // the not-ready look, then the low-battery message
  Binding,               // "Connect" started: the bind animation, "Connecting"
  BindEnded,             // connected picture, "Connect"
  BindSucceeded,         // mouse mode: the success message; the link check runs again
  BindFailed,            // mouse mode: the failure message (16 ticks without a new identity)
  PermissionDenied,      // a dongle is present that this user may not open
  SensorAddressCleared,  // the presence test starts its second pair from sensor address 0
  LinkTickEnded,         // a link tick ran to its end with the link timer on again
  NoReceiver,            // a search opened no RX, for a reason other than the last one's
};

struct PresenceChange {
  PresenceEvent event;
  VidPid id;   // RxOpened, PermissionDenied
  Phrase why;  // NoReceiver
};

class PresenceListener {
 public:
  virtual ~PresenceListener() = default;
  virtual void OnPresence(const PresenceChange& change) = 0;
};

class PresenceMonitor final : public LinkWatch, public DeviceHold {
 public:
  // `typed`: the VID/PID typed into the settings, when they read as hexadecimal.
  PresenceMonitor(RxLink& link, ReceiverFinder& finder, Host& host,
                  std::function<std::optional<VidPid>()> typed);
  // Who hears the events (the presenter); none: they go nowhere.
  void SetListener(PresenceListener* listener) { listener_ = listener; }

  // The system's word starts a detection soon after a plug or a pull, on top of the timer.
  HotPlugTrigger& HotPlug() { return hotPlug_; }

  // The three timers, and what each does at its tick.
  HostTimer& DetectHIDDeviceCounter() { return *detect_; }
  HostTimer& tmrSoftBind() { return *softBind_; }
  HostTimer& tmrIsTxLink() { return *isTxLink_; }
  void DetectionTick();
  void BindCheckTick();
  void LinkTick();

  // PBind Switch (also run when an RX with release 0xA041 becomes ready).
  void PBindSwitch();
  void TxStatusCheck();
  // The not-ready state, as Go leaves the station after a unit.
  void EnterNotReady();
  // The Device tab's choice; sent to an open RX at once.
  void SetDeviceType(DeviceType type);

  // LinkWatch, for the production run. Connect is "Connect": a bind, checked on its timer.
  bool CheckTx() override;
  void Connect() override;
  bool Binding() const override { return softBind_->Enabled(); }
  void SetKeyboardBindMode(bool keyboard) override { keyboardBindMode_ = keyboard; }

  // DeviceHold, for Go.
  void Hold() override;
  void Writing(bool writing) override;
  bool Held() const override { return held_; }
  // The two lamps: RX ready, TX ready.
  Readiness Ready() const override { return {rxLamp_, txLamp_}; }
  void Resume() override;
  void ReleaseUnit() override;
  // While the language dialog is up the link check leaves the devices alone.
  void SetLanguageDialogOpen(bool open) { languageDialogOpen_ = open; }

  bool KeyboardBindMode() const { return keyboardBindMode_; }
  const std::array<uint8_t, 2>& LinkId() const { return linkId_; }
  int BindCheckCount() const { return bindCheckCount_; }
  int32_t LastDeviceCount() const { return lastDeviceCount_; }
  // Searches, after the devices changed, that opened no RX (the dongle was taken off).
  int EmptySearches() const { return emptySearches_; }
  bool DetectBusy() const { return detectBusy_; }

  // Pairs of link queries "Connect" tries before it gives up.
  static constexpr int kConnectPairLimit = RetryCount;

 private:
  void Emit(PresenceEvent event, VidPid id = {}, Phrase why = {}) {
    if (listener_) listener_->OnPresence({event, id, std::move(why)});
  }
  void NotReadyLook();
  void ReadyState();
  void LetGo();
  void SendDeviceType();
  // Whether a dongle is there that this user may not open; the operator is told once.
  bool PermissionHint();
  // Pairs of link queries until both are valid and agree on byte 1; nothing after `pairs`.
  std::optional<std::array<uint8_t, 2>> AgreedLinkId(int pairs);
  // The mouse's sequence number moves while it is on the air.
  bool PresencePairDiffers();
  // The next detection tick searches again even when the count is what it was: the RX open
  // now is gone, or is open but gave up, and only a new search brings the station back.
  void SearchAgain() { lastDeviceCount_ = kSearchAgain; }
  static constexpr int32_t kSearchAgain = -1;

  RxLink& link_;
  ReceiverFinder& finder_;
  Host& host_;
  PresenceListener* listener_ = nullptr;
  std::function<std::optional<VidPid>()> typed_;
  std::unique_ptr<HostTimer> detect_, softBind_, isTxLink_;
  HotPlugTrigger hotPlug_;

  int32_t lastDeviceCount_ = 0;
  bool detectBusy_ = false;
  std::array<uint8_t, 2> linkId_{};
  int bindCheckCount_ = 0;
  bool keyboardBindMode_ = false;
  DeviceType deviceType_ = DeviceType::Mouse;
  bool rxLamp_ = false;
  bool txLamp_ = false;
  // Go has the devices; a Go pressed while a link tick waits ends that tick's waits.
  bool held_ = false;
  bool holdPending_ = false;
  bool writing_ = false;
  bool languageDialogOpen_ = false;
  bool permissionHintShown_ = false;
  bool holdPermissionHint_ = false;  // during a detection udev may yet open the node for
  bool refusedNode_ = false;
  int emptySearches_ = 0;  // the last detection found a node it may not open
  Phrase lastWhyNone_;     // why the last search opened nothing (said once until it changes)
  int readyDepth_ = 0;
};

}  // namespace korvel
