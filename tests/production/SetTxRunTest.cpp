// One unit end to end on the emulated dongle and mouse: Go, Set TX, numbering, erase.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <set>

#include "EmulatedRx.h"
#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "presenter/StationFixture.h"
#include "production/ProductionRecord.h"

namespace korvel {
namespace {

class SetTxRunTest : public StationTest {
 protected:
  void SetUp() override { Fresh(); }
  // A new station on the same folder, as after a restart.
  void Fresh(const std::vector<std::string>& args = {}) {
    StationEnvironment env = Environment();
    env.date = [] { return LocalDate{2026, 12, 7}; };
    env.startProgram = [this](const std::string& path) {
      started.push_back(path);
      return true;
    };
    env.reportToLoader = [this](const std::string& title) {
      loader.push_back(title);
      return true;
    };
    s = std::make_unique<Station>(env, view);
    s->Presenter().FormCreate(args);
    s->Presenter().FormActivate();
  }
  void Plug() {
    if (!attached) {
      rx->SetTx(tx);
      tx->SetPowered(true, host.TickCount());
      platform.Attach(rx);
      attached = true;
    } else {
      rx->Plug();
    }
    host.RunFor(5500);
  }
  // The operator takes the unit away and plugs the next (here: the same one again).
  void Replug() {
    rx->Unplug();
    host.RunFor(5500);
    Plug();
  }
  // As the window reports an operator's change: through the handler, into the settings.
  void Change(const std::string& name, const std::function<void(ControlState&)>& edit) {
    ControlState state = s->Presenter().View()[name];
    edit(state);
    s->Presenter().ControlChanged(name, state);
  }
  void Set(const std::string& name, const std::string& text) {
    Change(name, [&](ControlState& c) { c.text = text; });
  }
  void Tick(const std::string& name, bool on = true) {
    Change(name, [&](ControlState& c) { c.checked = on; });
  }
  void Choose(std::initializer_list<const char*> /*group*/, const char* chosen) { Tick(chosen); }
  void Pick(const std::string& name, int index) {
    Change(name, [&](ControlState& c) { c.itemIndex = index; });
  }
  void Spin(const std::string& name, int value) {
    Change(name, [&](ControlState& c) { c.value = value; });
  }
  std::string Result() { return s->Presenter().View()["lblResult"].text; }
  std::string IniBytes() {
    const auto read = ReadWholeFile(dir.path / "TX.ini");
    return !read ? "<unreadable>" : read->missing ? "<missing>" : read->bytes;
  }
  void CustomIds(uint32_t rxId, uint32_t txId) {
    Generators& g = s->Ledger().Gen();
    g.RxRFID.SetIsRandom(false);
    g.RxRFID.SetIncInitRFID(int32_t(rxId));
    g.TxRFID.SetIsRandom(false);
    g.TxRFID.SetIncInitRFID(int32_t(txId));
  }
  uint16_t Word(uint8_t b) { return uint16_t(b << 8 | (b ^ 0xFF)); }

