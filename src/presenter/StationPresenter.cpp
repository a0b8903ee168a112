#include "presenter/StationPresenter.h"

#include <cstdio>
#include <map>
#include <random>

#include "config/HotKeys.h"
#include "device/Protocol.h"
#include "platform/Text.h"
#include "presenter/SettingsView.h"

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

void Radio(ViewState& v, const std::vector<const char*>& group, size_t checked) {
  for (size_t i = 0; i < group.size(); ++i) v[group[i]].checked = i == checked;
}

}  // namespace

StationPresenter::StationPresenter(const StationEnvironment& env, StationView& view,
                                   StationRooms rooms)
    : env_(env),
      ui_(view),
      view_(InitialViewState()),
      rooms_(rooms),
      settings_(rooms.settings),
      page_(view_, view, rooms.console, rooms.settings),
      panel_(view_, rooms.ledger),
      run_(view_, view, page_, rooms.settings, env.host,
           env.date ? env.date : DateSource(SystemLocalDate),
           {.paint = [this] { Paint(); },
            .beforeRun = [this] { BeforeRun(); },
            .afterRun = [this] { RefreshPanel(); }}),
      presenceView_(view_, view, run_,
                    {.trace =
                         [this](const std::string& line) {
                           if (traceSink_) traceSink_(line);
                         },
                     .linkTickEnded =
                         [this] {
                           if (state_.autoStart && rooms_.presence.Ready().tx && !state_.startingUp)
                             btnGoClick();
                         }}),
      noteTimer_(env.host.CreateTimer()) {
  rooms_.presence.SetListener(&presenceView_);
  rooms_.link.SetOperationHook([this](const LinkOperation& operation) { page_.Show(operation); });
  // With no failure to tell, the reason line says the fleet database is out of reach, or
  // warns of a counter about to come round.
  run_.idleNote = [this] {
    const Phrase fleet = FleetStatusLine(rooms_.production.Fleet());
    return fleet.empty() ? rooms_.ledger.WrapWarning() : fleet;
  };
  // The fleet's state changes on the sender's own thread: the line follows it here.
  noteTimer_->SetInterval(1000);
  noteTimer_->OnTimer = [this] {
    if (run_.RefreshNote()) Paint();
  };
}

StationPresenter::~StationPresenter() {
  rooms_.presence.SetListener(nullptr);
  rooms_.link.SetOperationHook(nullptr);
}

void StationPresenter::FormCreate(const std::vector<std::string>& args) {
  state_.autoStart = !args.empty();
  std::mt19937 random(env_.randomSeed ? env_.randomSeed
                                      : uint32_t(env_.host.TickCount()) ^ std::random_device{}());
  state_.tempId = int(std::uniform_int_distribution<int>(0, 254)(random));
  FillFixedVidPids(rooms_.finder.Table());
  RegisterGeneratorClasses();
  rooms_.presence.DetectHIDDeviceCounter().SetEnabled(true);
  view_.caption += " For B-Nova Only";
  view_.caption += " TempID=" + std::to_string(state_.tempId);
  view_["lblResult"].text.clear();
  view_["Image1"].visible = false;
  if (env_.killOtherInstances) env_.killOtherInstances();
  LoadLanguage(env_.languageStore, [this](TLanguateKind pre) {
    // The link check must not talk to the devices while the operator is choosing.
    rooms_.presence.SetLanguageDialogOpen(true);
    const int chosen = ui_.AskLanguage(int(pre));
    rooms_.presence.SetLanguageDialogOpen(false);
    return chosen >= 0 && chosen <= 2 ? TLanguateKind(chosen) : pre;
  });
  view_["cbbLang"].itemIndex = int(CurrentLanguage());
  ApplyTexts();
  for (const char* name :
       {"edtEEPROM_20", "edtMseDongleAddr", "edtTX_SN", "edtRX_SN", "lblRX_Date", "lblTX_Date"})
    view_[name].text.clear();
  settings_.PName.clear();
  for (const char* box : {"cbCustKey1", "cbCustKey2"}) {
    ControlState& c = view_[box];
    c.items.clear();
    for (const HotKey& k : kHotKeys) c.items.push_back(k.text);
  }
  settings_.CustKey1 = view_["cbCustKey1"].itemIndex = kDefaultCustKey1;
  settings_.CustKey2 = view_["cbCustKey2"].itemIndex = kDefaultCustKey2;
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
  settings_.BTY = bty.itemIndex = 2;
  FillFixedVidPids(rooms_.finder.Table());
  view_.width = kLayoutWidth;
  view_.height = kLayoutHeight;
  view_.left = ui_.ScreenWidth() / 2 - view_.width / 2;
  view_.top = ui_.ScreenHeight() / 2 - view_.height / 2;
  rooms_.presence.HotPlug().Start(env_.hotPlug);
  // The engineer sees how devices are found: at once on the system's word, or by the timer.
  if (traceSink_) traceSink_("-- " + rooms_.presence.HotPlug().Status());
  const bool claimed = ClaimStation();
  btnLoadSettingClick();
  run_.ResetYield();
  if (claimed) OpenRecord();
  RefreshPanel();
  Paint();
  // One station per settings file: a second one says so and does not number units.
  if (!claimed && rooms_.file.HeldElsewhere())
    Tell("dlgError", Say("{0}.\nThis station will not run Go on it. Close the other station, or "
                         "give this one its own TX.ini.",
                         rooms_.file.Problem()));
  else if (!claimed)
    Tell("dlgError", Say("{0}.\nThis station will not run Go on it until the settings file can "
                         "be locked.",
                         rooms_.file.Problem()));
}

