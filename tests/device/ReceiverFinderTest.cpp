// The one walk of the VID/PID table that detection, the permission hint and the scan share.
#include <gtest/gtest.h>

#include "EmulatedHid.h"
#include "EmulatedNeighbours.h"
#include "EmulatedRx.h"
#include "VirtualHost.h"
#include "device/ReceiverFinder.h"

namespace korvel {
namespace {

class ReceiverFinderTest : public ::testing::Test {
 protected:
  std::shared_ptr<EmulatedRx> Dongle(uint16_t pid, int instance) {
    EmulatedRx::Config config;
    config.pid = pid;
    config.instance = instance;
    auto rx = std::make_shared<EmulatedRx>(host, config);
    platform.Attach(rx);
    return rx;
  }
  VirtualHost host;
  EmulatedHidPlatform platform{host};
  HidAccess hid{platform, host};
  ReceiverFinder finder{hid};
};

TEST_F(ReceiverFinderTest, BuiltInEntriesThenTxIniEntriesThenTheTypedOne) {
  finder.Table()[7] = {0x1BCF, 0x1234};
  finder.Table()[8] = {0x1BCF, 0};  // half an identity is no identity
  const std::vector<VidPid> candidates = finder.Candidates(VidPid{0x0001, 0x0002});
  ASSERT_EQ(candidates.size(), 7u + 1 + 1);
  EXPECT_EQ(candidates[0].pid, 0x053A);
  EXPECT_EQ(candidates[7].pid, 0x1234);
  EXPECT_EQ(candidates[8].vid, 0x0001);
}

TEST_F(ReceiverFinderTest, OpensTheFirstCandidateInTableOrderAndLeaksNothing) {
  AttachTypicalNeighbours(platform);
  Dongle(0x1234, 1);  // only through TX.ini
  Dongle(0x05CA, 2);  // entry 1
  const auto opened = finder.OpenFirst(std::nullopt);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->id.pid, 0x05CA);
  EXPECT_EQ(platform.OpenHandleCount(), 1u);  // every other interface opened was closed again
  hid.CloseDevice(opened->handle);
}

TEST_F(ReceiverFinderTest, ADongleOutsideTheTableIsFoundThroughTxIniOrTheTypedIdentity) {
  Dongle(0x1234, 1);
  EXPECT_FALSE(finder.OpenFirst(std::nullopt));
  const auto typed = finder.OpenFirst(VidPid{0x1BCF, 0x1234});
  ASSERT_TRUE(typed);
  EXPECT_EQ(typed->version, 0x0100u);
  hid.CloseDevice(typed->handle);
  finder.Table()[20] = {0x1BCF, 0x1234};
  const auto fromFile = finder.OpenFirst(std::nullopt);
  ASSERT_TRUE(fromFile);
  hid.CloseDevice(fromFile->handle);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

// When nothing opens, the search says why, in the words the engineer's trace shows.
TEST_F(ReceiverFinderTest, ASearchThatOpensNothingSaysWhy) {
  AttachTypicalNeighbours(platform);
  const auto none = finder.OpenFirst(std::nullopt);
  ASSERT_FALSE(none);
  EXPECT_EQ(none.status.failure.English(),
            "no receiver dongle is plugged in (7 identities searched)");
  Dongle(0x053A, 1);
  platform.SetOpenRefused(true);
  const auto refused = finder.OpenFirst(std::nullopt);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.status.osError, platform.LastError());
  EXPECT_EQ(refused.status.failure.English().rfind(
                "receiver dongle 1BCF:053A is plugged in, but this user may not open it (", 0),
            0u)
      << refused.status.failure;
}

TEST_F(ReceiverFinderTest, ADongleThisUserMayNotOpenIsNamed) {
  AttachTypicalNeighbours(platform);
  EXPECT_FALSE(finder.Unopenable(std::nullopt));  // nothing of ours at all
  Dongle(0x1234, 1);
  platform.SetOpenRefused(true);
  EXPECT_FALSE(finder.Unopenable(std::nullopt));  // not one of our identities
  const auto refused = finder.Unopenable(VidPid{0x1BCF, 0x1234});
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->ProductID, 0x1234);
  platform.SetOpenRefused(false);
  EXPECT_FALSE(finder.Unopenable(VidPid{0x1BCF, 0x1234}));
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace korvel