  std::unique_ptr<Station> s;
  std::shared_ptr<EmulatedRx> rx = std::make_shared<EmulatedRx>(host);
  std::shared_ptr<EmulatedTx> tx = std::make_shared<EmulatedTx>();
  bool attached = false;
  std::vector<std::string> started, loader;
};

TEST_F(SetTxRunTest, AUnitIsWrittenEndToEndByteByByte) {
  Choose({"rbRF_DR_15", "rbRF_DR_1A"}, "rbRF_DR_15");
  Choose({"rbRF_DR_45", "rbRF_DR_4A", "rbRF_DR_4F"}, "rbRF_DR_4F");
  Choose({"rbRF_DR_25", "rbRF_DR_2A"}, "rbRF_DR_2A");
  Choose({"rbRF_DR_5A", "rbRF_DR_55"}, "rbRF_DR_55");
  Choose({"rbRF_CPI_L", "rbRF_CPI_H"}, "rbRF_CPI_H");
  Choose({"rbMouseOnly", "rbKbdMse"}, "rbKbdMse");
  Tick("LRMBinding");
  Tick("Call3204L");
  Pick("cbRF_Set_BTY_Low_Level", 0);
  Spin("suiSpinEdit1", 100);
  Spin("suiSpinEdit2", 10);
  Pick("cbCustKey1", 9);   // MUTE 0x0E2
  Pick("cbCustKey2", 12);  // PLAY/PAUSE 0x0CD
  Set("edtVID_SET", "1BCF");
  Set("edtPID_SET", "05CA");
  Set("edtEEPROM_20", "Korvel Mouse");
  TProdSN& txSn = s->Ledger().Gen().TxSN;
  txSn.SetIsSN(true);
  txSn.SetFixSN(0x4B37);
  txSn.SetIncInitSN(0x0100);
  TProdSN& rxSn = s->Ledger().Gen().RxSN;
  rxSn.SetIsSN(true);
  rxSn.SetFixSN(0x4142);
  CustomIds(0x123456, 0x123456);   // a clash: the TX side takes the next ID
  rx->Registers()[0x2F] = 0x8B74;  // the RX's own low bits: 0x0B
  Plug();
  ASSERT_TRUE(s->Presenter().View()["btnGo"].enabled);
  const auto before = tx->EepromBytes();

  s->Presenter().btnGoClick();
  ASSERT_EQ(Result(), "PASS") << (view.messages.empty() ? "" : view.messages.back());
  EXPECT_EQ(s->Presenter().View()["lblResult"].color, "blue");
  EXPECT_EQ(s->Presenter().View()["edtCaliTime"].text, RunTimeText(s->Go().LastRun().ms));
  EXPECT_GT(s->Go().LastRun().ms, 1000u);

  const auto& ee = tx->EepromBytes();
  const struct {
    uint8_t address, value;
  } pairs[] = {{0x12, 0x33},
               {0x13, 0xCC},
               {0x14, 0xAA},
               {0x15, 0x55},
               {0x16, 0xCA},
               {0x17, 0x35},
               {0x18, 0x55},
               {0x19, 0xAA},
               {0x1A, 0x40},
               {0x1B, 0xBF},
               {0x1C, 0x24},
               {0x1D, 0xDB},
               {0x74, 0xB2},
               {0x75, 0x4D},
               // link IDs: A = 123456, B = 123457, high bytes with bit 7
               {0x0C, 0x92},
               {0x0D, 0x34},
               {0x0E, 0x56},
               {0x0F, 0x92 ^ 0x34 ^ 0x56 ^ 0xFF},
               {0x08, 0x92},
               {0x09, 0x34},
               {0x0A, 0x57},
               {0x0B, 0x92 ^ 0x34 ^ 0x57 ^ 0xFF},
               // TX serial: date word 26/341, fixed "K7", counter 0100
               {0x78, 0x35},
               {0x79, 0x55},
               {0x7A, 0x4B},
               {0x7B, 0x37},
               {0x7C, 0x01},
               {0x7D, 0x00},
               {0x7E, 0xFF},
               {0x7F, 0xFF}};
  for (const auto& p : pairs) EXPECT_EQ(ee[p.address], p.value) << "TX EEPROM " << int(p.address);
  for (size_t a = 0; a < ee.size(); ++a) {  // nothing but the staged bytes was written over
    if (s->Programmer().Staging().TxEepromImage[a] == kNotStaged) {
      EXPECT_EQ(ee[a], before[a]) << "TX EEPROM " << a;
    }
  }

  const auto& r = rx->Registers();
  const struct {
    uint8_t reg;
    uint16_t word;
  } words[] = {{0, Word(0x92)},    {1, Word(0x34)},
               {2, Word(0x56)},    {51, Word(0x92)},
               {52, Word(0x34)},   {53, Word(0x57)},
               {3, Word(0xE2)},    {4, Word(0x00)},
               {5, Word(0xCD)},    {6, Word(0x00)},
               {15, 0x1BE4},       {16, 0xCF30},
               {17, 0x05FA},       {18, 0xCA35},
               {19, Word(26)},     {20, 0x4B6F},
               {21, 0x7276},       {25, 0x7365},
               {0x2F, Word(0x4B)}, {0x38, 0xFFFF},
               {0x39, Word(100)},  {0x3A, Word(10)},
               {60, 0x3555},       {61, 0x4142},
               {62, 0x0000},       {UnitProgrammer::kSensorByteRegister, Word(0x91)}};
  for (const auto& w : words) EXPECT_EQ(r[w.reg], w.word) << "RX register " << int(w.reg);

  // The engineering page shows the USB identity the run staged.
  EXPECT_EQ(s->Presenter().View()["edtEEPROM_15"].text, "1B");
  EXPECT_EQ(s->Presenter().View()["edtEEPROM_16"].text, "CF");
  EXPECT_EQ(s->Presenter().View()["edtEEPROM_17"].text, "5");
  EXPECT_EQ(s->Presenter().View()["edtEEPROM_18"].text, "CA");
  EXPECT_EQ(s->Presenter().View()["edtEEPROM_19"].text, "1A");

  // The devices took their new identity and found each other.
  EXPECT_EQ(tx->ActiveAddress(), (EmulatedTx::Address{0x92, 0x34, 0x56}));
  EXPECT_TRUE(rx->Linked());
  EXPECT_EQ(tx->CpiStep(), 1);

  // Committed, saved before PASS was shown, and continued after a restart.
  EXPECT_EQ(txSn.IncCurrentSN(), 0x0100);
  EXPECT_EQ(s->Ledger().Gen().TxRFID.IncCurrentRFID(), 0x123457);
  Fresh();
  EXPECT_EQ(s->Ledger().Gen().TxSN.IncNextSN(), 0x0101);
  EXPECT_EQ(s->Ledger().Gen().RxRFID.NextRFID(), 0x123457);

  // Go released the RX: the no-device state until detection finds the next unit.
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
  EXPECT_TRUE(loader.empty());  // not started by a loader
}

TEST_F(SetTxRunTest, AClashingIdMovesPastReservedValues) {
  CustomIds(0x123454, 0x123454);  // 123455 holds the reserved 0x55
  Plug();
  s->Presenter().btnGoClick();
  ASSERT_EQ(Result(), "PASS");
  EXPECT_EQ(s->Go().LastRun().txId, 0x123456u);
  EXPECT_EQ(tx->EepromBytes()[0x0A], 0x56);
}

TEST_F(SetTxRunTest, NoSerialIsStagedWhenBothGeneratorsAreOff) {
  Plug();
  const auto before = tx->EepromBytes();
  const uint16_t reg60 = rx->Registers()[60];
  s->Presenter().btnGoClick();
  ASSERT_EQ(Result(), "PASS");
  for (int a = 0x78; a < 0x80; ++a) EXPECT_EQ(tx->EepromBytes()[size_t(a)], before[size_t(a)]);
  EXPECT_EQ(rx->Registers()[60], reg60);
  EXPECT_EQ(s->Programmer().Staging().TxEepromImage[0x78], kNotStaged);
  EXPECT_EQ(s->Presenter().View()["edtTX_SN"].text, "");
}

TEST_F(SetTxRunTest, RfPowerIsResetOnlyWhenTickedAndNotAlreadyAtTheTop) {
  Plug();
  tx->TransceiverRegisters()[1] = 0x07;
  Pick("ComboRFPower", 0);
  s->Presenter().btnGoClick();
  ASSERT_EQ(Result(), "PASS");
  EXPECT_EQ(rx->CommandCount(0x07), 1u);  // the run's own power write only
  EXPECT_EQ(rx->TransceiverRegisters()[1], 0x1B);
  EXPECT_EQ(tx->TransceiverRegisters()[1], 0x07);

  Replug();
  Pick("ComboRFPower", 3);
  s->Presenter().btnGoClick();
  ASSERT_EQ(Result(), "PASS");
  EXPECT_EQ(rx->CommandCount(0x07), 3u);  // -20 dBm, then back to 0 dBm
  EXPECT_EQ(rx->TransceiverRegisters()[1], 0x1B);
  EXPECT_EQ(tx->TransceiverRegisters()[1], 0x1B);

  Replug();
  Tick("cbResetRF", false);
  s->Presenter().btnGoClick();
  EXPECT_EQ(rx->TransceiverRegisters()[1], 0x03);
}

TEST_F(SetTxRunTest, FaultsFailTheRunAndCommitNothing) {
  CustomIds(0x323334, 0x424344);
  s->Ledger().Gen().TxSN.SetIsSN(true);
  s->Presenter().btnWriteSettingClick();
  const std::string ini = IniBytes();
  const struct {
    const char* fault;
    int count;
  } faults[] = {
      // the RX pulled while the mouse's EEPROM is written, and while its own registers are
      {"rx-gone", 30},
      {"rx-gone", 120},
      {"tx-out-of-range", -1},
      {"answers-never-valid", -1},
      {"readback-mismatch", -1},
      {"tx-eeprom-mismatch", 5},
      {"no-link-after-reload", -1}};
  for (const auto& f : faults) {
    // A fresh dongle and mouse for each fault.
    if (attached) platform.Detach(rx.get());
    rx = std::make_shared<EmulatedRx>(host);
    tx = std::make_shared<EmulatedTx>();
    attached = false;
    Plug();
    ASSERT_EQ(s->Presenter().View()["edtRX"].text, "Mouse RX Ready") << f.fault;
    rx->InjectFault(f.fault, f.count);
    s->Presenter().btnGoClick();
    EXPECT_EQ(Result(), "FAIL") << f.fault << " " << f.count;
    EXPECT_EQ(s->Presenter().View()["lblResult"].color, "red");
    // The reason is on the screen, below the result.
    EXPECT_FALSE(s->Go().LastRun().failedStep.empty()) << f.fault;
    EXPECT_EQ(s->Presenter().View()["lblReason"].text, s->Go().LastRun().failedStep.English());
    EXPECT_EQ(s->Ledger().Gen().RxRFID.NextRFID(), 0x323334) << f.fault;
    EXPECT_EQ(s->Ledger().Gen().TxSN.IncCurrentSN(), 0) << f.fault;
    EXPECT_EQ(IniBytes(), ini) << f.fault;
    EXPECT_TRUE(s->Presence().DetectHIDDeviceCounter().Enabled());
    rx->Unplug();
    host.RunFor(5500);
  }
}

TEST_F(SetTxRunTest, AUnitWhoseNumbersCannotBeSavedIsNeverPass) {
  Fresh({"auto"});  // a loader waits for the result
  std::ofstream(dir.path / kMapxProgram) << "tool";
  Tick("CallMAPX", true);
  CustomIds(0x323334, 0x424344);
  Plug();
  // Something took the file's place: the save after the run cannot succeed.
  std::filesystem::remove(dir.path / "TX.ini");
  std::filesystem::create_directory(dir.path / "TX.ini");
  view.messages.clear();
  host.RunFor(1000);  // the link check presses Go by itself
  EXPECT_EQ(Result(), "FAIL");
  EXPECT_FALSE(s->Go().LastRun().pass);
  EXPECT_EQ(
      s->Go().LastRun().failedStep.English().rfind("serial numbers and IDs not saved to TX.ini", 0),
      0u)
      << s->Go().LastRun().failedStep;
  EXPECT_EQ(s->Presenter().View()["lblReason"].text, s->Go().LastRun().failedStep.English());
  EXPECT_EQ(loader, std::vector<std::string>{"FAIL"});
  EXPECT_TRUE(started.empty());
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].find("Do not ship this unit"), std::string::npos);
  // The numbers that unit got are not handed out again.
  EXPECT_EQ(s->Ledger().Gen().RxRFID.NextRFID(), 0x323335);
}

