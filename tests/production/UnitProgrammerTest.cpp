// The programmer on its own, on the emulated dongle and mouse: what it refuses before the unit
// is touched.
#include <gtest/gtest.h>

#include <vector>

#include "device/EmulatedLink.h"
#include "production/UnitProgrammer.h"

namespace korvel {
namespace {

// The link comes back at once (or never); no binding.
class ReadyWatch final : public LinkWatch {
 public:
  bool CheckTx() override {
    ++checks;
    return linkComesBack;
  }
  void Connect() override {}
  bool Binding() const override { return false; }
  void SetKeyboardBindMode(bool) override {}
  bool linkComesBack = true;
  int checks = 0;
};

class StagedRegisters final : public RunObserver {
 public:
  void RegisterStaged(uint8_t reg, uint8_t value) override { staged.emplace_back(reg, value); }
  std::vector<std::pair<uint8_t, uint8_t>> staged;
};

class UnitProgrammerTest : public test::EmulatedLinkTest {
 protected:
  void SetUp() override {
    EmulatedLinkTest::SetUp();
    unit.rxId = 0x123456;
    unit.txId = 0x234567;
  }

  ReadyWatch watch;
  UnitProgrammer programmer{link, host, watch};
  Settings settings;
  UnitNumbers unit;
  StagedRegisters observer;
};

TEST_F(UnitProgrammerTest, ANameTheCodePageCannotHoldIsRefusedBeforeTheUnitIsTouched) {
  settings.PName = "Mouse \xE4\xB8\xAD";  // "Mouse 中"
  const uint64_t sent = rx->ReportsReceived();
  const auto eeprom = tx->EepromBytes();
  const RunResult result = programmer.Run(settings, unit, observer);
  EXPECT_FALSE(result.pass);
  EXPECT_EQ(result.stage, RunStage::Refused);
  EXPECT_NE(result.failedStep.English().find("U+4E2D"), std::string::npos) << result.failedStep;
  EXPECT_EQ(rx->ReportsReceived(), sent);
  EXPECT_EQ(tx->EepromBytes(), eeprom);
  for (int32_t v : programmer.Staging().RxRegisterImage) EXPECT_EQ(v, kNotStaged);
  for (int32_t v : programmer.Staging().TxEepromImage) EXPECT_EQ(v, kNotStaged);
  EXPECT_TRUE(observer.staged.empty());
  EXPECT_FALSE(programmer.Running());
}

// The run stops on the status of the operation that failed and names that step; nothing after
// it reaches the unit.
TEST(UnitProgrammer, EachFaultStopsTheRunAtItsOwnStep) {
  struct Case {
    const char* fault;  // none: the unit passes
    int count;
    const char* said;  // the start of the reason
    bool eepromWritten;
    bool registersWritten;
  };
  const Case cases[] = {
      {nullptr, 0, "", true, true},
      {"readback-mismatch", -1, "RX register 0 read-back 0x", true, true},
      {"tx-eeprom-mismatch", -1, "TX EEPROM 0x08 write not confirmed", true, false},
      {"transfer-refused", 1, "TX access mode: transfer refused", false, false},
      {"link-never-back", 0, "link not back after reload", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault ? c.fault : "passes");
    // A fresh dongle and mouse for each case, as on the line.
    struct Bench {
      VirtualHost host;
      EmulatedHidPlatform platform{host};
      std::shared_ptr<EmulatedRx> rx = std::make_shared<EmulatedRx>(host);
      std::shared_ptr<EmulatedTx> tx = std::make_shared<EmulatedTx>();
      RxLink link{platform, host};
    } bench;
    bench.rx->SetTx(bench.tx);
    bench.tx->SetPowered(true, bench.host.TickCount());
    bench.platform.Attach(bench.rx);
    uint32_t version = 0;
    intptr_t handle = kNoHandle;
    ASSERT_TRUE(bench.link.Hid().OpenDeviceByVidPid(0x1BCF, 0x053A, version, handle));
    bench.link.Adopt(handle, {0x1BCF, 0x053A}, version);
    ReadyWatch watch;
    UnitProgrammer programmer{bench.link, bench.host, watch};
    Settings settings;
    UnitNumbers unit;
    unit.rxId = 0x123456;
    unit.txId = 0x234567;
    StagedRegisters observer;
    bench.host.Sleep(1000);  // the mouse is on the air
    const auto eeprom = bench.tx->EepromBytes();
    const auto registers = bench.rx->Registers();
    const bool linkNeverBack = c.fault && std::string(c.fault) == "link-never-back";
    if (linkNeverBack) {
      watch.linkComesBack = false;
    } else if (c.fault) {
      ASSERT_TRUE(bench.rx->InjectFault(c.fault, c.count));
    }
    const RunResult result = programmer.Run(settings, unit, observer);
    EXPECT_EQ(result.pass, c.fault == nullptr);
    EXPECT_EQ(result.stage, c.fault ? RunStage::Device : RunStage::Passed);
    EXPECT_EQ(result.failedStep.English().rfind(c.said, 0), 0u) << result.failedStep;
    EXPECT_EQ(bench.tx->EepromBytes() != eeprom, c.eepromWritten);
    EXPECT_EQ(bench.rx->Registers() != registers, c.registersWritten);
    if (linkNeverBack) {
      EXPECT_EQ(watch.checks, 40);
    }
  }
}

}  // namespace
}  // namespace korvel
