#include "presenter/StationPresenter.h"

#include <cstdio>
#include <random>

#include "config/HotKeys.h"
#include "config/SettingsBinding.h"
#include "device/UdevRule.h"
#include "platform/Text.h"

namespace korvel {

namespace {
const char* const kBatteryTexts[] = {
    "Set BTY Low Level: VBAT <= 2.2V(Two-Cell)/1.1V(One-Cell)",
    "Set BTY Low Level: VBAT <= 2.0V(Two-Cell)/1.0V(One-Cell)",
    "Set BTY Low Level: VBAT <= 1.8V(Two-Cell)/0.9V(One-Cell)",
};

// Follow gbSetting, in this order (the four serial fields also need their byte counts).
const char* const kLocked[] = {"rbMouseOnly",
                               "rbKbdMse",
                               "suiSpinEdit1",
                               "suiSpinEdit2",
                               "cbCustKey1",
                               "cbCustKey2",
                               "rbRF_DR_15",
                               "rbRF_DR_1A",
                               "rbRF_CPI_H",
                               "rbRF_CPI_L",
                               "rbRF_DR_45",
                               "rbRF_DR_4A",
                               "rbRF_DR_4F",
                               "CallMAPX",
                               "cbRF_Set_BTY_Low_Level",
                               "edtVID_SET",
                               "edtPID_SET",
                               "edtEEPROM_20",
                               "ComboRFPower",
                               "cbResetRF",
                               "LRMBinding",
                               "Call3204L",
                               "cbRX_IsSN",
                               "cbRX_IsDate",
                               "edtRX_FixByteCount",
                               "edtRX_IncByteCount",
                               "edtRX_FixSN",
                               "edtRX_IncInitSN",
                               "rbRX_FixAscii",
                               "rbRX_FixHex",
                               "cbTX_IsSN",
                               "cbTX_IsDate",
                               "edtTX_FixByteCount",
                               "edtTX_IncByteCount",
                               "edtTX_FixSN",
                               "edtTX_IncInitSN",
                               "rbTX_FixAscii",
                               "rbTX_FixHex",
                               "cbKeyboardbind",
                               "rbRX_RandomRFID",
                               "rbRX_CustomRFID",
                               "edtRX_IncInitRFID",
                               "rbTX_RandomRFID",
                               "rbTX_CustomRFID",
                               "edtTX_IncInitRFID",
                               "gbWKUP",
                               "rbRF_DR_25",
                               "rbRF_DR_2A",
                               "TX_Erased",
                               "RX_Erased",
                               "btnYieldReset"};

constexpr const char* kRxNotReady = "Mouse RX Not Ready";
constexpr const char* kRxReady = "Mouse RX Ready";
constexpr const char* kTxNotReady = "Mouse TX Not Ready";
constexpr const char* kTxReady = "Mouse TX Ready";

void Radio(ViewState& v, const std::vector<const char*>& group, size_t checked) {
  for (size_t i = 0; i < group.size(); ++i) v[group[i]].checked = i == checked;
}

std::string Text(TTerm key) {
  std::string text;
  GetText(key, text);
  return text;
}

// Like the toolkit's float-to-text: shortest form, no trailing zeros.
std::string Milliseconds(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", ms);
  return std::string(text) + "ms";
}
}  // namespace

StationPresenter::StationPresenter(StationEnvironment env, StationView& view)
    : env_(std::move(env)),
      ui_(view),
      view_(InitialViewState()),
      link_(env_.hid, env_.host),
      finder_(link_.Hid()),
      file_(env_.iniPath.empty() ? env_.workingDirectory / kIniFileName : env_.iniPath),
      presence_(link_, finder_, env_.host, *this, [this] { return TypedIdentity(); }),
      programmer_(link_, env_.host, presence_),
      production_(ledger_, programmer_, file_, link_, env_.host),
      console_(link_, programmer_.Staging()),
      page_(view_, view, console_) {
  if (env_.date) ledger_.SetDateSource(env_.date);
  if (!env_.station.empty()) production_.SetStation(env_.station);
  production_.Record().SetBusyTimeout(env_.recordBusyMs);
  link_.SetOperationHook([this](const LinkOperation& operation) { page_.Show(operation); });
}

StationPresenter::~StationPresenter() = default;

std::optional<VidPid> StationPresenter::TypedIdentity() const {
  // A field that is not hexadecimal cannot name a device; no message every tick.
  const auto vid = HexFieldNumber(view_["edtVID_SET"].text);
  const auto pid = HexFieldNumber(view_["edtPID_SET"].text);
  if (!vid || !pid) return std::nullopt;
  return VidPid{int32_t(*vid), int32_t(*pid)};
}

void StationPresenter::FormCreate(const std::vector<std::string>& args) {
  autoStart_ = !args.empty();
  std::mt19937 random(env_.randomSeed ? env_.randomSeed
                                      : uint32_t(env_.host.TickCount()) ^ std::random_device{}());
  tempId_ = int(std::uniform_int_distribution<int>(0, 254)(random));
  FillFixedVidPids(finder_.Table());
  RegisterGeneratorClasses();
  presence_.DetectHIDDeviceCounter().SetEnabled(true);
  view_.caption += " For B-Nova Only";
  view_.caption += " TempID=" + std::to_string(tempId_);
  view_["lblResult"].text.clear();
  view_["Image1"].visible = false;
  if (env_.killOtherInstances) env_.killOtherInstances();
  LoadLanguage(env_.languageStore, [this](TLanguateKind pre) {
    // The link check must not talk to the devices while the operator is choosing.
    presence_.SetLanguageDialogOpen(true);
    const int chosen = ui_.AskLanguage(int(pre));
    presence_.SetLanguageDialogOpen(false);
    return chosen >= 0 && chosen <= 2 ? TLanguateKind(chosen) : pre;
  });
  view_["cbbLang"].itemIndex = int(CurrentLanguage());
  ApplyTexts();
  for (const char* name :
       {"edtEEPROM_20", "edtMseDongleAddr", "edtTX_SN", "edtRX_SN", "lblRX_Date", "lblTX_Date"})
    view_[name].text.clear();
  for (const char* box : {"cbCustKey1", "cbCustKey2"}) {
    ControlState& c = view_[box];
    c.items.clear();
    for (const HotKey& k : kHotKeys) c.items.push_back(k.text);
  }
  view_["cbCustKey1"].itemIndex = kDefaultCustKey1;
  view_["cbCustKey2"].itemIndex = kDefaultCustKey2;
  env_.host.ProcessMessages();
  for (const char* name : {"gb1", "gbRX", "gbTX", "edtMseDongleAddr", "edtTX_SN", "edtRX_SN",
                           "lbl14", "lbl55", "Label2"})
    view_[name].visible = false;
  view_["imgConnected"].top = view_["imgNoneDev"].top = view_["gifBind"].top;
  int w = 0, h = 0;
  const bool logo = ReadBmpSize(env_.workingDirectory / "logo.bmp", w, h);
  view_["imgCust"].visible = logo && w <= 400 && h <= 60;
  view_["imgLogo"].visible = !view_["imgCust"].visible;
  ControlState& bty = view_["cbRF_Set_BTY_Low_Level"];
  bty.items.assign(std::begin(kBatteryTexts), std::end(kBatteryTexts));
  bty.itemIndex = 2;
  FillFixedVidPids(finder_.Table());
  view_.width = kLayoutWidth;
  view_.height = kLayoutHeight;
  view_.left = ui_.ScreenWidth() / 2 - view_.width / 2;
  view_.top = ui_.ScreenHeight() / 2 - view_.height / 2;
  presence_.StartHotPlug(env_.hotPlug);
  // The engineer sees how devices are found: at once on the system's word, or by the timer.
  if (traceSink_) traceSink_("-- " + presence_.HotPlugStatus());
  const bool claimed = ClaimStation();
  btnLoadSettingClick();
  yield_.day = env_.date ? env_.date() : SystemLocalDate();
  yield_.since = env_.host.TickCount();
  if (claimed) OpenRecord();
  ShowYield();
  RefreshSerialPanel();
  Paint();
  // One station per settings file: a second one says so and does not number units.
  if (!claimed && file_.HeldElsewhere())
    Tell("dlgError", Say("{0}.\nThis station will not run Go on it. Close the other station, or "
                         "give this one its own TX.ini.",
                         file_.Problem()));
  else if (!claimed)
    Tell("dlgError", Say("{0}.\nThis station will not run Go on it until the settings file can "
                         "be locked.",
                         file_.Problem()));
}

bool StationPresenter::ClaimStation() {
  // Why a claim failed stays with the file: Problem() says it wherever Go is refused.
  return file_.Claimed() || file_.Claim(env_.program).Ok();
}

void StationPresenter::OpenRecord() {
  const std::filesystem::path path = !env_.recordPath.empty() ? env_.recordPath : recordFromIni_;
  const Status opened = production_.OpenRecord(path);
  if (!opened) {
    Tell("dlgError",
         Say("{0}.\nGo stays stopped until the production record can be written.", opened.failure));
    return;
  }
  // Today's counts go on from what the record holds of this station.
  if (const Result<DayCounts> today = production_.CountToday(); today) {
    yield_.pass = today->pass;
    yield_.fail = today->fail;
  }
  if (const auto notices = production_.TakeNotices(); !notices.empty())
    Tell("dlgError", JoinLines(notices));
}

void StationPresenter::CountYield(const RunResult& result) {
  const LocalDate today = env_.date ? env_.date() : SystemLocalDate();
  if (today.year != yield_.day.year || today.month != yield_.day.month ||
      today.day != yield_.day.day) {
    yield_.pass = yield_.fail = 0;
    yield_.day = today;
  }
  // A Go refused before any device was touched wrote no unit.
  if (result.stage == RunStage::Refused) return;
  ++(result.pass ? yield_.pass : yield_.fail);
  if (result.pass) ++yield_.passSince;
}

void StationPresenter::ShowYield() {
  const uint64_t ms = env_.host.TickCount() - yield_.since;
  std::string rate = "-";
  if (ms >= 60000) rate = std::to_string(uint64_t(yield_.passSince) * 3600000 / ms);
  view_["lblYield"].text =
      Words(Say("Today PASS {0}  FAIL {1}  {2} units/h", yield_.pass, yield_.fail, rate));
}

void StationPresenter::btnYieldResetClick() {
  if (!view_["gbSetting"].enabled) return;
  yield_.pass = yield_.fail = yield_.passSince = 0;
  yield_.since = env_.host.TickCount();
  ShowYield();
  Paint();
}

void StationPresenter::FormActivate() {
  startingUp_ = false;
  settingsWriteBlocked_ = false;
}

void StationPresenter::FormResize() {
  view_.width = kLayoutWidth;
  // The layout height has room for the panel groups at their full heights; hidden (as for
  // operators) they give all of it back, shown they give back what they are shorter by.
  view_.height = kLayoutHeight;
  for (const auto& [name, full] :
       {std::pair{"gb1", 70}, std::pair{"gbRX", 95}, std::pair{"gbTX", 95}})
    view_.height -= view_[name].visible ? full - view_[name].height : view_[name].height;
  const int bar = view_["pbSetTX"].height;
  view_["gbGo"].top = view_.height - view_["gbGo"].height - bar;
  view_["pbSetTX"].top = view_.height - bar;
}

bool StationPresenter::FormKeyDown(int virtualKey) {
  if (virtualKey != kVkPageDown || !view_["btnGo"].enabled) return false;
  btnGoClick();
  return true;
}

void StationPresenter::FormCloseQuery() {
  presence_.tmrSoftBind().SetEnabled(false);
  presence_.tmrIsTxLink().SetEnabled(false);
  // A failed unit's row first: once TX.ini took its numbers, nothing tells it any more.
  if (const Status settled = production_.SettleRecord(); !settled)
    Tell("dlgError",
         Say("the production record does not yet say that the last unit failed, and cannot be "
             "corrected: {0}",
             settled.failure));
  btnWriteSettingClick();
  // The window is closing: the mouse is let go whether or not it hears it.
  if (link_.HaveRx()) (void)link_.TxLeaveAccess();
  env_.host.Sleep(50);
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

void StationPresenter::Tell(const char* dialog, const Phrase& text) {
  ui_.ShowMessage(dialog, *dialog ? "Message" : "", Words(text));
}

void StationPresenter::ShowReason(Phrase reason) {
  reason_ = std::move(reason);
  // With no failure to tell, the line warns of a counter about to come round.
  view_["lblReason"].text = Words(reason_.empty() ? ledger_.WrapWarning() : reason_);
}

void StationPresenter::ApplyTexts() {
  for (const auto& [name, key] : TextBindings()) GetText(key, view_[name].text);
  // The program's own texts follow the language too.
  view_["btnYieldReset"].text = Words(Say("Reset"));
  view_["btnClearLng"].text = Words(Say("Clear"));
  ShowReason(reason_);
  ShowYield();
}

void StationPresenter::cbbLangChange(int index) {
  if (index < 0 || index > 2) return;
  SetCurrentLanguage(TLanguateKind(index));
  view_["cbbLang"].itemIndex = index;
  ApplyTexts();
  SaveLanguage(env_.languageStore);
  Paint();
}

void StationPresenter::btnClearLngClick() {
  // The language shown now stays until the program ends.
  const Phrase question =
      Say("Forget the saved language?\n\nThe next start of the tool will ask again which language "
          "to use.");
  if (ui_.AskYesNo("", Words(question))) ForgetLanguage(env_.languageStore);
}

void StationPresenter::imgLogoDblClick() {
  ControlState& setting = view_["gbSetting"];
  if (setting.enabled) {
    setting.enabled = false;
    if (engineerView_) ToggleEngineerView();
    ui_.ShowMessage("", "", "Locked");
  } else if (++logoDoubleClicks_ % 5 == 0) {
    const auto entered = ui_.AskPassword();
    if (entered && *entered == kPassPhrase) setting.enabled = true;
  }
  ApplyLock();
  Paint();
}

void StationPresenter::ApplyLock() {
  const bool on = view_["gbSetting"].enabled;
  for (const char* name : kLocked) view_[name].enabled = on;
  const Generators& g = ledger_.Gen();
  view_["edtRX_FixSN"].enabled = on && g.RxSN.FixSNByteCount() > 0;
  view_["edtRX_IncInitSN"].enabled = on && g.RxSN.IncSNByteCount() > 0;
  view_["edtTX_FixSN"].enabled = on && g.TxSN.FixSNByteCount() > 0;
  view_["edtTX_IncInitSN"].enabled = on && g.TxSN.IncSNByteCount() > 0;
}

void StationPresenter::SettingsToView(const Settings& settings) {
  Settings s = settings;  // the table reaches fields through a mutable object
  for (const SettingBinding& b : SettingBindings()) {
    const std::vector<const char*>& c = b.controls;
    switch (b.kind) {
      case SettingKind::Index:
      case SettingKind::Battery:
        view_[c[0]].itemIndex = s.*std::get<int Settings::*>(b.field);
        break;
      case SettingKind::Flag:
        view_[c[0]].checked = s.*std::get<bool Settings::*>(b.field);
        break;
      case SettingKind::Pair:
        Radio(view_, c, s.*std::get<bool Settings::*>(b.field) ? 0 : 1);
        break;
      case SettingKind::Choice:
        Radio(view_, c, size_t(s.*std::get<int Settings::*>(b.field)));
        break;
      case SettingKind::Number:
        view_[c[0]].value = s.*std::get<int Settings::*>(b.field);
        break;
      case SettingKind::Text:
      case SettingKind::HexId:
        view_[c[0]].text = s.*std::get<std::string Settings::*>(b.field);
        break;
      case SettingKind::Memory:
        delay_ = s.*std::get<int Settings::*>(b.field);
        break;
    }
  }
  SpinLabels();
  EraseEnables();
  view_["cbKeyboardbind"].visible = !s.MouseOnly;
}

Settings StationPresenter::CurrentSettings() const {
  Settings s;
  for (const SettingBinding& b : SettingBindings()) {
    const std::vector<const char*>& c = b.controls;
    switch (b.kind) {
      case SettingKind::Index:
      case SettingKind::Battery:
        s.*std::get<int Settings::*>(b.field) = view_[c[0]].itemIndex;
        break;
      case SettingKind::Flag:
      case SettingKind::Pair:
        s.*std::get<bool Settings::*>(b.field) = view_[c[0]].checked;
        break;
      case SettingKind::Choice: {
        // The last button stands for every state in which none before it is checked.
        int value = int(c.size()) - 1;
        for (int i = 0; i + 1 < int(c.size()); ++i)
          if (view_[c[size_t(i)]].checked) {
            value = i;
            break;
          }
        s.*std::get<int Settings::*>(b.field) = value;
        break;
      }
      case SettingKind::Number:
        s.*std::get<int Settings::*>(b.field) = view_[c[0]].value;
        break;
      case SettingKind::Text:
      case SettingKind::HexId:
        s.*std::get<std::string Settings::*>(b.field) = view_[c[0]].text;
        break;
      case SettingKind::Memory:
        s.*std::get<int Settings::*>(b.field) = delay_;
        break;
    }
  }
  return s;
}

void StationPresenter::btnLoadSettingClick() {
  Settings s = CurrentSettings();
  // Loading never stages device values.
  programmer_.Staging().StagingMode = kStagingLoading;
  const SettingsLoadReport report = file_.Load(s, finder_.Table(), &ledger_);
  recordFromIni_ = s.RecordPath.empty() ? std::filesystem::path()
                   : std::filesystem::path(s.RecordPath).is_absolute()
                       ? std::filesystem::path(s.RecordPath)
                       : file_.Target().parent_path() / s.RecordPath;
  production_.SetFleet(
      {env_.fleetUrl.empty() ? s.RecordUrl : env_.fleetUrl, s.RecordStation, s.RecordLease});
  SettingsToView(s);
  RefreshSerialPanel();
  programmer_.Staging().StagingMode = kStagingIdle;
  std::vector<Phrase> problems;
  if (!report.readError.empty()) problems.push_back(report.readError);
  for (const auto& bad : report.badDeviceEntries)
    problems.push_back(Say("TX.ini [Device] {0}={1}: not a VID/PID, skipped", bad.key, bad.text));
  for (const auto& bad : report.badGenerators)
    problems.push_back(Say("TX.ini {0}: {1} (started from the defaults)", bad.key, bad.text));
  if (!problems.empty()) Tell("dlgError", JoinLines(problems));
}

void StationPresenter::btnWriteSettingClick() {
  const Settings settings = CurrentSettings();
  const Result<WriteResult> written = file_.Write(settings, &ledger_, settingsWriteBlocked_);
  if (!written)
    Tell("dlgError", Say("The settings were not saved: {0}", written.status.failure));
  else if (const Phrase notKept = SettingsNotKept(settings);
           *written == WriteResult::Written && !notKept.empty())
    Tell("dlgError", notKept);
}

void StationPresenter::SpinLabels() {
  view_["Label3"].text = Milliseconds((256 - view_["suiSpinEdit1"].value) * 9.1418);
  view_["Label4"].text = Milliseconds((view_["suiSpinEdit2"].value + 1) * 400 / 1000.0);
}

void StationPresenter::EraseEnables() {
  view_["btnEraseTX"].enabled = view_["TX_Erased"].checked;
  view_["btnEraseRX"].enabled = view_["RX_Erased"].checked;
}

bool StationPresenter::Click(const std::string& name) {
  using P = StationPresenter;
  static const std::map<std::string, void (P::*)()> handlers = {
      {"btnGo", &P::btnGoClick},
      {"btnLoadSetting", &P::btnLoadSettingClick},
      {"btnYieldReset", &P::btnYieldResetClick},
      {"btnWriteSetting", &P::btnWriteSettingClick},
      {"btnClearLng", &P::btnClearLngClick},
      {"btnSetTX", &P::btnSetTXClick},
      {"btnEraseTX", &P::btnEraseTXClick},
      {"btnEraseRX", &P::btnEraseRXClick},
  };
  if (const auto it = handlers.find(name); it != handlers.end()) {
    (this->*it->second)();
  } else if (name == "btnCombo_Cmd_Soft_Bind_SW") {
    presence_.btnCombo_Cmd_Soft_Bind_SWClick();
  } else if (name == "btnPBind") {
    presence_.btnPBindClick();
  } else if (!page_.Click(name)) {
    return false;
  }
  Paint();
  return true;
}

void StationPresenter::ControlChanged(const std::string& name, const ControlState& state) {
  if (SerialPanelChanged(name, state)) return;
  view_[name] = state;
  if (name == "CallMAPX" || name == "Call3204L") btnWriteSettingClick();
  // A radio group of the settings keeps one button checked.
  if (state.checked)
    for (const SettingBinding& b : SettingBindings()) {
      if (b.kind != SettingKind::Pair && b.kind != SettingKind::Choice) continue;
      for (size_t i = 0; i < b.controls.size(); ++i)
        if (name == b.controls[i]) Radio(view_, b.controls, i);
    }
  if ((name == "rbMSE" || name == "rbKB") && state.checked) {
    // The device type follows the Device tab's choice at once.
    Radio(view_, {"rbMSE", "rbKB"}, name == "rbMSE" ? 0 : 1);
    presence_.SetDeviceType(name == "rbMSE" ? DeviceType::Mouse : DeviceType::Keyboard);
  } else if (name == "rbMouseOnly" || name == "rbKbdMse") {
    view_["cbKeyboardbind"].visible = !view_["rbMouseOnly"].checked;
  } else if (name == "suiSpinEdit1" || name == "suiSpinEdit2") {
    SpinLabels();
  } else if (name == "TX_Erased" || name == "RX_Erased") {
    EraseEnables();
  } else if (name.rfind("rbC_RF_", 0) == 0 && state.checked) {
    const std::vector<const char*> access = {"rbC_RF_ENTER_ACCESS_WO_LED",
                                             "rbC_RF_ENTER_ACCESS_W_LED", "rbC_RF_LEAVE_ACCESS"};
    const size_t chosen = name == access[0] ? 0 : name == access[1] ? 1 : 2;
    Radio(view_, access, chosen);
    page_.AccessChosen(AccessChoice(chosen));
  }
  Paint();
}

void StationPresenter::ShowLink(const char* picture) {
  for (const char* name : {"imgNoneDev", "gifBind", "imgConnected"})
    view_[name].visible = std::string(name) == picture;
}

void StationPresenter::NotReadyLook() {
  for (const char* name : {"btnGo", "rbKB", "rbMSE", "btnCombo_Cmd_Soft_Bind_SW"})
    view_[name].enabled = false;
  GetText(3, view_["btnCombo_Cmd_Soft_Bind_SW"].text);
  ShowLink("imgNoneDev");
}

void StationPresenter::OnPresence(const PresenceChange& change) {
  switch (change.event) {
    case PresenceEvent::NotReadyLook:
      NotReadyLook();
      break;
    case PresenceEvent::RxNotReady:
      NotReadyLook();
      view_["edtVID"].text.clear();
      view_["edtPID"].text.clear();
      view_["ledRX"].checked = false;
      view_["ledTX"].checked = false;
      view_["edtRX"].text = kRxNotReady;
      view_["edtTX"].text = kTxNotReady;
      break;
    case PresenceEvent::DevicesChanged:
      view_["lblResult"].text.clear();
      ShowReason({});
      view_["Image1"].visible = false;
      for (const char* name : {"edtMseDongleAddr", "edtTX_SN", "edtRX_SN", "edtCaliTime"})
        view_[name].text.clear();
      view_["pbSetTX"].value = 0;
      break;
    case PresenceEvent::RxOpened:
      ShowLink("imgNoneDev");
      for (const char* name : {"rbKB", "rbMSE", "btnCombo_Cmd_Soft_Bind_SW"})
        view_[name].enabled = true;
      view_["edtVID"].text = HexText(uint32_t(change.id.vid) & 0xFFFF, 4);
      view_["edtPID"].text = HexText(uint32_t(change.id.pid) & 0xFFFF, 4);
      break;
    case PresenceEvent::RxReady:
      ShowLink("imgConnected");
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
      NotReadyLook();
      Paint();
      ui_.ShowMessage("dlgBat", "Message",
                      Text(37) + "\n< 2.2V(Two-Cell)\n      /1.1V(One-Cell)\n" + Text(38));
      break;
    case PresenceEvent::Binding:
      ShowLink("gifBind");
      GetText(4, view_["btnCombo_Cmd_Soft_Bind_SW"].text);
      break;
    case PresenceEvent::BindEnded:
      ShowLink("imgConnected");
      GetText(3, view_["btnCombo_Cmd_Soft_Bind_SW"].text);
      break;
    case PresenceEvent::BindSucceeded:
      ui_.ShowMessage("dlgBind", Text(2), Text(5));
      break;
    case PresenceEvent::BindFailed:
      ui_.ShowMessage("dlgBind", Text(2), Text(6));
      break;
    case PresenceEvent::PermissionDenied:
      Tell("dlgError", PermissionHint(change.id, FindInstalledUdevRule()));
      break;
    case PresenceEvent::SensorAddressCleared:
      view_["edtRF_SensorAddr"].text = HexFieldText(0);
      break;
    case PresenceEvent::LinkTickEnded:
      if (autoStart_ && presence_.TxLampOn() && !startingUp_) btnGoClick();
      return;  // Go paints for itself
  }
  Paint();
}

std::string StationPresenter::FormatTrace(const HidTraceEvent& event) {
  char head[48];
  std::snprintf(head, sizeof head, "%10llu ms %s ", static_cast<unsigned long long>(event.timeMs),
                event.direction == HidTraceEvent::Direction::Sent ? "->" : "<-");
  std::string line = head;
  for (size_t i = 0; i < event.bytes.size(); ++i)
    line += (i ? " " : "") + HexText(event.bytes[i], 2);
  if (!event.ok) line += "  (failed)";
  return line;
}

void StationPresenter::SetTraceSink(std::function<void(const std::string&)> sink) {
  traceSink_ = sink;
  if (!sink) {
    link_.SetTraceHook(nullptr);
    return;
  }
  link_.SetTraceHook(
      [sink = std::move(sink)](const HidTraceEvent& event) { sink(FormatTrace(event)); });
}

}  // namespace korvel