TEST_F(SetTxRunTest, AVidThatIsNotHexStopsTheRunBeforeTheDevicesAreWritten) {
  Plug();
  Set("edtVID_SET", "12G4");
  const auto eeprom = tx->EepromBytes();
  s->Presenter().btnGoClick();
  EXPECT_EQ(Result(), "FAIL");
  EXPECT_EQ(s->Go().LastRun().failedStep.English(), "VID '12G4' is not a hexadecimal value");
  EXPECT_EQ(view.messages, std::vector<std::string>{
                               "dlgError:'12G4' is not a valid hexadecimal value (edtVID_SET)."});
  EXPECT_EQ(tx->EepromBytes(), eeprom);
  EXPECT_EQ(rx->CommandCount(0x04), 0u);  // no register written
}

TEST_F(SetTxRunTest, ANonAsciiNameReachesTheDongleInTheCodePageAndReadsBack) {
  if (SystemCodePage() != 1252) GTEST_SKIP() << "code page " << SystemCodePage();
  const std::string name = "USB 2.4G\xC2\xAE";  // "USB 2.4G®"
  Set("edtEEPROM_20", name);
  Plug();
  s->Presenter().btnGoClick();
  ASSERT_EQ(Result(), "PASS") << s->Go().LastRun().failedStep;
  const auto& r = rx->Registers();
  EXPECT_EQ(r[19], Word(2 * 9 + 2));
  EXPECT_EQ(s->Presenter().View()["edtEEPROM_19"].text, "14");
  const uint16_t body[] = {'U' << 8 | 'S', 'B' << 8 | ' ', '2' << 8 | '.', '4' << 8 | 'G', 0xAE00};
  for (int k = 0; k < 5; ++k) EXPECT_EQ(r[size_t(20 + k)], body[k]) << "RX register " << 20 + k;
  // The engineering page reads the name back as it was typed, and its W stages what Set TX
  // wrote.
  Replug();
  Set("edtEEPROM_20", "");
  ASSERT_TRUE(s->Presenter().Click("btnEEPROM_R_20"));
  EXPECT_EQ(s->Presenter().View()["edtEEPROM_20"].text, name);
  StagingTables& staged = s->Programmer().Staging();
  staged.Clear();
  s->Presenter().Click("btnEEPROM_W_20");
  for (int reg = 19; reg <= 24; ++reg)
    EXPECT_EQ(staged.RxRegisterImage[size_t(reg)], r[size_t(reg)]) << "RX register " << reg;
  EXPECT_EQ(staged.RxRegisterImage[25], kNotStaged);
}

