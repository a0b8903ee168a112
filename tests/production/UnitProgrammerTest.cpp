// The programmer on its own, on the emulated dongle and mouse: what it refuses before the unit
// is touched.
#include <gtest/gtest.h>

#include <vector>

#include "device/EmulatedLink.h"
#include "production/UnitProgrammer.h"

namespace korvel {
namespace {

// The link comes back at once; no binding.
class ReadyWatch final : public LinkWatch {
 public:
  bool CheckTx() override { return true; }
  void Connect() override {}
  bool Binding() const override { return false; }
  void SetKeyboardBindMode(bool) override {}
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

}  // namespace
}  // namespace korvel
