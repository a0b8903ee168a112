// The core of the main window: owns the shared state and exposes the window's handlers by
// their names. The window renders `View()` and forwards clicks here.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/Settings.h"
#include "device/CommandCatalogue.h"
#include "device/Staging.h"
#include "device/VidPidTable.h"
#include "localization/Lang.h"
#include "platform/Host.h"
#include "production/LocalDate.h"
#include "ui/ViewState.h"

namespace korvel {

constexpr const char* kFormCaption = "Korvel 2.4GHz RF SoC Manufacture Tool V0.37 ";
constexpr const char* kApplicationTitle = "Korvel 2.4GHz RF SoC Manufacture Tool ";
constexpr const char* kPassPhrase = "MeridonQX";
constexpr int kLayoutWidth = 900;
constexpr int kLayoutHeight = 740;
constexpr int kVkPageDown = 34;

struct StationEnvironment {
  Host& host;
  HidPlatform& hid;
  LanguageStore& languageStore;
  std::filesystem::path workingDirectory = ".";
  std::function<int()> killOtherInstances;  // ends other copies; tests leave it empty
  uint32_t randomSeed = 0;
  std::filesystem::path iniPath;                         // empty: TX.ini in the working directory
  DateSource date;                                       // empty: today, from the system clock
  std::function<bool(const std::string&)> startProgram;  // empty: a detached process
  std::function<bool(const std::string&)>
      reportToLoader;  // the loader's new title; empty: its window
};

class Station {
 public:
  Station(StationEnvironment env, StationView& view);
  ~Station();

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
  // A button of the window by its name; false when nothing handles it yet.
  bool Click(const std::string& name);
  // The window reports an operator's change of a control's value (edits when committed).
  void ControlChanged(const std::string& name, const ControlState& state);

  // The serial-number and ID panel: shows the four generators.
  void RefreshSerialPanel();
  // Shows or hides the panels an operator never needs (serials and IDs); only while the
  // settings are unlocked. The window binds it to Ctrl+Shift+E.
  void ToggleEngineerView();
  bool EngineerView = false;

  ViewState& View() { return view_; }
  const std::filesystem::path& WorkingDirectory() const { return env_.workingDirectory; }
  DeviceState& Device() { return device_; }
  Generators& GeneratorsRef() { return generators_; }
  const VidPidTableType& VidPidTable() const { return vidPidTable_; }
  StagingTables& Staging() { return staging_; }
  HostTimer& DetectHIDDeviceCounter() { return *detect_; }
  HostTimer& tmrSoftBind() { return *softBind_; }
  HostTimer& tmrIsTxLink() { return *isTxLink_; }

  // Device presence, binding and link monitoring.
  void DetectHIDDeviceCounterTimer();
  void tmrSoftBindTimer();
  void tmrIsTxLinkTimer();
  void btnCombo_Cmd_Soft_Bind_SWClick();
  void btnPBindClick();
  void TxStatusCheck();
  // Settings controls' handlers: stage only while StagingMode is 1.
  bool OptionClick(const std::string& name);
  void cbRF_Set_BTY_Low_LevelChange();
  void LRMBindingClick();
  void Call3204LClick();
  void RxTypeClick();
  void SpinLabels();
  void StagePeriods();
  void CpiClick();
  void EraseEnables();
  void CustKeyChange(int key);
  void btnUpdateCustKeyClick();

  // Engineering page operations.
  void RxDirectRead();
  void TransceiverRead();
  void btnWrt_RFICClick();
  void RfRead(const std::string& kind);
  void RfWrite(const std::string& kind);
  void RfDirectAction(const char* data);
  void btnC_RF_SETUP_CPIClick();
  void RfAccess(const std::string& choice);
  void EepromRead(const std::string& address);
  void EepromWrite(const std::string& address);
  void StringRead();
  void StringWrite();
  void IdRead(const char* which);
  void IdWrite(const char* which);
  std::optional<uint16_t> FieldWord(const std::string& name);
  bool HaveRx() const;
  // Every feature report sent and fetched, one line each, to the window's trace list.
  void SetTraceSink(std::function<void(const std::string&)> sink);
  static std::string FormatTrace(const HidTraceEvent& event);
  // Engineering page operations the monitoring drives.
  void SpecialCommand(int selector);
  void btnC_Wrt_Direct_RegClick();
  void SendDeviceType();
  // The window shows the conversion error of a field that is not hexadecimal.
  std::optional<uint8_t> FieldByte(const std::string& name);

