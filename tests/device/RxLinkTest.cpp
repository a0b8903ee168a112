// What a failed device operation says: the step, and the OS error behind a refused transfer;
// and what raised CommandFailed, for the reason of a failed run.
#include <gtest/gtest.h>

#include "device/EmulatedLink.h"

namespace korvel {
namespace {

class RxLinkTest : public test::EmulatedLinkTest {
 protected:
  static std::string Os(int error) { return " (" + OsErrorText(error) + ")"; }
};

TEST_F(RxLinkTest, ARefusedTransferCarriesTheOsError) {
  rx->InjectFault("transfer-refused", 1);
  const Result<uint16_t> read = link.ReadRegister(19);
  ASSERT_FALSE(read);
  EXPECT_EQ(read.status.failure.English(),
            "RX register 19 read: transfer refused" + Os(kEmulatedRefusedError));
  EXPECT_EQ(read.status.osError, kEmulatedRefusedError);
  EXPECT_TRUE(link.CommandFailed());
  EXPECT_EQ(link.CommandFailedCause().failure, read.status.failure);
}

TEST_F(RxLinkTest, APulledRxIsGoneNotRefused) {
  rx->Unplug();
  const Status sent = link.TxEnterAccess(false);
  EXPECT_EQ(sent.failure.English(), "TX access mode: RX gone" + Os(kEmulatedGoneError));
  EXPECT_EQ(sent.osError, kEmulatedGoneError);
  // Pulled during the transfer itself, the same.
  rx->Plug();
  link.Close();
  SetUp();
  rx->InjectFault("rx-gone", 1);  // gone at the fetch of the read
  EXPECT_EQ(link.ReadRegister(0).status.failure.English(),
            "RX register 0 read: RX gone" + Os(kEmulatedGoneError));
}

TEST_F(RxLinkTest, VerifiedWritesAndTxWritesSayWhatCameBack) {
  rx->InjectFault("readback-mismatch", -1);
  EXPECT_EQ(link.WriteRegisterVerified(19, 0x1234).failure.English(),
            "RX register 19 read-back 0x1235 != 0x1234");
  rx->ClearFaults();
  link.ClearCommandFailed();
  EXPECT_TRUE(link.CommandFailedCause().Ok());
  link.TxEnterAccess(false);
  host.RunFor(60);
  rx->InjectFault("tx-eeprom-mismatch", -1);
  EXPECT_EQ(link.WriteByte(RegisterSpace::TxEeprom, 0x0C, 0x92).failure.English(),
            "TX EEPROM 0x0C write not confirmed");
  EXPECT_TRUE(link.CommandFailed());
}

TEST_F(RxLinkTest, TheCauseIsTheFirstOperationThatRaisedCommandFailed) {
  tx->SetPowered(false, host.TickCount());
  const Result<uint8_t> sensor = link.ReadByte(RegisterSpace::TxSensor, 0);
  EXPECT_TRUE(sensor.status.noAnswer);
  EXPECT_EQ(sensor.status.failure.English(),
            "TX sensor register 0x00 read: no valid answer in 30 tries");
  rx->InjectFault("transfer-refused", 1);
  link.ReadRegister(1);  // fails too, but CommandFailed was up already
  EXPECT_EQ(link.CommandFailedCause().failure, sensor.status.failure);
  // An operation that fails without raising CommandFailed is no cause.
  link.ClearCommandFailed();
  rx->InjectFault("transfer-refused", 1);
  EXPECT_FALSE(link.SetDeviceType(DeviceType::Mouse));
  EXPECT_FALSE(link.CommandFailed());
  EXPECT_TRUE(link.CommandFailedCause().Ok());
}

TEST_F(RxLinkTest, EachOperationIsEchoedForTheEngineeringPage) {
  std::vector<LinkOperation> seen;
  link.SetOperationHook([&](const LinkOperation& op) { seen.push_back(op); });
  rx->DirectRegisters()[0x10] = 0x7E;
  link.ReadByte(RegisterSpace::RxDirect, 0x10);
  link.WriteByte(RegisterSpace::RxTransceiver, 1, 0x0B);
  link.TxSetupCpi(2);
  link.SpecialQuery(1);
  tx->SetPowered(false, host.TickCount());
  link.ReadByte(RegisterSpace::TxEeprom, 0x30);
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[0].kind, LinkOperation::Kind::Read);
  EXPECT_EQ(seen[0].value, 0x7E);
  EXPECT_EQ(seen[1].kind, LinkOperation::Kind::Write);
  EXPECT_EQ(seen[1].space, RegisterSpace::RxTransceiver);
  EXPECT_EQ(seen[2].kind, LinkOperation::Kind::CpiSetup);
  EXPECT_EQ(seen[2].value, 2);
  EXPECT_EQ(seen[3].kind, LinkOperation::Kind::SpecialAnswer);
  EXPECT_EQ(seen[3].special[0], 0x28);
  EXPECT_FALSE(seen[4].value);  // a failed read shows as a failure, not as a value
  EXPECT_EQ(link.LastSpecialAnswer(1), seen[3].special);
  EXPECT_FALSE(link.LastSpecialAnswer(4));
}

}  // namespace
}  // namespace korvel