TEST_F(SetTxRunTest, ANameTheCodePageCannotHoldStopsGoBeforeAnythingIsWrittenOrNumbered) {
  CustomIds(0x323334, 0x424344);
  Plug();
  Set("edtEEPROM_20", "USB \xE4\xB8\xAD");  // "USB 中"
  const auto eeprom = tx->EepromBytes();
  const auto registers = rx->Registers();
  const uint64_t sent = rx->ReportsReceived();
  view.messages.clear();
  s->Presenter().btnGoClick();
  EXPECT_EQ(Result(), "FAIL");
  const std::string why = s->Go().LastRun().failedStep.English();
  EXPECT_EQ(why.rfind("product name: \"USB \xE4\xB8\xAD\" has a character ", 0), 0u) << why;
  EXPECT_NE(why.find("U+4E2D"), std::string::npos) << why;
  EXPECT_EQ(s->Presenter().View()["lblReason"].text, why);
  EXPECT_EQ(view.messages,
            std::vector<std::string>{"dlgError:Nothing was written to the unit: " + why});
  EXPECT_EQ(rx->ReportsReceived(), sent);
  EXPECT_EQ(tx->EepromBytes(), eeprom);
  EXPECT_EQ(rx->Registers(), registers);
  // No numbers were drawn and no record row taken: the next good unit gets the first ones.
  EXPECT_EQ(s->Ledger().Gen().RxRFID.NextRFID(), 0x323334);
  const auto today = s->Production().CountToday();
  ASSERT_TRUE(today);
  EXPECT_EQ(today->pass + today->fail, 0);
  Replug();
  Set("edtEEPROM_20", "USB 2.4G");
  s->Presenter().btnGoClick();
  ASSERT_EQ(Result(), "PASS") << s->Go().LastRun().failedStep;
  EXPECT_EQ(s->Go().LastRun().rxId, 0x323334u);
}