  bool RunPassed = false;
  bool SetTxRunning = false;
  uint64_t LastSetTxMs = 0;
  // The link IDs of the last run: RX side (A) and TX side (B), as drawn before bit 7.
  uint32_t LastIdA = 0, LastIdB = 0;
  uint8_t SensorByte = 0;
  // The RX register that keeps the sensor byte.
  static constexpr uint8_t kSensorByteRegister = 63;
  // The external programming tool, in the working directory.
  static constexpr const char* kMapxProgram = "MAPX_RF_auto.exe";

  int32_t LastDeviceCount = 0;
  bool DetectBusy = false;
  std::array<uint8_t, 2> LinkId{};
  int BindCheckCount = 0;
  bool KeyboardBindMode = false;
  // Go's marks: a run in progress, and a Go asked for but not yet started.
  bool GoRunning = false;
  bool GoPending = false;
  // Open pairs of link queries "Connect" tries before giving up.
  static constexpr int kConnectPairLimit = RetryCount;

  bool AutoStart = false;
  bool StartingUp = true;
  bool SettingsWriteBlocked = true;
  int TempID = 0;
  int GoRequests = 0;
  int LogoDoubleClicks = 0;

 private:
  void ApplyTexts();
  void ApplyLock();
  void SettingsToView(const Settings& s);
  Settings SettingsFromView() const;
  void Paint();
  bool SerialPanelChanged(const std::string& name, const ControlState& state);
  void PanelError(const std::string& text);
  void NotReadyState();
  // Timers off, controls disabled, no link picture; the texts and lamps are left alone.
  void NotReadyLook();
  void ReadyState();
  void ShowLink(const char* picture);
  // Pairs of link queries until both are valid and agree on byte 1; nothing after `pairs`.
  std::optional<std::array<uint8_t, 2>> AgreedLinkId(int pairs);
  void PermissionHint();
  bool languageDialogOpen_ = false;
  bool permissionHintShown_ = false;
  int readyDepth_ = 0;
  std::filesystem::path IniPath() const {
    return env_.iniPath.empty() ? env_.workingDirectory / kIniFileName : env_.iniPath;
  }
  // Set TX's steps; false when the run is to stop.
  bool SetTxStageAndWriteTx(uint8_t idBytes[6]);
  bool SetTxStageAndWriteRx(const uint8_t idBytes[6]);
  bool SetTxAwaitLink();
  void SetTxEnd();
  void Progress(int position);
  bool Ok() const { return !device_.CommandFailed && !runAborted_; }
  bool runAborted_ = false;

  StationEnvironment env_;
  StationView& ui_;
  ViewState view_;
  HidAccess hidAccess_;
  DeviceState device_;
  CommandChannel channel_;
  CommandCatalogue commands_;
  StagingTables staging_;
  Generators generators_;
  VidPidTableType vidPidTable_{};
  int delay_ = 0;
  std::unique_ptr<HostTimer> detect_, softBind_, isTxLink_;
};

// A run's duration as the window shows it: seconds, a dot, milliseconds without padding.
std::string RunTimeText(uint64_t ms);
// ComboRFPower's item as the transceiver's output power register value (-20 dBm when none).
uint8_t RfPowerValue(int itemIndex);
// Which control shows which text of the table, in the order they are applied.
std::vector<std::pair<std::string, TTerm>> TextBindings();
// The controls as the window is created, before FormCreate.
ViewState InitialViewState();
// Width and height of a Windows bitmap file; false when it is not one.
bool ReadBmpSize(const std::filesystem::path& path, int& width, int& height);

}  // namespace korvel
