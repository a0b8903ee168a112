// The main window's core: the handlers keep the window's names (FormCreate, btnGoClick, ...)
// and delegate to the rooms below, each owning its state. This one owns what the operator
// sees (the ViewState), the settings lock, the language and the serial panel's checks, and
// maps the rooms' events and results onto the controls by name. A window (Qt or Win32)
// renders View() and forwards every click here.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/Settings.h"
#include "config/SettingsFile.h"
#include "device/ReceiverFinder.h"
#include "device/RxLink.h"
#include "localization/Lang.h"
#include "platform/Host.h"
#include "presence/PresenceMonitor.h"
#include "presenter/EngineeringConsole.h"
#include "presenter/EngineeringPage.h"
#include "production/LocalDate.h"
#include "production/NumberingLedger.h"
#include "production/ProductionRun.h"
#include "production/UnitProgrammer.h"
#include "ui/ViewState.h"

namespace korvel {

constexpr const char* kFormCaption = "Korvel 2.4GHz RF SoC Manufacture Tool V0.37 ";
constexpr const char* kApplicationTitle = "Korvel 2.4GHz RF SoC Manufacture Tool ";
constexpr const char* kPassPhrase = "MeridonQX";
constexpr int kLayoutWidth = 900;
constexpr int kLayoutHeight = 740;
constexpr int kVkPageDown = 34;
// The external programming tool, in the working directory.
constexpr const char* kMapxProgram = "MAPX_RF_auto.exe";

struct StationEnvironment {
  Host& host;
  HidPlatform& hid;
  LanguageStore& languageStore;
  std::filesystem::path workingDirectory = ".";
  std::function<int()> killOtherInstances;  // ends other copies; tests leave it empty
  uint32_t randomSeed = 0;
  std::filesystem::path iniPath;                           // empty: TX.ini in the working directory
  DateSource date;                                         // empty: today, from the system clock
  std::function<bool(const std::string&)> startProgram;    // empty: a detached process
  std::function<bool(const std::string&)> reportToLoader;  // the loader's new title
  // The production record; empty: [Record] Path of TX.ini, else production.db beside TX.ini.
  std::filesystem::path recordPath;
  std::string fleetUrl;  // the fleet database; empty: [Record] Url of TX.ini (none without it)
  std::string program = "korvel-rf-tool";  // names this station in the settings file's lock
  std::string station;                     // the record's station; empty: the PC's name
  int recordBusyMs = 2000;                 // how long a record write waits for another writer
  HotPlugSource* hotPlug = nullptr;        // the system's hot-plug word; null: the timer alone
};

// Today's units at this station, for the yield shown beside Go.
struct YieldCount {
  int pass = 0;
  int fail = 0;
  LocalDate day;
  uint64_t since = 0;  // tick of the program's start (or the engineer's reset)
  int passSince = 0;
};

class StationPresenter final : private PresenceListener, private RunObserver {
 public:
  StationPresenter(StationEnvironment env, StationView& view);
  ~StationPresenter() override;

  void FormCreate(const std::vector<std::string>& args);
  void FormActivate();
  void FormResize();
  // True when the key was taken (PageDown with Go enabled).
  bool FormKeyDown(int virtualKey);
  void FormCloseQuery();

  void imgLogoDblClick();
  void cbbLangChange(int index);
  void btnClearLngClick();
  void btnLoadSettingClick();
  void btnWriteSettingClick();
  // One unit end to end (Go), and the Set TX run it times.
  void btnGoClick();
  void btnSetTXClick();
  void btnEraseTXClick();
  void btnEraseRXClick();
  // The engineer sets today's counts and the rate back to zero.
  void btnYieldResetClick();
  // A button of the window by its name; false when nothing handles it.
  bool Click(const std::string& name);
  // The window reports an operator's change of a control's value (edits when committed).
  void ControlChanged(const std::string& name, const ControlState& state);

  // The serial-number and ID panel: shows the four generators.
  void RefreshSerialPanel();
  // Shows or hides the panels an operator never needs (serials and IDs, the engineering
  // page); only while the settings are unlocked. The window binds it to Ctrl+Shift+E.
  void ToggleEngineerView();

  // Every feature report sent and fetched, one line each, to the window's trace list.
  void SetTraceSink(std::function<void(const std::string&)> sink);
  static std::string FormatTrace(const HidTraceEvent& event);