bool StationPresenter::ClaimStation() {
  // Why a claim failed stays with the file: Problem() says it wherever Go is refused.
  return rooms_.file.Claimed() || rooms_.file.Claim(env_.program).Ok();
}

void StationPresenter::OpenRecord() {
  const std::filesystem::path path = !env_.recordPath.empty() ? env_.recordPath : recordFromIni_;
  const Status opened = rooms_.production.OpenRecord(path);
  if (!opened) {
    Tell("dlgError",
         Say("{0}.\nGo stays stopped until the production record can be written.", opened.failure));
    return;
  }
  // Today's counts go on from what the record holds of this station.
  if (const Result<DayCounts> today = rooms_.production.CountToday(); today)
    run_.SetToday(today->pass, today->fail);
  if (const auto notices = rooms_.production.TakeNotices(); !notices.empty())
    Tell("dlgError", JoinLines(notices));
}

void StationPresenter::BeforeRun() {
  // A VID or PID that is not hexadecimal is said before the run refuses it.
  (void)page_.FieldWord("edtVID_SET");
  (void)page_.FieldWord("edtPID_SET");
  // A station refused its TX.ini at start takes it as soon as the other one lets go.
  if (!rooms_.file.Claimed() && ClaimStation()) {
    btnLoadSettingClick();
    OpenRecord();
  }
}

void StationPresenter::btnYieldResetClick() {
  if (!view_["gbSetting"].enabled) return;
  run_.ResetYield();
  Paint();
}

void StationPresenter::FormActivate() {
  state_.startingUp = false;
  settingsWriteBlocked_ = false;
}

void StationPresenter::FormResize() {
  view_.width = kLayoutWidth;
  // The layout height has room for the panel groups at their full heights; hidden (as for
  // operators) they give all of it back, shown they give back what they are shorter by.
  view_.height = kLayoutHeight;
  for (const auto& [name, full] :
       {std::pair{"gb1", 70}, std::pair{"gbRX", 95}, std::pair{"gbTX", 95}})
    view_.height -= view_[name].visible ? full - view_[name].height : full;
  const int bar = view_["pbSetTX"].height;
  view_["gbGo"].top = view_.height - view_["gbGo"].height - bar;
  view_["pbSetTX"].top = view_.height - bar;
}

bool StationPresenter::FormKeyDown(int virtualKey) {
  // Go is the window's default button: Enter presses it as PageDown does.
  if ((virtualKey != kVkPageDown && virtualKey != kVkReturn) || !view_["btnGo"].enabled)
    return false;
  btnGoClick();
  return true;
}

void StationPresenter::FormCloseQuery() {
  rooms_.presence.tmrSoftBind().SetEnabled(false);
  rooms_.presence.tmrIsTxLink().SetEnabled(false);
  // A failed unit's row first: once TX.ini took its numbers, nothing tells it any more.
  if (const Status settled = rooms_.production.SettleRecord(); !settled)
    Tell("dlgError",
         Say("the production record does not yet say that the last unit failed, and cannot be "
             "corrected: {0}",
             settled.failure));
  btnWriteSettingClick();
  // The window is closing: the mouse is let go whether or not it hears it.
  if (rooms_.link.HaveRx()) (void)rooms_.link.TxLeaveAccess();
  env_.host.Sleep(50);
}

void StationPresenter::Tell(const char* dialog, const Phrase& text) {
  ui_.ShowMessage(dialog, *dialog ? "Message" : "", Words(text));
}

