#include <gtest/gtest.h>

#include "EmulatedBench.h"
#include "device/HidAccess.h"

namespace korvel {
namespace {

using test::EmulatedBench;

TEST(HidAccess, NothingPresent) {
  VirtualHost host;
  EmulatedHidPlatform platform(host);
  HidAccess hid(platform, host);
  EXPECT_EQ(hid.CountHidDevices(), 0);
  uint32_t version = 7;
  intptr_t handle = 1234;
  EXPECT_FALSE(hid.OpenDeviceByVidPid(0x1BCF, 0x053A, version, handle));
  EXPECT_EQ(handle, 1234);
  EXPECT_EQ(version, 7u);

  platform.SetEnumerationFails(true);
  platform.Attach(std::make_shared<EmulatedRx>(host));
  EXPECT_EQ(hid.CountHidDevices(), 0);
  EXPECT_FALSE(hid.OpenDeviceByVidPid(0x1BCF, 0x053A, version, handle));
  EXPECT_EQ(handle, 1234);
}

TEST(HidAccess, CountCoversEveryVendorPumpsAfterEachAndKeepsNothingOpen) {
  EmulatedBench b;
  const uint64_t pumps = b.host.ProcessMessagesCalls();
  EXPECT_EQ(b.hid.CountHidDevices(), 6);  // 3 neighbour collections + mouse, keyboard, vendor
  EXPECT_EQ(b.host.ProcessMessagesCalls() - pumps, 6u);
  EXPECT_EQ(b.platform.OpenHandleCount(), 0u);
  b.rx->Unplug();
  EXPECT_EQ(b.hid.CountHidDevices(), 3);
}

TEST(HidAccess, MatchesOnlyTheCollectionWithAFeatureReport) {
  EmulatedBench b;
  uint32_t version = 0;
  intptr_t handle = kNoHandle;
  ASSERT_TRUE(b.hid.OpenDeviceByVidPid(0x1BCF, 0x053A, version, handle));
  EXPECT_EQ(version, 0x0100u);
  EXPECT_EQ(b.platform.OpenHandleCount(), 1u);  // mouse, keyboard and strangers closed
  uint16_t length = 0;
  ASSERT_TRUE(b.platform.GetFeatureReportByteLength(handle, length));
  EXPECT_EQ(length, 9);
  // The neighbour with its own 9-byte feature report is never taken for an RX.
  uint32_t v2 = 0;
  intptr_t h2 = kNoHandle;
  EXPECT_FALSE(b.hid.OpenDeviceByVidPid(0x1BCF, 0x05CA, v2, h2));
  EXPECT_EQ(h2, kNoHandle);
}

TEST(HidAccess, NonZeroVersionFiltersButStillHandsBackTheDevice) {
  EmulatedBench b;
  b.rx->SetVersion(0xA041);
  uint32_t version = 0x0100;
  intptr_t handle = kNoHandle;
  EXPECT_FALSE(b.hid.OpenDeviceByVidPid(0x1BCF, 0x053A, version, handle));
  EXPECT_NE(handle, kNoHandle);
  EXPECT_EQ(version, 0xA041u);
  // The same version now passes.
  intptr_t again = kNoHandle;
  EXPECT_TRUE(b.hid.OpenDeviceByVidPid(0x1BCF, 0x053A, version, again));
  b.hid.CloseDevice(handle);
  b.hid.CloseDevice(again);
  EXPECT_EQ(b.platform.OpenHandleCount(), 0u);
}

TEST(HidAccess, LastMatchWinsAndEarlierMatchesAreClosed) {
  EmulatedBench b;
  EmulatedRx::Config second;
  second.instance = 1;
  second.version = 0x0200;
  auto rx2 = std::make_shared<EmulatedRx>(b.host, second);
  b.platform.Attach(rx2);
  ASSERT_TRUE(b.OpenRx());
  EXPECT_EQ(b.state.RxVersion, 0x0200u);
  EXPECT_EQ(b.platform.OpenHandleCount(), 1u);
  EXPECT_TRUE(b.channel.SendCommand(0x04, 30, 0x12, 0x34));
  EXPECT_EQ(rx2->Registers()[30], 0x1234);
  EXPECT_EQ(b.rx->Registers()[30], 0xFFFF);
}

TEST(HidAccess, TransfersOnNoHandleFailAndLeaveTheBufferAlone) {
  EmulatedBench b;
  const ReportBuffer request{1, 3, 5, 0, 0, 0, 0, 0, 0};
  for (auto op :
       {&HidAccess::SendFeature, &HidAccess::ReceiveFeature, &HidAccess::TransactFeature}) {
    ReportBuffer buffer = request;
    EXPECT_FALSE((b.hid.*op)(kNoHandle, buffer));
    EXPECT_EQ(buffer, request);
  }
  EXPECT_TRUE(b.trace.empty());
}

TEST(HidAccess, TransactSendsWaitsEightMsThenFetchesIntoTheSameBuffer) {
  EmulatedBench b;
  ASSERT_TRUE(b.OpenRx());
  ReportBuffer buffer{1, 3, 16, 0, 0, 0, 0, 0, 0};
  ASSERT_TRUE(b.hid.TransactFeature(b.state.DeviceHandle, buffer));
  EXPECT_EQ(buffer, (ReportBuffer{0xCF, 0x30, 0, 0, 0, 0, 0, 0xCC, 0}));
  ASSERT_EQ(b.trace.size(), 2u);
  EXPECT_EQ(b.trace[0].direction, HidTraceEvent::Direction::Sent);
  EXPECT_EQ(b.trace[1].direction, HidTraceEvent::Direction::Fetched);
  // 8 ms of preparation plus the 1 ms the emulated bus takes for the fetch.
  EXPECT_EQ(b.trace[1].timeMs - b.trace[0].timeMs, 8u + 1u);
}

TEST(HidAccess, FailedSendFetchesNothing) {
  EmulatedBench b;
  ASSERT_TRUE(b.OpenRx());
  b.rx->InjectFault("transfer-refused", 1);
  const ReportBuffer request{1, 3, 16, 0, 0, 0, 0, 0, 0};
  ReportBuffer buffer = request;
  EXPECT_FALSE(b.hid.TransactFeature(b.state.DeviceHandle, buffer));
  EXPECT_EQ(buffer, request);
  EXPECT_EQ(b.rx->ReportsFetched(), 0u);
  ASSERT_EQ(b.trace.size(), 1u);
  EXPECT_FALSE(b.trace[0].ok);
}

TEST(HidAccess, GoneDeviceFailsTheAttributeReadBeforeAnyTransfer) {
  EmulatedBench b;
  ASSERT_TRUE(b.OpenRx());
  b.rx->Unplug();
  ReportBuffer buffer{1, 3, 16, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(b.hid.SendFeature(b.state.DeviceHandle, buffer));
  EXPECT_FALSE(b.hid.TransactFeature(b.state.DeviceHandle, buffer));
  EXPECT_TRUE(b.trace.empty());
  // A replug is a new device: the old handle stays dead.
  b.rx->Plug();
  EXPECT_FALSE(b.hid.SendFeature(b.state.DeviceHandle, buffer));
  EXPECT_TRUE(b.OpenRx());
  EXPECT_TRUE(b.hid.SendFeature(b.state.DeviceHandle, buffer));
}

}  // namespace
}  // namespace korvel