TEST_F(SetTxRunTest, ALinkThatNeverReturnsFailsAfterTwentyRoundsOfTwoChecks) {
  CustomIds(0x323334, 0x424344);
  Plug();
  rx->InjectFault("no-link-after-reload");
  const uint64_t queries = rx->CommandCount(0x14);
  s->Presenter().btnGoClick();
  EXPECT_EQ(Result(), "FAIL");
  // Each check finds two equal readings twice: 4 presence queries, 2 checks a round.
  EXPECT_EQ(rx->CommandCount(0x14) - queries, 20u * 2 * 4);
  EXPECT_EQ(s->Ledger().Gen().RxRFID.NextRFID(), 0x323334);
  EXPECT_FALSE(std::filesystem::exists(dir.path / "TX.ini"));
}

TEST_F(SetTxRunTest, KeyboardBindingWaitsForTheKeyboardToSettle) {
  Choose({"rbMouseOnly", "rbKbdMse"}, "rbKbdMse");
  Tick("cbKeyboardbind");
  CustomIds(0x323334, 0x424344);
  Plug();
  rx->SetKeyboardInBindMode(true);
  const uint64_t combo = rx->CommandCount(0x08);
  s->Presenter().btnGoClick();
  ASSERT_EQ(Result(), "PASS");
  EXPECT_TRUE(s->Presence().KeyboardBindMode());
  EXPECT_EQ(rx->CommandCount(0x08) - combo, 3u);  // two hot-key updates and one bind start
  for (int reg : {43, 44, 45}) {
    const uint16_t w = rx->Registers()[size_t(reg)];
    EXPECT_EQ((w >> 8) ^ 0xFF, w & 0xFF) << reg;
    EXPECT_EQ(rx->Registers()[size_t(reg + 5)], w) << reg;
  }
  EXPECT_EQ(tx->ActiveAddress(),
            (EmulatedTx::Address{0xB2, 0x33, 0x34}));  // the mouse kept its link

  // No keyboard comes: the bind times out and the unit fails, committing nothing.
  Replug();
  rx->SetKeyboardInBindMode(false);
  for (int reg = 43; reg <= 50; ++reg) rx->Registers()[size_t(reg)] = 0xFFFF;
  s->Presenter().btnGoClick();
  EXPECT_EQ(Result(), "FAIL");
  EXPECT_EQ(s->Ledger().Gen().RxRFID.NextRFID(), 0x323335);
  EXPECT_TRUE(view.messages.empty());  // keyboard mode: no bind dialog
}