  ViewState& View() { return view_; }
  const std::filesystem::path& WorkingDirectory() const { return env_.workingDirectory; }
  // The settings as the controls hold them now.
  Settings CurrentSettings() const;
  const RunResult& LastRun() const { return lastRun_; }
  bool AutoStart() const { return autoStart_; }
  bool StartingUp() const { return startingUp_; }
  int TempID() const { return tempId_; }
  int GoRequests() const { return goRequests_; }
  int LogoDoubleClicks() const { return logoDoubleClicks_; }
  bool EngineerView() const { return engineerView_; }

  // The rooms, for a second window and for tests.
  RxLink& Link() { return link_; }
  ReceiverFinder& Finder() { return finder_; }
  SettingsFile& File() { return file_; }
  ProductionRun& Production() { return production_; }
  const YieldCount& Yield() const { return yield_; }
  PresenceMonitor& Presence() { return presence_; }
  NumberingLedger& Ledger() { return ledger_; }
  UnitProgrammer& Programmer() { return programmer_; }
  EngineeringConsole& Console() { return console_; }

 private:
  // PresenceListener
  void OnPresence(const PresenceChange& change) override;
  // RunObserver
  void Progress(int position) override;
  void TxSerialShown(const std::string& text) override;
  void LinkIdShown(const std::string& text) override;
  void RxSerialShown(const std::string& text) override;
  void PhaseShown(Phase phase) override;
  void VidPidCleared() override;
  void RegisterStaged(uint8_t reg, uint8_t value) override { page_.ShowStaged(reg, value); }

  void Paint() { ui_.Render(view_); }
  void ApplyTexts();
  void ApplyLock();
  void SettingsToView(const Settings& s);
  void NotReadyLook();
  void ShowLink(const char* picture);
  void SpinLabels();
  void EraseEnables();
  std::optional<VidPid> TypedIdentity() const;
  void ShowResult(const RunResult& result);
  // A message box of the program's own words, in the operator's language.
  void Tell(const char* dialog, const Phrase& text);
  // Why the last unit failed, below its result (kept to follow a change of language).
  void ShowReason(Phrase reason);
  // Claims TX.ini (reloading it when a claim succeeds late) and opens the record.
  bool ClaimStation();
  void OpenRecord();
  void CountYield(const RunResult& result);
  void ShowYield();

  // The serial panel.
  bool SerialPanelChanged(const std::string& name, const ControlState& state);
  void PanelError(const Phrase& text);

  StationEnvironment env_;
  StationView& ui_;
  ViewState view_;
  RxLink link_;
  ReceiverFinder finder_;
  NumberingLedger ledger_;
  SettingsFile file_;
  PresenceMonitor presence_;
  UnitProgrammer programmer_;
  ProductionRun production_;
  EngineeringConsole console_;
  EngineeringPage page_;

  RunResult lastRun_;
  Phrase reason_;
  YieldCount yield_;
  std::function<void(const std::string&)> traceSink_;
  std::filesystem::path recordFromIni_;  // [Record] Path, as last loaded
  int delay_ = 0;                        // "Delay": kept between a load and a write
  bool autoStart_ = false;
  bool startingUp_ = true;
  bool settingsWriteBlocked_ = true;
  int tempId_ = 0;
  int goRequests_ = 0;
  int logoDoubleClicks_ = 0;
  bool engineerView_ = false;
};

// A run's duration as the window shows it: seconds, a dot, milliseconds without padding.
std::string RunTimeText(uint64_t ms);
// The message for a dongle this user may not open, with the way to let them.
// `installedRule`: the udev rule found in place, or empty.
Phrase PermissionHint(const VidPid& id, const std::string& installedRule);
// Go's devices-not-ready message: text 36, then the missing sides, TX before RX.
std::string ReadinessMessage(bool txReady, bool rxReady);
// Which control shows which text of the table, in the order they are applied.
std::vector<std::pair<std::string, TTerm>> TextBindings();
// The controls as the window is created, before FormCreate.
ViewState InitialViewState();
// Width and height of a Windows bitmap file; false when it is not one.
bool ReadBmpSize(const std::filesystem::path& path, int& width, int& height);

}  // namespace korvel
