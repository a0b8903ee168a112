#include <gtest/gtest.h>

#include "EmulatedBench.h"
#include "device/CommandCatalogue.h"
#include "device/Staging.h"

namespace korvel {
namespace {

using test::EmulatedBench;

class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(b.OpenRx()); }
  EmulatedBench b;
};

TEST_F(CatalogueTest, RfQueryReadsTheTxThroughTheRelay) {
  b.tx->EepromBytes()[0x30] = 0x5C;
  EXPECT_EQ(b.commands.RfQuery(C_RF_Rd_EEPROM, 0x30).value, 0x5C);
  ASSERT_EQ(b.Sent().size(), 1u);
  EXPECT_EQ(b.Sent()[0], (ReportBuffer{1, 0x24, 0xAA, 0x30, 0, 0, 0, 0, 0}));
  EXPECT_EQ(b.commands.RfQuery(C_RF_Rd_Sensor, 0).value, 0x11);
  EXPECT_FALSE(b.state.CommandFailed);
}

TEST_F(CatalogueTest, RfQueryWithoutAnAnswerStopsAtThirtyAttempts) {
  b.rx->InjectFault("tx-out-of-range");
  const uint64_t t0 = b.host.TickCount();
  EXPECT_FALSE(b.commands.RfQuery(C_RF_Rd_Sensor, 0));
  EXPECT_TRUE(b.state.CommandFailed);
  EXPECT_EQ(b.Sent().size(), 30u);
  EXPECT_LT(b.host.TickCount() - t0, 3000u);
}

// A pump that runs a slow handler each time, so 3000 ms pass long before 30 attempts.
struct SlowPump {
  SlowPump(EmulatedBench& b, std::function<void()> then) : timer(b.host.CreateTimer()) {
    timer->SetInterval(1);
    timer->OnTimer = [&b, then] {
      b.host.Sleep(400);
      if (then) then();
    };
    timer->SetEnabled(true);
  }
  std::unique_ptr<HostTimer> timer;
};

TEST_F(CatalogueTest, RfQueryStopsWhenThreeSecondsHavePassed) {
  b.rx->InjectFault("tx-out-of-range");
  SlowPump pump(b, nullptr);
  const uint64_t t0 = b.host.TickCount();
  EXPECT_FALSE(b.commands.RfQuery(C_RF_Rd_EEPROM, 1));
  EXPECT_TRUE(b.state.CommandFailed);
  EXPECT_LT(b.Sent().size(), 10u);
  EXPECT_GT(b.host.TickCount() - t0, 3000u);
}

TEST_F(CatalogueTest, RfQueryTakesAnAnswerThatCameInTheAttemptWhereTimeRanOut) {
  b.rx->InjectFault("tx-out-of-range");
  const uint64_t t0 = b.host.TickCount();
  // The TX comes back just before the last attempt that starts inside the three seconds.
  SlowPump pump(b, [&] {
    if (b.host.TickCount() - t0 > 2500) b.tx->SetInRange(true);
  });
  b.tx->EepromBytes()[1] = 0x42;
  EXPECT_EQ(b.commands.RfQuery(C_RF_Rd_EEPROM, 1).value, 0x42);
  EXPECT_FALSE(b.state.CommandFailed);
  EXPECT_GT(b.host.TickCount() - t0, 3000u);
}