TEST_F(SetTxRunTest, TenPassesGiveTenDistinctNumbersThatContinueAfterARestart) {
  CustomIds(0x414243, 0x515253);
  s->Ledger().Gen().TxSN.SetIsSN(true);
  s->Ledger().Gen().RxSN.SetIsSN(true);
  std::set<std::string> serials;
  std::set<uint32_t> ids;
  for (int unit = 0; unit < 10; ++unit) {
    unit ? Replug() : Plug();
    ASSERT_TRUE(s->Presenter().View()["btnGo"].enabled) << unit;
    s->Presenter().btnGoClick();
    ASSERT_EQ(Result(), "PASS") << unit;
    serials.insert(s->Presenter().View()["edtTX_SN"].text);
    serials.insert(s->Presenter().View()["edtRX_SN"].text + "rx");
    ids.insert(s->Go().LastRun().rxId);
    ids.insert(s->Go().LastRun().txId);
  }
  EXPECT_EQ(serials.size(), 20u);
  EXPECT_EQ(ids.size(), 20u);
  const std::string lastTx = s->Presenter().View()["edtTX_SN"].text;
  Fresh();  // as after a power cut: only TX.ini is left
  EXPECT_EQ(s->Ledger().Gen().TxSN.IncNextSN(), 10);
  EXPECT_EQ(uint32_t(s->Ledger().Gen().RxRFID.NextRFID()), 0x414243u + 10);
  EXPECT_EQ(lastTx.substr(lastTx.size() - 4), "0009");
}

