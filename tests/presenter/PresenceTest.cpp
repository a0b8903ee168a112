// Detection, "Connect" and the link check, driven by the window's timers in virtual time.
#include <gtest/gtest.h>

#include "EmulatedNeighbours.h"
#include "EmulatedRx.h"
#include "StationFixture.h"
#include "device/UdevRule.h"

namespace korvel {
namespace {

class PresenceTest : public StationTest {
 protected:
  void SetUp() override {
    AttachTypicalNeighbours(platform);
    rx->SetTx(tx);
    tx->SetPowered(true, host.TickCount());
  }
  std::unique_ptr<Station> Started() {
    auto s = Make();
    s->Presenter().FormCreate({});
    s->Presenter().FormActivate();
    return s;
  }
  void PlugRx() { platform.Attach(rx); }
  ControlState& C(Station& s, const char* name) { return s.Presenter().View()[name]; }
  // The VID and PID typed into the settings, as the window reports them.
  void Type(Station& s, const char* vidText, const char* pidText) {
    for (const auto& [field, text] : {std::pair{"edtVID_SET", vidText}, {"edtPID_SET", pidText}}) {
      ControlState c = C(s, field);
      c.text = text;
      s.Presenter().ControlChanged(field, c);
    }
  }
  bool Shows(Station& s, const char* picture) {
    int shown = 0;
    for (const char* p : {"imgNoneDev", "gifBind", "imgConnected"}) shown += C(s, p).visible;
    return shown == 1 && C(s, picture).visible;
  }
  void ExpectTxReady(Station& s) {
    EXPECT_EQ(C(s, "edtTX").text, "Mouse TX Ready");
    EXPECT_TRUE(C(s, "ledTX").checked);
    EXPECT_TRUE(C(s, "btnGo").enabled);
    EXPECT_TRUE(C(s, "btnCombo_Cmd_Soft_Bind_SW").enabled);
  }
  void ExpectNotReady(Station& s) {
    EXPECT_EQ(C(s, "edtRX").text, "Mouse RX Not Ready");
    EXPECT_EQ(C(s, "edtTX").text, "Mouse TX Not Ready");
    EXPECT_FALSE(C(s, "ledRX").checked);
    EXPECT_FALSE(C(s, "ledTX").checked);
    EXPECT_FALSE(C(s, "btnGo").enabled);
    EXPECT_FALSE(C(s, "btnCombo_Cmd_Soft_Bind_SW").enabled);
    EXPECT_EQ(C(s, "edtVID").text, "");
    EXPECT_TRUE(Shows(s, "imgNoneDev"));
  }

