#include <gtest/gtest.h>

#include "EmulatedBench.h"
#include "device/CommandChannel.h"

namespace korvel {
namespace {

using test::EmulatedBench;

class CommandChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(b.OpenRx()); }
  EmulatedBench b;
};

TEST_F(CommandChannelTest, ReadRegisterTakesOneTransactionWhenTheAnswerIsReady) {
  EXPECT_EQ(b.channel.ReadRegister(15).value, 0x1BE4);
  ASSERT_EQ(b.Sent().size(), 1u);
  EXPECT_EQ(b.Sent()[0], (ReportBuffer{1, 3, 15, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(b.Fetched().size(), 1u);
  EXPECT_FALSE(b.state.CommandFailed);
}

TEST_F(CommandChannelTest, ReadRegisterRetriesWhileTheAnswerIsBeingPrepared) {
  // Ready 20 ms after the command: each attempt is 1 + 8 + 1 ms, and a new command
  // restarts the preparation, so it never becomes ready.
  b.rx->SetAnswerPrepareMs(20);
  EXPECT_FALSE(b.channel.ReadRegister(0));
  EXPECT_EQ(b.Sent().size(), size_t(RetryCount));
  EXPECT_TRUE(b.state.CommandFailed);
  // 9 ms: the first fetch comes at 1 + 8 = 9 ms after the command arrived.
  b.state.CommandFailed = false;
  b.trace.clear();
  b.rx->SetAnswerPrepareMs(9);
  EXPECT_EQ(b.channel.ReadRegister(0).value, 0x926D);
  EXPECT_EQ(b.Sent().size(), 1u);
}

TEST_F(CommandChannelTest, ReadRegisterGivesUpAfterExactlyRetryCountTransactions) {
  b.rx->InjectFault("answers-never-valid");
  const uint64_t pumps = b.host.ProcessMessagesCalls();
  EXPECT_FALSE(b.channel.ReadRegister(1));
  EXPECT_TRUE(b.state.CommandFailed);
  EXPECT_EQ(b.Sent().size(), 30u);
  EXPECT_EQ(b.Fetched().size(), 30u);
  EXPECT_EQ(b.host.ProcessMessagesCalls() - pumps, 30u);  // pumped after every transaction
}

TEST_F(CommandChannelTest, ReadRegisterStopsAtOnceOnAFailedTransfer) {
  b.rx->InjectFault("transfer-refused", 1);
  EXPECT_FALSE(b.channel.ReadRegister(1));
  EXPECT_TRUE(b.state.CommandFailed);
  EXPECT_EQ(b.Sent().size(), 1u);
  EXPECT_EQ(b.Fetched().size(), 0u);
}

TEST_F(CommandChannelTest, WriteRegisterVerifiedSendsHighByteFirstAndReadsBack) {
  const uint64_t t0 = b.host.TickCount();
  b.channel.WriteRegisterVerified(0x20, 0x1234);
  EXPECT_FALSE(b.state.CommandFailed);
  ASSERT_EQ(b.Sent().size(), 2u);
  EXPECT_EQ(b.Sent()[0], (ReportBuffer{1, 4, 0x20, 0x12, 0x34, 0, 0, 0, 0}));
  EXPECT_EQ(b.Sent()[1], (ReportBuffer{1, 3, 0x20, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(b.rx->Registers()[0x20], 0x1234);
  // The read-back waits 20 ms after the write.
  ASSERT_EQ(b.trace.size(), 3u);
  EXPECT_GE(b.trace[1].timeMs - b.trace[0].timeMs, 20u);
  EXPECT_GE(b.host.TickCount() - t0, 20u + 8u);
}

TEST_F(CommandChannelTest, WriteMatchingOnTheThirdAttemptSendsThreeWrites) {
  b.rx->InjectFault("readback-mismatch", 2);
  b.channel.WriteRegisterVerified(33, 0xA55A);
  EXPECT_EQ(b.SentWithCode(C_Wrt_Reg), 3u);
  EXPECT_EQ(b.SentWithCode(C_Rd_Reg), 3u);
  EXPECT_FALSE(b.state.CommandFailed);
  EXPECT_EQ(b.rx->Registers()[33], 0xA55A);
}

TEST_F(CommandChannelTest, WriteThatNeverVerifiesStopsAtRetryCountAndFails) {
  b.rx->InjectFault("readback-mismatch");
  b.channel.WriteRegisterVerified(33, 0x0001);
  EXPECT_EQ(b.SentWithCode(C_Wrt_Reg), 30u);
  EXPECT_TRUE(b.state.CommandFailed);
}

TEST_F(CommandChannelTest, WriteOfFFFFCountsAFailedReadAsAMatchButStillFails) {
  b.rx->InjectFault("answers-never-valid");
  b.channel.WriteRegisterVerified(40, 0xFFFF);
  EXPECT_EQ(b.SentWithCode(C_Wrt_Reg), 1u);  // -1 read back as 0xFFFF: verified
  EXPECT_EQ(b.SentWithCode(C_Rd_Reg), 30u);
  EXPECT_TRUE(b.state.CommandFailed);  // raised by the failed read
}

TEST_F(CommandChannelTest, WriteEndsAtOnceWhenTheRxIsPulled) {
  b.rx->InjectFault("rx-gone", 3);  // write, read, fetch go through; the next write fails
  b.rx->InjectFault("readback-mismatch");
  b.channel.WriteRegisterVerified(33, 0x1111);
  EXPECT_TRUE(b.state.CommandFailed);
  EXPECT_EQ(b.SentWithCode(C_Wrt_Reg), 2u);
  EXPECT_FALSE(b.trace.back().ok);  // the second write was refused; nothing after it
  EXPECT_EQ(b.trace.back().bytes[1], C_Wrt_Reg);
  EXPECT_FALSE(b.rx->Plugged());
}

TEST_F(CommandChannelTest, SendCommandNeedsAnActiveIdentity) {
  b.state.ActivePid = 0;
  EXPECT_FALSE(b.channel.SendCommand(0x0F, 0xCC, 0x33, 0x55));
  EXPECT_TRUE(b.trace.empty());
  EXPECT_FALSE(b.state.CommandFailed);
  // With no identity a verified write cannot even send: it fails at once.
  b.channel.WriteRegisterVerified(1, 2);
  EXPECT_TRUE(b.state.CommandFailed);
  EXPECT_TRUE(b.trace.empty());
}

TEST_F(CommandChannelTest, NoDeviceFailsWithoutTraffic) {
  b.state.DeviceHandle = kNoHandle;
  EXPECT_FALSE(b.channel.ReadRegister(0));
  EXPECT_TRUE(b.state.CommandFailed);
  b.state.CommandFailed = false;
  b.channel.WriteRegisterVerified(0, 0);
  EXPECT_TRUE(b.state.CommandFailed);
  EXPECT_TRUE(b.trace.empty());
}

TEST_F(CommandChannelTest, CommandFailedStaysRaisedThroughLaterSuccesses) {
  b.rx->InjectFault("answers-never-valid");
  EXPECT_FALSE(b.channel.ReadRegister(0));
  b.rx->ClearFaults();
  EXPECT_EQ(b.channel.ReadRegister(0).value, 0x926D);
  b.channel.WriteRegisterVerified(8, 0x0102);
  EXPECT_TRUE(b.state.CommandFailed);
}

}  // namespace
}  // namespace korvel