TEST_F(SetTxRunTest, GoChecksReadinessListingTxBeforeRxAndRecoversByItself) {
  s->Presenter().btnGoClick();  // PageDown with nothing plugged in
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0], "dlgError:Please Check Device:\r\n* Mouse TX\r\n* Mouse RX\r\n");
  EXPECT_FALSE(s->Presence().Held());

  // Detection is back on: plugging the unit in makes Go usable without a restart.
  Plug();
  EXPECT_TRUE(s->Presenter().View()["btnGo"].enabled);
  EXPECT_TRUE(s->Presenter().View()["ledRX"].checked && s->Presenter().View()["ledTX"].checked);

  view.messages.clear();
  EXPECT_EQ(ReadinessMessage(/*txReady=*/true, /*rxReady=*/false),
            "Please Check Device:\r\n* Mouse RX\r\n");
  // The mouse switched off: the link check darkens its lamp, and Go touches nothing.
  tx->SetPowered(false, host.TickCount());
  host.RunFor(1000);
  const uint64_t sent = rx->ReportsReceived();
  s->Presenter().btnGoClick();
  EXPECT_EQ(view.messages,
            std::vector<std::string>{"dlgError:Please Check Device:\r\n* Mouse TX\r\n"});
  EXPECT_EQ(rx->ReportsReceived(), sent);  // the devices were not touched
  EXPECT_EQ(s->Presenter().View()["lblResult"].text, "");
}

TEST_F(SetTxRunTest, TheProgrammingToolAndTheLoaderHearOfTheResult) {
  std::ofstream(dir.path / kMapxProgram) << "tool";
  Fresh({"auto"});  // a loader started us with a parameter
  Tick("CallMAPX", true);
  Plug();  // AutoStart: the link check presses Go by itself
  host.RunFor(1000);
  EXPECT_EQ(Result(), "PASS");
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(std::filesystem::path(started[0]).filename(), kMapxProgram);
  EXPECT_EQ(loader, std::vector<std::string>{"PASS"});

  // A failed unit starts no tool and reports FAIL.
  rx->Unplug();
  host.RunFor(5500);
  rx->InjectFault("no-link-after-reload");
  rx->Plug();
  host.RunFor(5500 + 1000);
  EXPECT_EQ(Result(), "FAIL");
  EXPECT_EQ(started.size(), 1u);
  EXPECT_EQ(loader, (std::vector<std::string>{"PASS", "FAIL"}));
}

TEST_F(SetTxRunTest, GoWaitsWhileTheEngineeringPageRunsSetTx) {
  Fresh({"auto"});
  std::ofstream(dir.path / kMapxProgram) << "tool";
  Tick("CallMAPX", true);
  Plug();
  s->Presenter().btnGoClick();  // a unit passes: the next Go would find this PASS
  ASSERT_EQ(Result(), "PASS");
  loader.clear();
  started.clear();
  rx->Unplug();
  host.RunFor(5500);
  rx->Plug();
  host.RunFor(5500);
  // An operator's PageDown while an engineer's Set TX waits for the link.
  auto press = host.CreateTimer();
  press->SetInterval(1500);
  press->OnTimer = [&] {
    press->SetEnabled(false);
    s->Presenter().FormKeyDown(kVkPageDown);
  };
  press->SetEnabled(true);
  rx->InjectFault("no-link-after-reload");
  s->Presenter().Click("btnSetTX");
  EXPECT_EQ(s->Go().Requests(), 2);
  EXPECT_EQ(Result(), "FAIL");
  EXPECT_TRUE(loader.empty());  // nobody was told a result of another run
  EXPECT_TRUE(started.empty());
  EXPECT_TRUE(s->Link().HaveRx());  // and the RX was not closed under the run
}