  std::shared_ptr<EmulatedRx> rx = std::make_shared<EmulatedRx>(host);
  std::shared_ptr<EmulatedTx> tx = std::make_shared<EmulatedTx>();
};

TEST_F(PresenceTest, AnRxPluggedInIsReadyOnTheFirstDetectionTick) {
  PlugRx();
  auto s = Started();
  host.RunFor(5499);
  ExpectNotReady(*s);
  host.RunFor(1);
  EXPECT_EQ(C(*s, "edtVID").text, "1BCF");
  EXPECT_EQ(C(*s, "edtPID").text, "053A");
  EXPECT_EQ(C(*s, "edtRX").text, "Mouse RX Ready");
  EXPECT_TRUE(C(*s, "ledRX").checked);
  EXPECT_TRUE(Shows(*s, "imgConnected"));
  EXPECT_TRUE(C(*s, "rbMSE").enabled && C(*s, "rbKB").enabled);
  EXPECT_EQ(rx->DeviceType(), 1);  // mouse, as the Device tab says
  ExpectTxReady(*s);
  EXPECT_EQ(s->Presence().LinkId(),
            (std::array<uint8_t, 2>{rx->ActiveAddress()[1], rx->ActiveAddress()[2]}));
  EXPECT_TRUE(s->Presence().tmrIsTxLink().Enabled());
  EXPECT_EQ(s->Presence().LastDeviceCount(), hid->CountHidDevices());
  EXPECT_TRUE(view.messages.empty());
}

// A bus with a loose contact: every other scan sees one interface more.
class FlickeringPlatform : public EmulatedHidPlatform {
 public:
  using EmulatedHidPlatform::EmulatedHidPlatform;
  bool Enumerate(std::vector<HidInterfaceInfo>& out, bool withDetails) override {
    const bool ok = EmulatedHidPlatform::Enumerate(out, withDetails);
    if (flicker && ++scans % 2) out.push_back(out.front());
    return ok;
  }
  bool flicker = true;
  int scans = 0;
};

TEST_F(PresenceTest, AFlickeringCountDefersTheDecision) {
  FlickeringPlatform flickering(host);
  flickering.Attach(rx);
  Station s(Environment(flickering), view);
  s.Presenter().FormCreate({});
  host.RunFor(5500);
  ExpectNotReady(s);
  EXPECT_EQ(s.Presence().LastDeviceCount(), 0);
  EXPECT_EQ(flickering.OpenHandleCount(), 0u);
  flickering.flicker = false;
  host.RunFor(5500);
  EXPECT_EQ(s.Presenter().View()["edtVID"].text, "1BCF");
}

TEST_F(PresenceTest, AnRxOutsideTheTableIsFoundThroughTheVidAndPidFields) {
  EmulatedRx::Config config;
  config.vid = 0x1234;
  config.pid = 0x5678;
  rx = std::make_shared<EmulatedRx>(host, config);
  rx->SetTx(tx);
  PlugRx();
  auto s = Started();
  Type(*s, "1234", "5678");
  host.RunFor(5500);
  EXPECT_EQ(C(*s, "edtVID").text, "1234");
  EXPECT_EQ(C(*s, "edtPID").text, "5678");
  ExpectTxReady(*s);
}

TEST_F(PresenceTest, VersionA041RunsPBindSwitchOnBecomingReady) {
  rx->SetVersion(0xA041);
  rx->Registers()[7] = 0x1234;
  rx->DirectRegisters()[0x94] = 0x77;
  PlugRx();
  auto s = Started();
  host.RunFor(5500);
  EXPECT_EQ(rx->DirectRegisters()[0x94], 0x00);
  EXPECT_EQ(rx->Registers()[7], 0x00FF);
  EXPECT_EQ(rx->CommandCount(0x0F), 1u);  // reload parameter
  EXPECT_EQ(C(*s, "edtDirectAddr").text, "94");
  ExpectTxReady(*s);

  // Version 0x0100 does not.
  rx->SetVersion(0x0100);
  rx->Unplug();
  host.RunFor(5500);
  rx->Plug();
  host.RunFor(5500);
  EXPECT_EQ(rx->CommandCount(0x0F), 1u);
}

TEST_F(PresenceTest, TheTxLampFollowsTheMouseBeingSwitchedOffAndOn) {
  tx->SetPowered(false, host.TickCount());
  PlugRx();
  auto s = Started();
  host.RunFor(5500);
  EXPECT_EQ(C(*s, "edtRX").text, "Mouse RX Ready");
  EXPECT_EQ(C(*s, "edtTX").text, "Mouse TX Not Ready");
  EXPECT_FALSE(C(*s, "ledTX").checked);
  EXPECT_FALSE(C(*s, "btnGo").enabled);
  tx->SetPowered(true, host.TickCount());
  host.RunFor(1000);
  ExpectTxReady(*s);
  // Switched off again: dark and "Not Ready" on the next link tick.
  tx->SetPowered(false, host.TickCount());
  host.RunFor(1000);
  EXPECT_EQ(C(*s, "edtTX").text, "Mouse TX Not Ready");
  EXPECT_FALSE(C(*s, "ledTX").checked);
}

TEST_F(PresenceTest, ALowBatteryIsReportedAndLeavesTheNotReadyLook) {
  tx->SetBatteryLevel(2);
  PlugRx();
  auto s = Started();
  host.RunFor(5500);
  ASSERT_FALSE(view.messages.empty());
  EXPECT_EQ(view.messages[0],
            "dlgBat:Battery Low Power:\n< 2.2V(Two-Cell)\n      /1.1V(One-Cell)\nPlease Change "
            "Battery, And Go");
  EXPECT_FALSE(C(*s, "btnGo").enabled);
  EXPECT_FALSE(C(*s, "btnCombo_Cmd_Soft_Bind_SW").enabled);
  EXPECT_FALSE(C(*s, "rbMSE").enabled);
  EXPECT_TRUE(Shows(*s, "imgNoneDev"));
  // Level 3 is not low: the next check finds the mouse ready.
  tx->SetBatteryLevel(3);
  view.messages.clear();
  host.RunFor(1000);
  EXPECT_TRUE(view.messages.empty());
  ExpectTxReady(*s);
}

TEST_F(PresenceTest, ConnectWithAMouseInBindModeSucceeds) {
  PlugRx();
  auto s = Started();
  host.RunFor(5500);
  const auto before = s->Presence().LinkId();
  tx->SetBindMode(true);
  ASSERT_TRUE(s->Presenter().Click("btnCombo_Cmd_Soft_Bind_SW"));
  EXPECT_EQ(C(*s, "btnCombo_Cmd_Soft_Bind_SW").text, "&Connecting");
  EXPECT_TRUE(Shows(*s, "gifBind"));
  EXPECT_FALSE(s->Presence().tmrIsTxLink().Enabled());
  EXPECT_EQ(rx->CommandCount(0x08), 1u);
  host.RunFor(3000);
  EXPECT_EQ(view.messages, std::vector<std::string>{"dlgBind:Connect Success"});
  EXPECT_NE(s->Presence().LinkId(), before);
  EXPECT_EQ(s->Presence().LinkId(),
            (std::array<uint8_t, 2>{rx->ActiveAddress()[1], rx->ActiveAddress()[2]}));
  EXPECT_TRUE(Shows(*s, "imgConnected"));
  EXPECT_EQ(C(*s, "btnCombo_Cmd_Soft_Bind_SW").text, "&Connect");
  EXPECT_FALSE(s->Presence().tmrSoftBind().Enabled());
  EXPECT_TRUE(s->Presence().tmrIsTxLink().Enabled());
}

TEST_F(PresenceTest, ABindThatNeverChangesTheLinkFailsAfterSixteenTicks) {
  PlugRx();
  auto s = Started();
  host.RunFor(5500);
  s->Presenter().Click("btnCombo_Cmd_Soft_Bind_SW");
  host.RunFor(15 * 1000 + 500);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(s->Presence().BindCheckCount(), 15);
  host.RunFor(1000);
  EXPECT_EQ(view.messages, std::vector<std::string>{"dlgBind:Connect Fail"});
  EXPECT_FALSE(s->Presence().tmrSoftBind().Enabled());
  EXPECT_TRUE(s->Presence().tmrIsTxLink().Enabled());
  EXPECT_EQ(C(*s, "btnCombo_Cmd_Soft_Bind_SW").text, "&Connect");
}

TEST_F(PresenceTest, KeyboardModeShowsNoDialogOnSuccessOrFailure) {
  PlugRx();
  auto s = Started();
  host.RunFor(5500);
  s->Presence().SetKeyboardBindMode(true);
  s->Presenter().Click("btnCombo_Cmd_Soft_Bind_SW");
  host.RunFor(20 * 1000);
  EXPECT_FALSE(s->Presence().tmrSoftBind().Enabled());
  tx->SetBindMode(true);
  const auto before = s->Presence().LinkId();
  s->Presenter().Click("btnCombo_Cmd_Soft_Bind_SW");
  host.RunFor(3000);
  EXPECT_FALSE(s->Presence().tmrSoftBind().Enabled());
  EXPECT_NE(s->Presence().LinkId()[1], before[1]);
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(PresenceTest, PullingTheRxIsNoticedWithinOneDetectionTick) {
  PlugRx();
  auto s = Started();
  host.RunFor(5500);
  ExpectTxReady(*s);
  rx->Unplug();
  host.RunFor(5500);
  ExpectNotReady(*s);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
  EXPECT_FALSE(s->Presence().tmrIsTxLink().Enabled());
}

TEST_F(PresenceTest, ConnectGivesUpOnAnRxThatNeverGivesAValidPair) {
  PlugRx();
  auto s = Started();
  host.RunFor(5500);
  rx->SetRadioEnabled(false);  // link answers carry channel 0: never valid
  const uint64_t queriesBefore = rx->CommandCount(0x09);
  s->Presenter().Click("btnCombo_Cmd_Soft_Bind_SW");
  EXPECT_EQ(rx->CommandCount(0x09) - queriesBefore,
            uint64_t(2 * PresenceMonitor::kConnectPairLimit));
  EXPECT_EQ(rx->CommandCount(0x08), 0u);
  EXPECT_EQ(C(*s, "edtRX").text, "Mouse RX Not Ready");
  EXPECT_FALSE(s->Presence().tmrSoftBind().Enabled());
}

class ReenteringPlatform : public EmulatedHidPlatform {
 public:
  using EmulatedHidPlatform::EmulatedHidPlatform;
  bool Enumerate(std::vector<HidInterfaceInfo>& out, bool withDetails) override {
    ++scans;
    if (station && reenter) {
      reenter = false;
      const int before = scans;
      station->Presence().DetectionTick();
      nestedScans = scans - before;
    }
    return EmulatedHidPlatform::Enumerate(out, withDetails);
  }
  Station* station = nullptr;
  bool reenter = true;
  int scans = 0;
  int nestedScans = -1;
};

TEST_F(PresenceTest, ADetectionTickEnteredFromInsideAScanReturnsAtOnce) {
  ReenteringPlatform reentering(host);
  reentering.Attach(rx);
  Station s(Environment(reentering), view);
  s.Presenter().FormCreate({});
  reentering.station = &s;
  host.RunFor(5500);
  EXPECT_EQ(reentering.nestedScans, 0);
  EXPECT_FALSE(s.Presence().DetectBusy());
  EXPECT_EQ(s.Presenter().View()["edtVID"].text, "1BCF");
}

TEST_F(PresenceTest, APermissionHintNamesOnlyTheToolsOwnIdentities) {
  EmulatedRx::Config config;
  config.pid = 0x1234;  // a dongle of another product, typed into the settings
  rx = std::make_shared<EmulatedRx>(host, config);
  PlugRx();
  platform.SetOpenRefused(true);
  auto s = Started();
  Type(*s, "1BCF", "1234");
  host.RunFor(5500 * 2);
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(PresenceTest, APermissionProblemIsExplainedOnce) {
  PlugRx();
  platform.SetOpenRefused(true);
  auto s = Started();
  host.RunFor(5500);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].find("1BCF:053A"), std::string::npos);
  // What the rule's presence on this machine calls for.
  EXPECT_EQ(view.messages[0],
            "dlgError:" + Words(PermissionHint({0x1BCF, 0x053A}, FindInstalledUdevRule())));
  rx->Unplug();
  host.RunFor(5500);
  rx->Plug();
  host.RunFor(5500);
  EXPECT_EQ(view.messages.size(), 1u);
  platform.SetOpenRefused(false);
  rx->Unplug();
  host.RunFor(5500);
  rx->Plug();
  host.RunFor(5500);
  ExpectTxReady(*s);
}

}  // namespace
}  // namespace korvel
