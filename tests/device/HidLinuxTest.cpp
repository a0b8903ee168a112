#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "SysfsFixture.h"
#include "VirtualHost.h"
#include "device/HidAccess.h"
#include "device/HidLinux.h"

namespace korvel {
namespace {

using test::SysfsFixture;

size_t OpenFdCount() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

class HidLinuxFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    // An RX on USB port 2: mouse, keyboard and vendor interfaces; a stranger on port 1;
    // a node with no USB parent; numbering that sorts wrongly as text.
    fx.AddNode(10, 0x1BCF, 0x053A, 0x0100, test::kVendorDescriptor, 2, 2);
    fx.AddNode(2, 0x1BCF, 0x053A, 0x0100, test::kMouseDescriptor, 2, 0);
    fx.AddNode(3, 0x1BCF, 0x053A, 0x0100, test::kKeyboardDescriptor, 2, 1);
    fx.AddNode(1, 0x046D, 0xC52B, 0x1203, test::kVendorDescriptor, 1, 2);
    fx.AddNode(11, 0x1209, 0x0001, std::nullopt, test::kMouseDescriptor, 0);
  }
  SysfsFixture fx;
  HidLinux hid{fx.SysfsRoot(), fx.DevRoot()};
};

TEST_F(HidLinuxFixture, EnumeratesInNodeOrderWithIdentityVersionAndFeatureLength) {
  std::vector<HidInterfaceInfo> list;
  ASSERT_TRUE(hid.Enumerate(list, true));
  ASSERT_EQ(list.size(), 5u);
  const std::string dev = fx.DevRoot() + "/hidraw";
  EXPECT_EQ(list[0].path, dev + "1");
  EXPECT_EQ(list[1].path, dev + "2");
  EXPECT_EQ(list[2].path, dev + "3");
  EXPECT_EQ(list[3].path, dev + "10");
  EXPECT_EQ(list[4].path, dev + "11");
  for (const auto& i : list) EXPECT_TRUE(i.detailsKnown);
  EXPECT_EQ(list[0].attributes.VendorID, 0x046D);
  EXPECT_EQ(list[0].attributes.VersionNumber, 0x1203);
  EXPECT_EQ(list[0].FeatureReportByteLength, 9);
  EXPECT_EQ(list[1].attributes.ProductID, 0x053A);
  EXPECT_EQ(list[1].FeatureReportByteLength, 0);  // mouse-only node
  EXPECT_EQ(list[2].FeatureReportByteLength, 0);
  EXPECT_EQ(list[3].attributes.VendorID, 0x1BCF);
  EXPECT_EQ(list[3].attributes.VersionNumber, 0x0100);
  EXPECT_EQ(list[3].FeatureReportByteLength, 9);
  EXPECT_EQ(list[4].attributes.VersionNumber, 0);  // no USB parent, no release number
}

TEST_F(HidLinuxFixture, VanishedNodeIsLeftOutAndCountsAreOfOpenableNodes) {
  fx.Vanish(3);
  std::vector<HidInterfaceInfo> list;
  ASSERT_TRUE(hid.Enumerate(list, true));
  EXPECT_EQ(list.size(), 4u);
  VirtualHost host;
  HidAccess access(hid, host);
  EXPECT_EQ(access.CountHidDevices(), 4);
  std::filesystem::remove(fx.DevRoot() + "/hidraw11");
  EXPECT_EQ(access.CountHidDevices(), 3);
  EXPECT_EQ(hid.Open(fx.DevRoot() + "/hidraw11"), kNoHandle);
  EXPECT_EQ(hid.LastError(), ENOENT);
}

TEST_F(HidLinuxFixture, NodesThatAreNotHidrawDevicesNeverMatchAndLeakNothing) {
  // The fixture's /dev entries are plain files: the hidraw ioctls fail on them, exactly as
  // on a device that went away between the scan and the attribute read.
  VirtualHost host;
  HidAccess access(hid, host);
  const size_t fds = OpenFdCount();
  uint32_t version = 0;
  intptr_t handle = 77;
  EXPECT_FALSE(access.OpenDeviceByVidPid(0x1BCF, 0x053A, version, handle));
  EXPECT_EQ(handle, 77);
  EXPECT_EQ(OpenFdCount(), fds);
  ReportBuffer buffer{1, 3, 0, 0, 0, 0, 0, 0, 0};
  const intptr_t fd = hid.Open(fx.DevRoot() + "/hidraw10");
  ASSERT_NE(fd, kNoHandle);
  EXPECT_FALSE(access.TransactFeature(fd, buffer));
  EXPECT_EQ(buffer, (ReportBuffer{1, 3, 0, 0, 0, 0, 0, 0, 0}));
  hid.Close(fd);
  EXPECT_EQ(OpenFdCount(), fds);
}

