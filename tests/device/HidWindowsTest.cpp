#include <gtest/gtest.h>
#include <windows.h>

#include "VirtualHost.h"
#include "device/HidAccess.h"
#include "device/HidWindows.h"

namespace korvel {
namespace {

TEST(HidWindows, DetailRecordSizeIsTheHeaderNotTheBuffer) {
  // 8 on 64-bit Windows, 5 on 32-bit (packed); anything else fails every detail call.
  EXPECT_EQ(HidWindows::DetailHeaderSize(), sizeof(void*) == 8 ? 8u : 5u);
}

TEST(HidWindows, BindingIsCountedAndReleasedWithEveryOperation) {
  HidWindows platform;
  ASSERT_TRUE(platform.Bind());
  EXPECT_TRUE(platform.SetupApiBound());
  ASSERT_TRUE(platform.Bind());
  platform.Release();
  EXPECT_TRUE(platform.SetupApiBound());  // the nested binding shares one load
  platform.Release();
  EXPECT_FALSE(platform.SetupApiBound());
  EXPECT_FALSE(platform.HidBound());

  VirtualHost host;
  HidAccess hid(platform, host);
  hid.CountHidDevices();
  EXPECT_FALSE(platform.SetupApiBound());
  EXPECT_FALSE(platform.HidBound());
}

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(HidWindows, UnderWineOnlyWinesOwnDevicesAreSeenAndNoneIsTakenForAnRx) {
  HidWindows platform;
  VirtualHost host;
  HidAccess hid(platform, host);
  ReportBuffer buffer{1, 3, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(hid.TransactFeature(kNoHandle, buffer));
  HidAttributes attributes;
  EXPECT_FALSE(platform.GetAttributes(kNoHandle, attributes));
  EXPECT_EQ(platform.Open("\\\\?\\hid#no-such-device"), kNoHandle);
  if (!UnderWine()) GTEST_SKIP() << "a real PC has devices of its own";

  // Wine presents virtual input devices of its own (no feature reports) through the same
  // SetupAPI and hid.dll calls a PC does: the whole scan path runs, and nothing matches.
  std::vector<HidInterfaceInfo> list;
  ASSERT_TRUE(platform.Bind());
  ASSERT_TRUE(platform.HidBound());
  EXPECT_TRUE(platform.Enumerate(list, true));
  platform.Release();
  EXPECT_EQ(hid.CountHidDevices(), int32_t(list.size()));
  for (const HidInterfaceInfo& info : list) {
    EXPECT_EQ(info.path.rfind("\\\\?\\", 0), 0u) << info.path;
    ASSERT_TRUE(info.detailsKnown) << info.path;
    EXPECT_EQ(info.FeatureReportByteLength, 0) << info.path;
    uint32_t version = 0;
    intptr_t handle = kNoHandle;
    EXPECT_FALSE(hid.OpenDeviceByVidPid(info.attributes.VendorID, info.attributes.ProductID,
                                        version, handle));
    EXPECT_EQ(handle, kNoHandle);
  }
  uint32_t version = 0;
  intptr_t handle = kNoHandle;
  EXPECT_FALSE(hid.OpenDeviceByVidPid(0x1BCF, 0x053A, version, handle));
  EXPECT_EQ(handle, kNoHandle);
}

}  // namespace
}  // namespace korvel