TEST_F(SetTxRunTest, RunTimeShowsSecondsWithTheirThousandths) {
  EXPECT_EQ(RunTimeText(1005), "1.005");
  EXPECT_EQ(RunTimeText(2050), "2.050");
  EXPECT_EQ(RunTimeText(999), "0.999");
  EXPECT_EQ(RunTimeText(12000), "12.000");
  EXPECT_EQ(RunTimeText(0), "0.000");
}

TEST_F(SetTxRunTest, EraseActionsWriteEverythingOnlyWhenTicked) {
  Plug();
  s->Presenter().Click("btnEraseTX");
  EXPECT_NE(tx->EepromBytes()[0x0C], 0xFF);  // not ticked: nothing
  EXPECT_TRUE(view.messages.empty());
  ControlState tick = s->Presenter().View()["TX_Erased"];
  tick.checked = true;
  s->Presenter().ControlChanged("TX_Erased", tick);
  EXPECT_TRUE(s->Presenter().View()["btnEraseTX"].enabled);
  s->Link().RaiseCommandFailed(
      Status::Failed(Phrase::Literal("left over")));  // lowered by the erase
  s->Presenter().Click("btnEraseTX");
  for (uint8_t b : tx->EepromBytes()) ASSERT_EQ(b, 0xFF);
  EXPECT_EQ(view.messages, std::vector<std::string>{":TX Erased"});

  ControlState rxTick = s->Presenter().View()["RX_Erased"];
  rxTick.checked = true;
  s->Presenter().ControlChanged("RX_Erased", rxTick);
  const uint64_t start = host.TickCount();
  s->Presenter().Click("btnEraseRX");
  for (uint16_t w : rx->Registers()) ASSERT_EQ(w, 0xFFFF);
  EXPECT_GE(host.TickCount() - start, 64u * 20);
  EXPECT_EQ(view.messages.back(), ":RX Erased");

  rx->InjectFault("transfer-refused", 1);
  s->Presenter().Click("btnEraseTX");
  EXPECT_EQ(view.messages.back(),
            ":TX erase failed before the first EEPROM address: TX access mode: "
            "transfer refused (" +
                OsErrorText(kEmulatedRefusedError) + ")");

  rx->InjectFault("readback-mismatch", -1);
  s->Presenter().Click("btnEraseRX");
  EXPECT_EQ(view.messages.back(),
            ":RX erase failed at register 0: RX register 0 read-back 0xFFFE != 0xFFFF");
}

TEST_F(SetTxRunTest, TheReasonIsShownInTheOperatorsLanguageAndRecordedInEnglish) {
  s->Presenter().cbbLangChange(1);  // Traditional Chinese
  Plug();
  rx->InjectFault("no-link-after-reload");
  s->Presenter().btnGoClick();
  ASSERT_EQ(Result(), "FAIL");
  EXPECT_EQ(s->Presenter().View()["lblReason"].text, "重新載入後連線未恢復");
  EXPECT_EQ(s->Presenter().View()["lblYield"].text.rfind("今日 PASS 0  FAIL 1  ", 0), 0u)
      << s->Presenter().View()["lblYield"].text;
  // A change of language rewords what is on the screen.
  s->Presenter().cbbLangChange(2);
  EXPECT_EQ(s->Presenter().View()["lblReason"].text, "重新加载后连线未恢复");
  // The record is read by people and programs that expect one language.
  ProductionRecord record;
  ASSERT_TRUE(record.OpenToRead(dir.path / "production.db"));
  const auto rows = *record.Rows("");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].failedStep, "link not back after reload");
}

}  // namespace
}  // namespace korvel