void StationPresenter::ApplyTexts() {
  for (const auto& [name, key] : TextBindings()) GetText(key, view_[name].text);
  // The program's own texts follow the language too.
  view_["btnYieldReset"].text = Words(Say("Reset"));
  view_["btnClearLng"].text = Words(Say("Clear"));
  run_.ApplyTexts();
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
    if (state_.engineerView) ToggleEngineerView();
    ui_.ShowMessage("", "", "Locked");
  } else if (++state_.logoDoubleClicks % 5 == 0) {
    const auto entered = ui_.AskPassword();
    if (entered && *entered == kPassPhrase) setting.enabled = true;
  }
  ApplyLock();
  Paint();
}

void StationPresenter::ApplyLock() {
  const bool on = view_["gbSetting"].enabled;
  for (const char* name : kLocked) view_[name].enabled = on;
  const Generators& g = rooms_.ledger.Gen();
  view_["edtRX_FixSN"].enabled = on && g.RxSN.FixSNByteCount() > 0;
  view_["edtRX_IncInitSN"].enabled = on && g.RxSN.IncSNByteCount() > 0;
  view_["edtTX_FixSN"].enabled = on && g.TxSN.FixSNByteCount() > 0;
  view_["edtTX_IncInitSN"].enabled = on && g.TxSN.IncSNByteCount() > 0;
}

void StationPresenter::RefreshPanel() {
  panel_.Refresh();
  ApplyLock();
  FormResize();
  run_.ApplyTexts();
}

void StationPresenter::btnLoadSettingClick() {
  // Loading never stages device values.
  rooms_.programmer.Staging().StagingMode = kStagingLoading;
  const SettingsLoadReport report =
      rooms_.file.Load(settings_, rooms_.finder.Table(), &rooms_.ledger);
  recordFromIni_ = settings_.RecordPath.empty() ? std::filesystem::path()
                   : std::filesystem::path(settings_.RecordPath).is_absolute()
                       ? std::filesystem::path(settings_.RecordPath)
                       : rooms_.file.Target().parent_path() / settings_.RecordPath;
  rooms_.production.SetFleet({env_.fleetUrl.empty() ? settings_.RecordUrl : env_.fleetUrl,
                              settings_.RecordStation, settings_.RecordLease});
  noteTimer_->SetEnabled(rooms_.production.Fleet().configured);
  ShowSettings(settings_, view_);
  RefreshPanel();
  rooms_.programmer.Staging().StagingMode = kStagingIdle;
  std::vector<Phrase> problems;
  if (!report.readError.empty()) problems.push_back(report.readError);
  for (const auto& bad : report.badDeviceEntries)
    problems.push_back(Say("TX.ini [Device] {0}={1}: not a VID/PID, skipped", bad.key, bad.text));
  for (const auto& bad : report.badGenerators)
    problems.push_back(Say("TX.ini {0}: {1} (started from the defaults)", bad.key, bad.text));
  if (!problems.empty()) Tell("dlgError", JoinLines(problems));
}

void StationPresenter::btnWriteSettingClick() {
  const Result<WriteResult> written =
      rooms_.file.Write(settings_, &rooms_.ledger, settingsWriteBlocked_);
  if (!written)
    Tell("dlgError", Say("The settings were not saved: {0}", written.status.failure));
  else if (const Phrase notKept = SettingsNotKept(settings_);
           *written == WriteResult::Written && !notKept.empty())
    Tell("dlgError", notKept);
}

void StationPresenter::btnGoClick() {
  if (!rooms_.go.Busy()) {
    view_["btnGo"].enabled = false;
    for (const char* name :
         {"edtCaliTime", "lblResult", "edtTX_SN", "edtRX_SN", "edtMseDongleAddr"})
      view_[name].text.clear();
    run_.ShowReason({});
    view_["Image1"].visible = false;
  }
  rooms_.go.Go(settings_, settings_.EnabledMAPX, state_.autoStart, run_);
  Paint();
}

void StationPresenter::btnSetTXClick() {
  rooms_.go.SetTx(settings_, run_);
  Paint();
}

void StationPresenter::btnEraseTXClick() {
  if (!view_["TX_Erased"].checked || !rooms_.link.HaveRx()) return;
  int failedAt = -1;
  const Status erased = rooms_.console.EraseTx(failedAt);
  Paint();
  if (erased)
    ui_.ShowMessage("", "", "TX Erased");
  else if (failedAt < 0)
    Tell("", Say("TX erase failed before the first EEPROM address: {0}", erased.failure));
  else
    Tell("", Say("TX erase failed at EEPROM address {0}: {1}", HexText(uint32_t(failedAt), 2),
                 erased.failure));
}

