#include "presenter/PresenceView.h"

#include "device/UdevRule.h"
#include "localization/Lang.h"
#include "platform/Text.h"

namespace korvel {

namespace {
constexpr const char* kRxNotReady = "Mouse RX Not Ready";
constexpr const char* kRxReady = "Mouse RX Ready";
constexpr const char* kTxNotReady = "Mouse TX Not Ready";
constexpr const char* kTxReady = "Mouse TX Ready";

void ShowLink(ViewState& v, const char* picture) {
  for (const char* name : {"imgNoneDev", "gifBind", "imgConnected"})
    v[name].visible = std::string(name) == picture;
}

void NotReadyLook(ViewState& v) {
  for (const char* name : {"btnGo", "rbKB", "rbMSE", "btnCombo_Cmd_Soft_Bind_SW"})
    v[name].enabled = false;
  GetText(3, v["btnCombo_Cmd_Soft_Bind_SW"].text);
  ShowLink(v, "imgNoneDev");
}

std::string Text(TTerm key) {
  std::string text;
  GetText(key, text);
  return text;
}
}  // namespace

PresenceView::PresenceView(ViewState& view, StationView& ui, RunView& run, PresenceViewHooks hooks)
    : view_(view), ui_(ui), run_(run), hooks_(std::move(hooks)) {}

void PresenceView::OnPresence(const PresenceChange& change) {
  switch (change.event) {
    case PresenceEvent::NotReadyLook:
      NotReadyLook(view_);
      break;
    case PresenceEvent::RxNotReady:
      NotReadyLook(view_);
      view_["edtVID"].text.clear();
      view_["edtPID"].text.clear();
      view_["ledRX"].checked = false;
      view_["ledTX"].checked = false;
      view_["edtRX"].text = kRxNotReady;
      view_["edtTX"].text = kTxNotReady;
      break;
    case PresenceEvent::DevicesChanged:
      run_.ClearResult();
      break;
    case PresenceEvent::RxOpened:
      ShowLink(view_, "imgNoneDev");
      for (const char* name : {"rbKB", "rbMSE", "btnCombo_Cmd_Soft_Bind_SW"})
        view_[name].enabled = true;
      view_["edtVID"].text = HexText(uint32_t(change.id.vid) & 0xFFFF, 4);
      view_["edtPID"].text = HexText(uint32_t(change.id.pid) & 0xFFFF, 4);
      break;
    case PresenceEvent::RxReady:
      ShowLink(view_, "imgConnected");
      view_["ledRX"].checked = true;
      view_["edtRX"].text = kRxReady;
      break;
    case PresenceEvent::TxNotReady:
      view_["ledTX"].checked = false;
      view_["edtTX"].text = kTxNotReady;
      break;
    case PresenceEvent::TxReady:
      view_["edtTX"].text = kTxReady;
      view_["ledTX"].checked = true;
      break;
    case PresenceEvent::GoAllowed:
      view_["btnCombo_Cmd_Soft_Bind_SW"].enabled = true;
      view_["btnGo"].enabled = true;
      break;
    case PresenceEvent::BatteryLow:
      NotReadyLook(view_);
      ui_.Render(view_);
      ui_.ShowMessage("dlgBat", "Message",
                      Text(37) + "\n< 2.2V(Two-Cell)\n      /1.1V(One-Cell)\n" + Text(38));
      break;
    case PresenceEvent::Binding:
      ShowLink(view_, "gifBind");
      GetText(4, view_["btnCombo_Cmd_Soft_Bind_SW"].text);
      break;
    case PresenceEvent::BindEnded:
      ShowLink(view_, "imgConnected");
      GetText(3, view_["btnCombo_Cmd_Soft_Bind_SW"].text);
      break;
    case PresenceEvent::BindSucceeded:
      ui_.ShowMessage("dlgBind", Text(2), Text(5));
      break;
    case PresenceEvent::BindFailed:
      ui_.ShowMessage("dlgBind", Text(2), Text(6));
      break;
    case PresenceEvent::PermissionDenied:
      ui_.ShowMessage("dlgError", "Message",
                      Words(PermissionHint(change.id, FindInstalledUdevRule())));
      break;
    case PresenceEvent::SensorAddressCleared:
      view_["edtRF_SensorAddr"].text = HexFieldText(0);
      break;
    case PresenceEvent::NoReceiver:
      // The engineer's trace says why no RX was opened; the operator sees "Not Ready".
      if (hooks_.trace) hooks_.trace("-- " + change.why.English());
      return;
    case PresenceEvent::LinkTickEnded:
      if (hooks_.linkTickEnded) hooks_.linkTickEnded();
      return;  // Go paints for itself
  }
  ui_.Render(view_);
}

Phrase PermissionHint(const VidPid& id, const std::string& installedRule) {
  const std::string dongle = HexText(uint32_t(id.vid), 4) + ":" + HexText(uint32_t(id.pid), 4);
#ifdef __linux__
  // The rule gives the dongle to the user at the station's own screen; a remote session or
  // one without a seat needs the group instead.
  if (!installedRule.empty())
    return Say(
        "A receiver dongle ({0}) is plugged in, but this user may not open it.\nThe udev rule {1} "
        "is installed: unplug and replug the dongle. If it still cannot be opened, log in at the "
        "station's own screen, or add this user to the plugdev group.",
        dongle, installedRule);
  return Say(
      "A receiver dongle ({0}) is plugged in, but this user may not open it.\nThe udev rule {1} "
      "lets the logged-in user open it; the korvel-rf package installs it. Without the package, "
      "install it with:\n{2}\nThen unplug and replug the dongle.",
      dongle, InstalledUdevRulePath(), UdevRuleInstallCommand());
#else
  (void)installedRule;
  return Say(
      "A receiver dongle ({0}) is plugged in, but this user may not open it.\nClose any other "
      "program that holds it, then unplug and replug the dongle.",
      dongle);
#endif
}

}  // namespace korvel
