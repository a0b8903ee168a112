// The main window's core: the handlers keep the window's names (FormCreate, btnGoClick, ...)
// and delegate to the rooms the station was built with. This one owns what the operator sees
// (the ViewState), the settings lock and the language, and maps the rooms' events and results
// onto the controls by name. A window (Qt or Win32) renders View() and forwards every click
// and every change of a control here.
#pragma once

#include <filesystem>
#include <functional>
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
#include "presenter/PresenceView.h"
#include "presenter/RunView.h"
#include "presenter/SerialPanel.h"
#include "production/GoCycle.h"
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
constexpr int kVkReturn = 13;
constexpr int kVkPageDown = 34;

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

// The rooms the presenter drives; the station builds and owns them.
struct StationRooms {
  Settings& settings;
  RxLink& link;
  ReceiverFinder& finder;
  NumberingLedger& ledger;
  SettingsFile& file;
  PresenceMonitor& presence;
  UnitProgrammer& programmer;
  ProductionRun& production;
  GoCycle& go;
  EngineeringConsole& console;
};

// What the window's handlers keep between calls, for the window and for tests.
struct PresenterState {
  bool autoStart = false;  // any parameter on the command line
  bool startingUp = true;  // until the window is first activated
  int tempId = 0;          // the caption's TempID
  int logoDoubleClicks = 0;
  bool engineerView = false;
};

class StationPresenter final {
 public:
  StationPresenter(const StationEnvironment& env, StationView& view, StationRooms rooms);
  ~StationPresenter();

  void FormCreate(const std::vector<std::string>& args);
  void FormActivate();
  void FormResize();
  // True when the key was taken: PageDown and Enter press Go while it is enabled.
  bool FormKeyDown(int virtualKey);
  void FormCloseQuery();

  void imgLogoDblClick();
  void cbbLangChange(int index);
  void btnClearLngClick();
  void btnLoadSettingClick();
  void btnWriteSettingClick();
  // One unit end to end (Go), and Set TX on its own.
  void btnGoClick();
  void btnSetTXClick();
  void btnEraseTXClick();
  void btnEraseRXClick();
  // The engineer sets today's counts and the rate back to zero.
  void btnYieldResetClick();
  // "Connect", and PBind Switch.
  void btnCombo_Cmd_Soft_Bind_SWClick();
  void btnPBindClick();
  // A button of the window by its name; false when nothing handles it.
  bool Click(const std::string& name);
  // The window reports an operator's change of a control's value (edits when committed).
  void ControlChanged(const std::string& name, const ControlState& state);
  // Shows or hides the panels an operator never needs (serials and IDs, the engineering
  // page); only while the settings are unlocked. The window binds it to Ctrl+Shift+E.
  void ToggleEngineerView();

  // Every feature report sent and fetched, one line each, to the window's trace list.
  void SetTraceSink(std::function<void(const std::string&)> sink);

  ViewState& View() { return view_; }
  const PresenterState& State() const { return state_; }
  const YieldCount& Yield() const { return run_.Yield(); }

 private:
  void Paint() { ui_.Render(view_); }
  void ApplyTexts();
  void ApplyLock();
  // The serial panel as the generators now stand, and what follows from it on the window.
  void RefreshPanel();
  // A message box of the program's own words, in the operator's language.
  void Tell(const char* dialog, const Phrase& text);
  // Claims TX.ini (reloading it when a claim succeeds late) and opens the record.
  bool ClaimStation();
  void OpenRecord();
  // Before a unit is numbered: the VID/PID fields checked, TX.ini taken over when it is free.
  void BeforeRun();

  StationEnvironment env_;
  StationView& ui_;
  ViewState view_;
  StationRooms rooms_;
  Settings& settings_;
  EngineeringPage page_;
  SerialPanel panel_;
  RunView run_;
  PresenceView presenceView_;
  std::unique_ptr<HostTimer> noteTimer_;  // the reason line follows the fleet's state
  PresenterState state_;
  std::function<void(const std::string&)> traceSink_;
  std::filesystem::path recordFromIni_;  // [Record] Path, as last loaded
  bool settingsWriteBlocked_ = true;
};

// A trace line: time, direction and the report's bytes, named when the code is known.
std::string FormatTrace(const HidTraceEvent& event);
// Which control shows which text of the table, in the order they are applied.
std::vector<std::pair<std::string, TTerm>> TextBindings();
// The controls as the window is created, before FormCreate.
ViewState InitialViewState();
// Width and height of a Windows bitmap file; false when it is not one.
bool ReadBmpSize(const std::filesystem::path& path, int& width, int& height);

}  // namespace korvel