TEST(HidLinux, MissingOrBrokenSysfsGivesNoInterfaces) {
  HidLinux none("/nonexistent-sysfs-root", "/nonexistent-dev");
  std::vector<HidInterfaceInfo> list;
  EXPECT_TRUE(none.Enumerate(list, true));
  EXPECT_TRUE(list.empty());

  SysfsFixture fx;
  fx.AddNode(0, 0x1BCF, 0x053A, 0x0100, test::kVendorDescriptor, 1);
  // A uevent without HID_ID and a truncated descriptor.
  const auto dir = std::filesystem::canonical(fx.SysfsRoot() + "/class/hidraw/hidraw0/device");
  std::ofstream(dir / "uevent") << "DRIVER=hid-generic\n";
  HidLinux hid(fx.SysfsRoot(), fx.DevRoot());
  ASSERT_TRUE(hid.Enumerate(list, true));
  EXPECT_TRUE(list.empty());
  std::ofstream(dir / "uevent") << "HID_ID=0003:00001BCF:0000053A\n";
  std::ofstream(dir / "report_descriptor", std::ios::binary) << std::string("\x06\x00", 2);
  ASSERT_TRUE(hid.Enumerate(list, true));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].FeatureReportByteLength, 0);  // malformed: treated as no feature report
}

// Where the release number comes from when a node has no USB parent (uhid, Bluetooth): the
// kernel shows the HID device's version only on the input devices it made of it.
struct ReleaseCase {
  const char* name;
  void (*build)(SysfsFixture&);
  int node;
  uint16_t expected;
};

// The dongle's three interfaces without a USB parent (as korvel-uhid-rx presents them on
// port 7): the mouse and keyboard have input devices, the vendor interface has none.
void UhidDongle(SysfsFixture& fx) {
  fx.AddNode(0, 0x1BCF, 0x053A, std::nullopt, test::kMouseDescriptor, 7, 0);
  fx.AddNode(1, 0x1BCF, 0x053A, std::nullopt, test::kKeyboardDescriptor, 7, 1);
  fx.AddNode(2, 0x1BCF, 0x053A, std::nullopt, test::kVendorDescriptor, 7, 2);
  fx.AddInputDevice(0, 0xA041);
  fx.AddInputDevice(1, 0xA041);
}

const ReleaseCase kReleaseCases[] = {
    {"own input device", UhidDongle, 0, 0xA041},
    {"vendor interface from its siblings", UhidDongle, 2, 0xA041},
    {"USB parent before input devices",
     [](SysfsFixture& fx) {
       fx.AddNode(0, 0x1BCF, 0x053A, 0x0100, test::kMouseDescriptor, 2, 0);
       fx.AddInputDevice(0, 0x0999);
     },
     0, 0x0100},
    {"another dongle of the same identity is no sibling",
     [](SysfsFixture& fx) {
       fx.AddNode(0, 0x1BCF, 0x053A, std::nullopt, test::kMouseDescriptor, 3, 0);
       fx.AddInputDevice(0, 0x0200);
       fx.AddNode(1, 0x1BCF, 0x053A, std::nullopt, test::kVendorDescriptor, 4, 2);
     },
     1, 0},
    {"another identity on the same device is no sibling",
     [](SysfsFixture& fx) {
       fx.AddNode(0, 0x1BCF, 0x05CA, std::nullopt, test::kMouseDescriptor, 5, 0);
       fx.AddInputDevice(0, 0x0200);
       fx.AddNode(1, 0x1BCF, 0x053A, std::nullopt, test::kVendorDescriptor, 5, 2);
     },
     1, 0},
};

TEST(HidLinux, ReleaseNumberWithoutUsbParent) {
  for (const ReleaseCase& c : kReleaseCases) {
    SCOPED_TRACE(c.name);
    SysfsFixture fx;
    c.build(fx);
    HidLinux hid(fx.SysfsRoot(), fx.DevRoot());
    std::vector<HidInterfaceInfo> list;
    ASSERT_TRUE(hid.Enumerate(list, true));
    const std::string path = fx.DevRoot() + "/hidraw" + std::to_string(c.node);
    const auto it = std::find_if(list.begin(), list.end(),
                                 [&](const HidInterfaceInfo& i) { return i.path == path; });
    ASSERT_NE(it, list.end());
    EXPECT_EQ(it->attributes.VersionNumber, c.expected);
  }
}

}  // namespace
}  // namespace korvel
