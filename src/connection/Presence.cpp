// Finding and opening the RX, pairing a TX with it ("Connect") and watching the link.
#include <cerrno>

#include "connection/Station.h"
#include "platform/Text.h"
#include "ui/HexField.h"

namespace korvel {

namespace {
constexpr const char* kRxNotReady = "Mouse RX Not Ready";
constexpr const char* kRxReady = "Mouse RX Ready";
constexpr const char* kTxNotReady = "Mouse TX Not Ready";
constexpr const char* kTxReady = "Mouse TX Ready";
constexpr int kBindTimeoutTicks = 16;
constexpr int kBindCheckPairs = 19;
constexpr int kBindStatusRequests = 10;
constexpr int kBatteryQueries = 20;
constexpr int kSensorProbes = 6;
constexpr uint8_t kBatteryLowLevel = 2;

}  // namespace

std::optional<uint8_t> Station::FieldByte(const std::string& name) {
  const auto word = FieldWord(name);
  return word ? std::optional<uint8_t>(uint8_t(*word)) : std::nullopt;
}

void Station::ShowLink(const char* picture) {
  for (const char* name : {"imgNoneDev", "gifBind", "imgConnected"})
    view_[name].visible = std::string(name) == picture;
}

void Station::NotReadyLook() {
  softBind_->SetEnabled(false);
  isTxLink_->SetEnabled(false);
  for (const char* name : {"btnGo", "rbKB", "rbMSE", "btnCombo_Cmd_Soft_Bind_SW"})
    view_[name].enabled = false;
  GetText(3, view_["btnCombo_Cmd_Soft_Bind_SW"].text);
  ShowLink("imgNoneDev");
}

void Station::NotReadyState() {
  NotReadyLook();
  view_["edtVID"].text.clear();
  view_["edtPID"].text.clear();
  view_["ledRX"].checked = false;
  view_["ledTX"].checked = false;
  view_["edtRX"].text = kRxNotReady;
  view_["edtTX"].text = kTxNotReady;
}

void Station::DetectHIDDeviceCounterTimer() {
  if (DetectBusy) return;
  DetectBusy = true;
  int stableRounds = 0;
  int32_t count = 0;
  for (int round = 0; round < 2; ++round) {
    const int32_t first = hidAccess_.CountHidDevices();
    const int32_t second = hidAccess_.CountHidDevices();
    if (first == second) ++stableRounds;
    count = first;
  }
  if (count != LastDeviceCount && stableRounds == 2) {
    device_.ActiveVid = device_.ActivePid = 0;
    NotReadyState();
    view_["lblResult"].text.clear();
    view_["Image1"].visible = false;
    for (const char* name : {"edtMseDongleAddr", "edtTX_SN", "edtRX_SN", "edtCaliTime"})
      view_[name].text.clear();
    view_["pbSetTX"].value = 0;
    // The handle of an RX that is gone (or of one still there) would otherwise stay open.
    if (device_.DeviceHandle != kNoHandle) hidAccess_.CloseDevice(device_.DeviceHandle);
    device_.DeviceHandle = kNoHandle;
    auto tryOpen = [this](int32_t vid, int32_t pid) {
      device_.RxVersion = 0;
      if (!hidAccess_.OpenDeviceByVidPid(vid, pid, device_.RxVersion, device_.DeviceHandle))
        return false;
      device_.ActiveVid = vid;
      device_.ActivePid = pid;
      ReadyState();
      GoRunning = false;
      return true;
    };
    bool opened = false;
    for (const VidPid& entry : vidPidTable_) {
      if (entry.vid == 0 || entry.pid == 0) continue;
      if ((opened = tryOpen(entry.vid, entry.pid))) break;
    }
    if (!opened) {
      // A field that is not hexadecimal cannot name a device; no message every tick.
      const auto vid = HexFieldNumber(view_["edtVID_SET"].text);
      const auto pid = HexFieldNumber(view_["edtPID_SET"].text);
      if (vid && pid) opened = tryOpen(int32_t(*vid), int32_t(*pid));
    }
    LastDeviceCount = count;
    Paint();
  }
  // Interfaces this user may not open are not even counted, so look for our dongle among
  // them whenever none is open.
  if (device_.DeviceHandle == kNoHandle) PermissionHint();
  DetectBusy = false;
}

void Station::PermissionHint() {
  if (permissionHintShown_) return;
  std::vector<HidInterfaceInfo> interfaces;
  if (!env_.hid.Enumerate(interfaces, true)) return;
  for (const HidInterfaceInfo& info : interfaces) {
    if (!info.detailsKnown) continue;
    bool ours = false;
    for (const VidPid& entry : vidPidTable_)
      ours |= entry.vid != 0 && entry.vid == info.attributes.VendorID &&
              entry.pid == info.attributes.ProductID;
    if (!ours) continue;
    const intptr_t h = env_.hid.Open(info.path);
    if (h != kNoHandle) {
      env_.hid.Close(h);
      continue;
    }
    if (env_.hid.LastOpenError() != EACCES) continue;
    permissionHintShown_ = true;
    ui_.ShowMessage(
        "dlgError", "Message",
        "A receiver dongle (" + HexText(info.attributes.VendorID, 4) + ":" +
            HexText(info.attributes.ProductID, 4) +
            ") is plugged in, but this user may not open it.\n"
            "Install the udev rule packaging/linux/70-korvel-rf.rules as the README says, "
            "then unplug and replug the dongle.");
    return;
  }
}

void Station::ReadyState() {
  // The sensor probe below may run the ready state again; once is enough.
  if (readyDepth_ > 1) return;
  ++readyDepth_;
  softBind_->SetEnabled(false);
  ShowLink("imgNoneDev");
  for (const char* name : {"rbKB", "rbMSE", "btnCombo_Cmd_Soft_Bind_SW"})
    view_[name].enabled = true;
  view_["edtVID"].text = HexText(uint32_t(device_.ActiveVid) & 0xFFFF, 4);
  view_["edtPID"].text = HexText(uint32_t(device_.ActivePid) & 0xFFFF, 4);
  const auto answer = commands_.LinkQueryAnswer();
  if (answer) {
    LinkId = {(*answer)[1], (*answer)[2]};
    ShowLink("imgConnected");
    SendDeviceType();
    if (device_.RxVersion == 0xA041) btnPBindClick();
    view_["ledRX"].checked = true;
    view_["edtRX"].text = kRxReady;
    Paint();
    TxStatusCheck();
    env_.host.ProcessMessages();
    isTxLink_->SetEnabled(true);
  }
  Paint();
  --readyDepth_;
}

void Station::SendDeviceType() {
  if (device_.DeviceHandle == kNoHandle) return;
  commands_.SetDeviceType(view_["rbMSE"].checked ? DeviceType::Mouse : DeviceType::Keyboard);
}

std::optional<std::array<uint8_t, 2>> Station::AgreedLinkId(int pairs) {
  for (int i = 0; i < pairs; ++i) {
    const auto first = commands_.QueryLinkStatus();
    const auto second = commands_.QueryLinkStatus();
    if (first && second && first->linkId[0] == second->linkId[0]) return second->linkId;
  }
  return std::nullopt;
}

void Station::btnCombo_Cmd_Soft_Bind_SWClick() {
  isTxLink_->SetEnabled(false);
  BindCheckCount = 0;
  if (device_.DeviceHandle == kNoHandle) return;
  const auto id = AgreedLinkId(kConnectPairLimit);
  if (!id) {
    // An RX that never gives a valid pair is not usable: say so instead of asking forever.
    NotReadyState();
    Paint();
    return;
  }
  LinkId = *id;
  commands_.StartSoftBind();
  softBind_->SetEnabled(true);
  ShowLink("gifBind");
  GetText(4, view_["btnCombo_Cmd_Soft_Bind_SW"].text);
  Paint();
}

void Station::tmrSoftBindTimer() {
  ++BindCheckCount;
  if (device_.DeviceHandle == kNoHandle) {
    softBind_->SetEnabled(false);
    return;
  }
  const auto id = AgreedLinkId(kBindCheckPairs);
  if (!id) {
    NotReadyState();
    softBind_->SetEnabled(false);
    Paint();
    return;
  }
  for (int request = 1;; ++request) {
    SpecialCommand(4);
    if (request == kBindStatusRequests) return;  // the timer stays on; the next tick retries
    const auto status = HexFieldNumber(view_["edtSC04_01"].text);
    if (status && (*status == 0xBB || *status == 0x33)) break;
  }
  std::string caption;
  GetText(2, caption);
  const bool changed = KeyboardBindMode ? (*id)[1] != LinkId[1] : *id != LinkId;
  auto finish = [&] {
    softBind_->SetEnabled(false);
    ShowLink("imgConnected");
    GetText(3, view_["btnCombo_Cmd_Soft_Bind_SW"].text);
    Paint();
  };
  if (changed) {
    // A success on the 16th tick is a success: the time-out below is for binds that failed.
    finish();
    LinkId = *id;
    if (!KeyboardBindMode) {
      std::string text;
      GetText(5, text);
      ui_.ShowMessage("dlgBind", caption, text);
      isTxLink_->SetEnabled(true);
    }
    return;
  }
  if (BindCheckCount == kBindTimeoutTicks) {
    finish();
    std::string text;
    GetText(6, text);
    if (!KeyboardBindMode) ui_.ShowMessage("dlgBind", caption, text);
    isTxLink_->SetEnabled(true);
  } else if (BindCheckCount > kBindTimeoutTicks) {
    // A tick that ended early at 16 left the timer on: adopt what the RX now reports.
    LinkId = *id;
    finish();
  }
}

void Station::tmrIsTxLinkTimer() {
  if (GoRunning || GoPending || SetTxRunning) return;
  isTxLink_->SetEnabled(false);
  env_.host.ProcessMessages();
  TxStatusCheck();
  if (GoPending) return;
  for (int i = 0; i < 100; ++i) {
    env_.host.Sleep(1);
    env_.host.ProcessMessages();
    if (GoPending) return;
  }
  isTxLink_->SetEnabled(true);
  if (AutoStart && view_["ledTX"].checked && !StartingUp) btnGoClick();
}

void Station::TxStatusCheck() {
  if (languageDialogOpen_) return;
  if (device_.DeviceHandle == kNoHandle) {
    view_["ledTX"].checked = false;
    view_["edtTX"].text = kTxNotReady;
    Paint();
    return;
  }
  commands_.RfEnterAccess(false);
  env_.host.Sleep(50);
  auto differingPair = [this] {
    SpecialCommand(1);
    const std::string first = view_["edtSC01_01"].text;
    env_.host.Sleep(24);
    SpecialCommand(1);
    return view_["edtSC01_01"].text != first;
  };
  bool present = differingPair();
  if (!present) {
    view_["edtRF_SensorAddr"].text = HexFieldText(0);
    present = differingPair();
  }
  if (!present) {
    // Dark as well as "Not Ready": a lit lamp would let an automatic Go start on no mouse.
    view_["ledTX"].checked = false;
    view_["edtTX"].text = kTxNotReady;
    Paint();
    return;
  }
  view_["edtTX"].text = kTxReady;
  view_["ledTX"].checked = true;
  Paint();
  std::optional<uint8_t> level;
  for (int i = 0; i < kBatteryQueries && !level; ++i) {
    level = commands_.QueryBattery();
    env_.host.ProcessMessages();
  }
  if (level && *level <= kBatteryLowLevel) {
    std::string low, change;
    GetText(37, low);
    GetText(38, change);
    NotReadyLook();
    Paint();
    ui_.ShowMessage("dlgBat", "Message",
                    low + "\n< 2.2V(Two-Cell)\n      /1.1V(One-Cell)\n" + change);
    return;
  }
  if (commands_.ProbeSensorLink(kSensorProbes)) {
    view_["btnCombo_Cmd_Soft_Bind_SW"].enabled = true;
    view_["btnGo"].enabled = true;
  } else {
    ReadyState();
  }
  GoPending = false;
  Paint();
}

void Station::SpecialCommand(int selector) {
  if (device_.DeviceHandle == kNoHandle) return;
  const auto answer = commands_.SpecialQuery(uint8_t(selector));
  if (!answer) return;
  for (int i = 0; i < 7; ++i)
    view_["edtSC0" + std::to_string(selector) + "_0" + std::to_string(i)].text =
        FormatSpecialByte((*answer)[size_t(i)]);
}

void Station::btnC_Wrt_Direct_RegClick() {
  if (device_.DeviceHandle == kNoHandle) return;
  const auto address = FieldByte("edtDirectAddr");
  if (!address) return;
  const auto data = FieldByte("edtDirectData");
  if (!data) return;
  commands_.WriteDirectRegister(*address, *data);
}

void Station::btnPBindClick() {
  view_["edtDirectAddr"].text = "94";
  view_["edtDirectData"].text = "0";
  btnC_Wrt_Direct_RegClick();
  channel_.WriteRegisterVerified(7, 0x00FF);
  commands_.ReloadParameter();
  env_.host.Sleep(100);
}

}  // namespace korvel