TEST_F(CatalogueTest, RfSendWaitsEightMsAndAFailedSendRaisesTheFlag) {
  const uint64_t t0 = b.host.TickCount();
  b.commands.RfEnterAccess(false);
  ASSERT_EQ(b.trace.size(), 1u);
  EXPECT_GE(b.trace[0].timeMs - t0, 8u);
  EXPECT_EQ(b.trace[0].bytes, (ReportBuffer{1, 0x2B, 0xAA, 0x5A, 0x33, 0, 0, 0, 0}));
  EXPECT_EQ(b.tx->AccessMode(), EmulatedTx::Access::WithoutLed);
  b.commands.RfEnterAccess(true);
  EXPECT_EQ(b.tx->AccessMode(), EmulatedTx::Access::WithLed);
  b.commands.RfLeaveAccess();
  EXPECT_EQ(b.Sent().back(), (ReportBuffer{1, 0x2C, 0xAA, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(b.tx->AccessMode(), EmulatedTx::Access::Off);
  b.commands.RfSetupCpi(2);
  EXPECT_EQ(b.Sent().back(), (ReportBuffer{1, 0x2F, 0xAA, 2, 0xCC, 0, 0, 0, 0}));
  EXPECT_EQ(b.tx->CpiStep(), 2);
  EXPECT_FALSE(b.state.CommandFailed);
  b.rx->InjectFault("transfer-refused", 1);
  b.commands.RfFastReload();
  EXPECT_TRUE(b.state.CommandFailed);
}

TEST_F(CatalogueTest, TxActionsThroughDirectRegisterFF) {
  b.tx->EepromBytes()[0x0C] = 0x99;  // a new address, not yet in use
  b.commands.RfFastReload();
  EXPECT_EQ(b.Sent().back(), (ReportBuffer{1, 0x23, 0xAA, 0xFF, 0x3D, 0, 0, 0, 0}));
  EXPECT_EQ(b.tx->FastReloadCount(), 1);
  EXPECT_EQ(b.tx->ActiveAddress()[0], 0x99);
  EXPECT_FALSE(b.rx->Linked());  // the RX still uses the old address
  b.rx->Registers()[0] = EepromWord(0x99);
  b.commands.ReloadParameter();
  EXPECT_EQ(b.Sent().back(), (ReportBuffer{1, 0x0F, 0xCC, 0x33, 0x55, 0, 0, 0, 0}));
  b.host.Sleep(60);
  EXPECT_TRUE(b.rx->Linked());
  b.commands.RfEnterAccess(true);
  b.commands.RfJumpToPor();
  EXPECT_EQ(b.Sent().back(), (ReportBuffer{1, 0x23, 0xAA, 0xFF, 0x3C, 0, 0, 0, 0}));
  EXPECT_EQ(b.tx->PorCount(), 1);
  EXPECT_EQ(b.tx->AccessMode(), EmulatedTx::Access::Off);
}

TEST_F(CatalogueTest, EepromWriteConfirmedOnTheFirstPollSendsOneWriteAndNoReadBack) {
  b.commands.RfEepromWrite(0x40, 0xA7);
  EXPECT_EQ(b.tx->EepromBytes()[0x40], 0xA7);
  EXPECT_EQ(b.SentWithCode(C_RF_Wrt_EEPROM), 1u);
  EXPECT_EQ(b.SentWithCode(C_RF_Rd_EEPROM), 0u);
  EXPECT_EQ(b.Sent()[0], (ReportBuffer{1, 0x21, 0xAA, 0x40, 0xA7, 0, 0, 0, 0}));
  EXPECT_EQ(b.Fetched().size(), 1u);
  EXPECT_FALSE(b.state.CommandFailed);
}

TEST_F(CatalogueTest, EepromWriteWithoutConfirmationButMatchingReadBackPasses) {
  b.rx->SetTxEepromWriteMs(40);  // the confirmation is not there yet at the first poll
  b.commands.RfEepromWrite(0x41, 0x3C);
  EXPECT_EQ(b.SentWithCode(C_RF_Wrt_EEPROM), 1u);
  EXPECT_EQ(b.SentWithCode(C_RF_Rd_EEPROM), 1u);
  EXPECT_FALSE(b.state.CommandFailed);
}

TEST_F(CatalogueTest, EepromWriteThatNeverReadsBackSendsThreeWritesAndFails) {
  b.rx->InjectFault("tx-eeprom-mismatch");
  b.commands.RfEepromWrite(0x42, 0x10);
  EXPECT_EQ(b.SentWithCode(C_RF_Wrt_EEPROM), 3u);
  EXPECT_TRUE(b.state.CommandFailed);
  EXPECT_EQ(b.tx->EepromBytes()[0x42], 0x11);
}

TEST_F(CatalogueTest, EepromWriteToAnUnreachableTxEndsAndFails) {
  b.rx->InjectFault("tx-off");
  b.commands.RfEepromWrite(0x42, 0x10);
  EXPECT_EQ(b.SentWithCode(C_RF_Wrt_EEPROM), 3u);
  EXPECT_TRUE(b.state.CommandFailed);
}

TEST_F(CatalogueTest, FlakyRadioNeverLeavesAWrongByteUnflagged) {
  b.rx->InjectFault("tx-flaky", 30);
  for (int q = 0; q < 20; ++q) {
    b.state.CommandFailed = false;
    b.tx->EepromBytes()[q] = uint8_t(q * 7);
    EXPECT_EQ(b.commands.RfQuery(C_RF_Rd_EEPROM, uint8_t(q)).value,
              q * 7);  // retries absorb the drops
    EXPECT_FALSE(b.state.CommandFailed);
  }
  int clean = 0;
  for (int a = 0x40; a < 0x60; ++a) {
    b.state.CommandFailed = false;
    const uint8_t data = uint8_t(a ^ 0x5A);
    b.commands.RfEepromWrite(uint8_t(a), data);
    if (!b.state.CommandFailed) {
      EXPECT_EQ(b.tx->EepromBytes()[a], data) << "address " << a;
      ++clean;
    }
  }
  EXPECT_GT(b.rx->DroppedOnAir(), 0u);
  EXPECT_GT(clean, 0);
  // A radio that drops everything fails every write, within bounded traffic.
  b.rx->InjectFault("tx-flaky", 100);
  b.trace.clear();
  b.state.CommandFailed = false;
  b.commands.RfEepromWrite(0x70, 1);
  EXPECT_TRUE(b.state.CommandFailed);
  EXPECT_EQ(b.SentWithCode(C_RF_Wrt_EEPROM), 3u);
}

TEST_F(CatalogueTest, SpecialQueriesShowTheMouseAliveAndTheBindSettled) {
  const auto first = b.commands.SpecialQuery(1);
  b.host.Sleep(24);
  const auto second = b.commands.SpecialQuery(1);
  ASSERT_TRUE(first && second);
  EXPECT_NE((*first)[1], (*second)[1]);
  EXPECT_EQ(b.Sent()[0], (ReportBuffer{1, 0x14, 0xFF, 0xAA, 1, 0, 0, 0, 0}));
  b.tx->SetPowered(false, b.host.TickCount());
  const auto a = b.commands.SpecialQuery(1);
  b.host.Sleep(24);
  const auto c = b.commands.SpecialQuery(1);
  ASSERT_TRUE(a && c);
  EXPECT_EQ((*a)[1], (*c)[1]);
  const auto bind = b.commands.SpecialQuery(4);
  ASSERT_TRUE(bind);
  EXPECT_EQ((*bind)[1], 0x33);
  b.rx->InjectFault("answers-never-valid");
  b.state.CommandFailed = false;
  EXPECT_FALSE(b.commands.SpecialQuery(1));
  EXPECT_FALSE(b.state.CommandFailed);
}

TEST_F(CatalogueTest, SoftBindGivesBothSidesANewLinkIdWhenTheTxIsInBindMode) {
  const auto before = b.commands.QueryLinkStatus();
  ASSERT_TRUE(before);
  EXPECT_EQ(before->linkId, (std::array<uint8_t, 2>{0x34, 0x56}));
  b.tx->SetBindMode(true);
  b.commands.StartSoftBind();
  EXPECT_EQ(b.Sent().back(), (ReportBuffer{1, 8, 0, 1, 0, 0, 0, 0, 0}));
  EXPECT_EQ((*b.commands.SpecialQuery(4))[1], 0x00);
  b.host.Sleep(1600);
  const auto after = b.commands.QueryLinkStatus();
  ASSERT_TRUE(after);
  EXPECT_NE(after->linkId, before->linkId);
  EXPECT_EQ((*b.commands.SpecialQuery(4))[1], 0xBB);
  EXPECT_TRUE(b.rx->Linked());
  EXPECT_EQ(b.tx->EepromBytes()[0x0D], after->linkId[0]);
}

TEST_F(CatalogueTest, SoftBindWithNoTxInBindModeChangesNothing) {
  b.commands.StartSoftBind();
  b.host.Sleep(11000);
  EXPECT_EQ(b.commands.QueryLinkStatus()->linkId, (std::array<uint8_t, 2>{0x34, 0x56}));
  EXPECT_EQ((*b.commands.SpecialQuery(4))[1], 0x33);
}

TEST_F(CatalogueTest, LinkStatusIsValidOnlyWhileTheRadioRuns) {
  EXPECT_TRUE(b.commands.QueryLinkStatus());
  b.rx->SetRadioEnabled(false);
  EXPECT_FALSE(b.commands.QueryLinkStatus());
  b.rx->SetRadioEnabled(true);
  b.commands.ReloadParameter();
  EXPECT_FALSE(b.commands.QueryLinkStatus());  // down while it reloads
  b.host.Sleep(50);
  EXPECT_TRUE(b.commands.QueryLinkStatus());
}

TEST_F(CatalogueTest, BatteryLevelComesFromTheLinkedTx) {
  EXPECT_EQ(b.commands.QueryBattery().value, 0x0C);
  b.rx->InjectFault("low-battery");
  EXPECT_EQ(b.commands.QueryBattery().value, 2);
  b.rx->InjectFault("tx-off");
  EXPECT_FALSE(b.commands.QueryBattery());
}

TEST_F(CatalogueTest, RxRegistersOfItsOwn) {
  b.commands.WriteDirectRegister(0x31, 0x77);
  EXPECT_EQ(b.Sent().back(), (ReportBuffer{1, 0x12, 0x31, 0x77, 0, 0, 0, 0, 0}));
  EXPECT_EQ(b.commands.ReadDirectRegister(0x31).value, 0x77);
  const uint64_t t0 = b.host.TickCount();
  EXPECT_EQ(b.commands.ReadTransceiver(1).value, 0x1B);
  EXPECT_GE(b.host.TickCount() - t0, 8u + 10u);  // the transceiver read waits 10 ms more
  b.trace.clear();
  b.rx->InjectFault("transfer-refused", 2);
  b.commands.WriteTransceiver(1, 0x0B);
  EXPECT_EQ(b.SentWithCode(C_Wrt_RFIC_TRX5120B), 3u);  // repeated until a send gets through
  EXPECT_EQ(b.rx->TransceiverRegisters()[1], 0x0B);
  EXPECT_FALSE(b.state.CommandFailed);
  b.rx->InjectFault("transfer-refused");
  b.commands.WriteTransceiver(1, 0x03);
  EXPECT_TRUE(b.state.CommandFailed);  // thirty refusals: the power was never set
  b.rx->ClearFaults();
  b.state.CommandFailed = false;
  b.rx->InjectFault("answers-never-valid");
  EXPECT_FALSE(b.commands.ReadDirectRegister(0x31));
  EXPECT_TRUE(b.state.CommandFailed);
}

TEST_F(CatalogueTest, LocalCommandBytes) {
  b.commands.SetDeviceType(DeviceType::Keyboard);
  EXPECT_EQ(b.Sent().back(), (ReportBuffer{1, 0x17, 0x3C, 0x5A, 2, 0, 0, 0, 0}));
  EXPECT_EQ(b.rx->DeviceType(), 2);
  b.commands.JumpToPor();
  EXPECT_EQ(b.Sent().back(), (ReportBuffer{1, 0x0E, 0x55, 0xAA, 0xCC, 0, 0, 0, 0}));
  EXPECT_TRUE(b.commands.ApplyCustomKeys());
  EXPECT_EQ(b.Sent().back(), (ReportBuffer{1, 8, 0x0B, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(b.rx->CustomKeyApplies(), 1u);
  EXPECT_FALSE(b.state.CommandFailed);
  b.rx->InjectFault("transfer-refused", 1);
  b.commands.ReloadParameter();
  EXPECT_TRUE(b.state.CommandFailed);
}

TEST_F(CatalogueTest, WithoutADeviceNothingIsSent) {
  b.state.DeviceHandle = kNoHandle;
  EXPECT_FALSE(b.commands.ReadDirectRegister(1));
  EXPECT_FALSE(b.state.CommandFailed);  // the direct read does not raise it without a device
  b.commands.WriteDirectRegister(1, 1);
  b.commands.RfEepromWrite(1, 1);
  b.commands.SetDeviceType(DeviceType::Mouse);
  b.commands.JumpToPor();
  EXPECT_FALSE(b.commands.SpecialQuery(1));
  EXPECT_FALSE(b.commands.ApplyCustomKeys());
  EXPECT_FALSE(b.state.CommandFailed);
  EXPECT_FALSE(b.commands.RfQuery(C_RF_Rd_EEPROM, 1));
  EXPECT_TRUE(b.state.CommandFailed);
  b.state.CommandFailed = false;
  b.commands.RfSend(C_RF_Wrt_Index_Reg, 1, 2);
  EXPECT_TRUE(b.state.CommandFailed);
  b.state.CommandFailed = false;
  EXPECT_FALSE(b.commands.ReadTransceiver(1));
  EXPECT_TRUE(b.state.CommandFailed);
  EXPECT_TRUE(b.trace.empty());
}

}  // namespace
}  // namespace korvel