void StationPresenter::btnEraseRXClick() {
  if (!view_["RX_Erased"].checked || !rooms_.link.HaveRx()) return;
  int failedAt = -1;
  const Status erased = rooms_.console.EraseRx(failedAt);
  Paint();
  if (erased)
    ui_.ShowMessage("", "", "RX Erased");
  else
    Tell("", Say("RX erase failed at register {0}: {1}", failedAt, erased.failure));
}

void StationPresenter::btnCombo_Cmd_Soft_Bind_SWClick() {
  rooms_.presence.Connect();
}

void StationPresenter::btnPBindClick() {
  rooms_.presence.PBindSwitch();
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
      {"btnCombo_Cmd_Soft_Bind_SW", &P::btnCombo_Cmd_Soft_Bind_SWClick},
      {"btnPBind", &P::btnPBindClick},
  };
  if (const auto it = handlers.find(name); it != handlers.end())
    (this->*it->second)();
  else if (!page_.Click(name))
    return false;
  Paint();
  return true;
}

void StationPresenter::ControlChanged(const std::string& name, const ControlState& state) {
  if (const SerialPanel::Change change = panel_.Take(name, state); change.handled) {
    RefreshPanel();
    if (!change.refused.empty()) {
      Paint();
      Tell("dlgError", change.refused);
      return;
    }
    if (change.changed) btnWriteSettingClick();
    Paint();
    return;
  }
  view_[name] = state;
  // The controls edit the settings; runs and detection read them from there.
  TakeSetting(settings_, name, state, view_);
  if (name == "CallMAPX" || name == "Call3204L") btnWriteSettingClick();
  if ((name == "rbMSE" || name == "rbKB") && state.checked) {
    // The device type follows the Device tab's choice at once.
    Radio(view_, {"rbMSE", "rbKB"}, name == "rbMSE" ? 0 : 1);
    rooms_.presence.SetDeviceType(name == "rbMSE" ? DeviceType::Mouse : DeviceType::Keyboard);
  } else if (name == "rbMouseOnly" || name == "rbKbdMse") {
    view_["cbKeyboardbind"].visible = !settings_.MouseOnly;
  } else if (name == "suiSpinEdit1" || name == "suiSpinEdit2") {
    ShowSpinLabels(view_);
  } else if (name == "TX_Erased" || name == "RX_Erased") {
    ShowEraseEnables(view_);
  } else if (name.rfind("rbC_RF_", 0) == 0 && state.checked) {
    const std::vector<const char*> access = {"rbC_RF_ENTER_ACCESS_WO_LED",
                                             "rbC_RF_ENTER_ACCESS_W_LED", "rbC_RF_LEAVE_ACCESS"};
    const size_t chosen = name == access[0] ? 0 : name == access[1] ? 1 : 2;
    Radio(view_, access, chosen);
    page_.AccessChosen(AccessChoice(chosen));
  }
  Paint();
}

void StationPresenter::ToggleEngineerView() {
  if (!view_["gbSetting"].enabled && !state_.engineerView) return;
  state_.engineerView = !state_.engineerView;
  for (const char* name : {"gb1", "gbRX", "gbTX", "spgcntrl1"})
    view_[name].visible = state_.engineerView;
  // Built with every tab but the first disabled; an engineer who opens the page uses them all.
  if (state_.engineerView)
    for (const char* tab : {"stbsht3", "shtRF", "sht1", "sht2", "sht3"}) view_[tab].enabled = true;
  FormResize();
  Paint();
}

std::string FormatTrace(const HidTraceEvent& event) {
  char head[48];
  const bool sent = event.direction == HidTraceEvent::Direction::Sent;
  std::snprintf(head, sizeof head, "%10llu ms %s ", static_cast<unsigned long long>(event.timeMs),
                sent ? "->" : "<-");
  std::string line = head;
  for (size_t i = 0; i < event.bytes.size(); ++i)
    line += (i ? " " : "") + HexText(event.bytes[i], 2);
  // A request says which command it is; an answer's bytes are data.
  if (const CommandEntry* command = sent ? FindCommand(event.bytes[1]) : nullptr)
    line += std::string("  ") + command->name;
  if (!event.ok) line += "  (failed)";
  return line;
}

void StationPresenter::SetTraceSink(std::function<void(const std::string&)> sink) {
  traceSink_ = sink;
  if (!sink) {
    rooms_.link.SetTraceHook(nullptr);
    return;
  }
  rooms_.link.SetTraceHook(
      [sink = std::move(sink)](const HidTraceEvent& event) { sink(FormatTrace(event)); });
}

}  // namespace korvel
