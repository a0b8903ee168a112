#include <gtest/gtest.h>

#include <vector>

#include "EmulatedBench.h"
#include "EmulatedRx.h"
#include "device/HidDescriptor.h"

namespace korvel {
namespace {

using test::EmulatedBench;

TEST(EmulatedRx, PresentsMouseKeyboardAndVendorCollections) {
  VirtualHost host;
  EmulatedRx rx(host);
  const auto interfaces = rx.Interfaces();
  ASSERT_EQ(interfaces.size(), 3u);
  EXPECT_EQ(interfaces[0].featureLength, 0);
  EXPECT_EQ(interfaces[1].featureLength, 0);
  EXPECT_EQ(interfaces[2].featureLength, 9);
  for (size_t k = 0; k < interfaces.size(); ++k) {
    EXPECT_EQ(interfaces[k].attributes.VendorID, 0x1BCF);
    EXPECT_EQ(interfaces[k].attributes.ProductID, 0x053A);
    // The descriptor a kernel is given (korvel-uhid-rx) declares what the model answers to.
    const auto& descriptor = EmulatedRx::ReportDescriptor(k);
    EXPECT_EQ(FeatureReportByteLength(descriptor.data(), descriptor.size()),
              interfaces[k].featureLength)
        << "interface " << k;
  }
  // Input-only collections refuse feature transfers.
  uint8_t report[9] = {1, 3, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(rx.SetFeature(0, report, 9));
  EXPECT_FALSE(rx.SetFeature(2, report, 8));
  report[0] = 2;
  EXPECT_FALSE(rx.SetFeature(2, report, 9));
}

TEST(EmulatedRx, AFetchOfAnotherLengthIsCutAsTheSystemCutsIt) {
  struct Case {
    size_t length;
    bool ok;
    std::vector<uint8_t> bytes;
  };
#ifdef _WIN32
  // hid.dll takes the collection's length only; the device refuses anything else.
  const Case cases[] = {
      {5, false, {}}, {9, true, {0x12, 0x34, 0, 0, 0, 0, 0, 0xCC, 0}}, {16, false, {}}};
#else
  // hidraw asks the device all the same and cuts its answer to the caller's buffer.
  const Case cases[] = {{5, true, {0x12, 0x34, 0, 0, 0}},
                        {9, true, {0x12, 0x34, 0, 0, 0, 0, 0, 0xCC, 0}},
                        {16, true, {0x12, 0x34, 0, 0, 0, 0, 0, 0xCC, 0, 0, 0, 0, 0, 0, 0, 0}}};
#endif
  EmulatedBench b(false);
  ASSERT_TRUE(b.OpenRx());
  b.rx->Registers()[30] = 0x1234;
  ReportBuffer read{1, 3, 30, 0, 0, 0, 0, 0, 0};
  ASSERT_TRUE(b.hid.SendFeature(b.state.DeviceHandle, read));
  b.host.Sleep(10);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::vector<uint8_t> buffer(c.length, 0xEE);
    buffer[0] = 1;
    EXPECT_EQ(b.platform.GetFeature(b.state.DeviceHandle, buffer.data(), buffer.size()), c.ok);
    if (c.ok) {
      EXPECT_EQ(buffer, c.bytes);
    }
  }
}

TEST(EmulatedRx, FactoryRegistersFollowTheByteConvention) {
  const auto r = EmulatedRx::FactoryRegisters();
  for (int a : {0, 1, 2, 15, 16, 17, 18, 19, 47}) {
    EXPECT_EQ((r[a] >> 8) ^ 0xFF, r[a] & 0xFF) << "register " << a;
  }
  EXPECT_EQ(r[15] >> 8, 0x1B);
  EXPECT_EQ(r[16] >> 8, 0xCF);
  EXPECT_EQ(r[17] >> 8, 0x05);
  EXPECT_EQ(r[18] >> 8, 0x3A);
  const int length = r[19] >> 8;
  std::string text;
  for (int k = 0; k < (length - 2) / 2; ++k) {
    const uint16_t w = r[20 + k / 2];
    text += char(k % 2 == 0 ? w >> 8 : w & 0xFF);
  }
  EXPECT_EQ(text, "2.4G Mouse");
  EXPECT_EQ(r[56], 0x5AA5);
}

TEST(EmulatedRx, AnswerIsInvalidUntilPreparedAndAfterACommandWithoutAnswer) {
  EmulatedBench b(false);
  ASSERT_TRUE(b.OpenRx());
  b.rx->SetAnswerPrepareMs(50);
  ReportBuffer buffer{1, 3, 56, 0, 0, 0, 0, 0, 0};
  ASSERT_TRUE(b.hid.SendFeature(b.state.DeviceHandle, buffer));
  buffer = {1, 0, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_TRUE(b.hid.ReceiveFeature(b.state.DeviceHandle, buffer));
  EXPECT_NE(buffer[7], 0xCC);
  b.host.Sleep(50);
  buffer = {1, 0, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_TRUE(b.hid.ReceiveFeature(b.state.DeviceHandle, buffer));
  EXPECT_EQ(buffer, (ReportBuffer{0x5A, 0xA5, 0, 0, 0, 0, 0, 0xCC, 0}));
  // A write answers nothing: the old answer is gone.
  buffer = {1, 4, 56, 0xFF, 0xFF, 0, 0, 0, 0};
  ASSERT_TRUE(b.hid.SendFeature(b.state.DeviceHandle, buffer));
  b.host.Sleep(100);
  buffer = {1, 0, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_TRUE(b.hid.ReceiveFeature(b.state.DeviceHandle, buffer));
  EXPECT_NE(buffer[7], 0xCC);
  EXPECT_EQ(b.rx->Registers()[56], 0xFFFF);
}

TEST(EmulatedRx, RegistersBeyondTheFileReadErasedAndIgnoreWrites) {
  EmulatedBench b(false);
  ASSERT_TRUE(b.OpenRx());
  EXPECT_EQ(b.channel.ReadRegister(200).value, 0xFFFF);
  const auto before = b.rx->Registers();
  ASSERT_TRUE(b.channel.SendCommand(4, 64, 0x12, 0x34));
  EXPECT_EQ(b.rx->Registers(), before);
}

TEST(EmulatedRx, FaultsByName) {
  VirtualHost host;
  EmulatedRx rx(host);
  EXPECT_FALSE(rx.InjectFault("tx-off"));  // no mouse to switch off
  rx.SetTx(std::make_shared<EmulatedTx>());
  for (const std::string& name : EmulatedRx::FaultNames())
    EXPECT_TRUE(rx.InjectFault(name, 1)) << name;
  EXPECT_FALSE(rx.InjectFault("no-such-fault"));
  rx.ClearFaults();
  EXPECT_TRUE(rx.Plugged());
  EXPECT_TRUE(rx.InjectFault("rx-gone", 0));
  EXPECT_FALSE(rx.Plugged());
}

TEST(EmulatedRx, PulledMidRunStaysGoneForOldHandles) {
  EmulatedBench b;
  ASSERT_TRUE(b.OpenRx());
  b.rx->InjectFault("rx-gone", 2);
  EXPECT_EQ(b.channel.ReadRegister(0).value, 0x926D);  // two transfers
  EXPECT_FALSE(b.channel.ReadRegister(0));
  EXPECT_FALSE(b.rx->Plugged());
  EXPECT_EQ(b.hid.CountHidDevices(), 3);
  uint32_t version = 0;
  intptr_t handle = kNoHandle;
  EXPECT_FALSE(b.hid.OpenDeviceByVidPid(0x1BCF, 0x053A, version, handle));
}

}  // namespace
}  // namespace korvel
