#include "SysfsFixture.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace korvel::test {

const std::vector<uint8_t> kMouseDescriptor = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
    0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
    0x95, 0x01, 0x75, 0x05, 0x81, 0x03, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15,
    0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0};
const std::vector<uint8_t> kVendorDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85,
                                                0x01, 0x09, 0x02, 0x15, 0x00, 0x26, 0xFF, 0x00,
                                                0x75, 0x08, 0x95, 0x08, 0xB1, 0x02, 0xC0};
const std::vector<uint8_t> kKeyboardDescriptor = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x01, 0x05, 0x07, 0x75, 0x01,
    0x95, 0x08, 0x81, 0x02, 0x75, 0x08, 0x95, 0x07, 0x81, 0x00, 0x05, 0x08,
    0x75, 0x01, 0x95, 0x05, 0x91, 0x02, 0x95, 0x03, 0x91, 0x01, 0xC0};

namespace {
void Write(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}
std::string Hex(unsigned v, int digits) {
  char b[16];
  std::snprintf(b, sizeof b, "%0*X", digits, v);
  return b;
}
std::string LowerHex(unsigned v, int digits) {
  char b[16];
  std::snprintf(b, sizeof b, "%0*x", digits, v);
  return b;
}
}  // namespace

SysfsFixture::SysfsFixture() {
  std::string pattern = (fs::temp_directory_path() / "korvel-sysfs-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  sysfs_ = root_ + "/sys";
  dev_ = root_ + "/dev";
  fs::create_directories(fs::path(sysfs_) / "class" / "hidraw");
  fs::create_directories(dev_);
}

SysfsFixture::~SysfsFixture() {
  std::error_code ec;
  fs::remove_all(root_, ec);
}

void SysfsFixture::AddNode(int n, uint16_t vid, uint16_t pid, std::optional<uint16_t> bcd,
                           const std::vector<uint8_t>& descriptor, int usbPort, int iface,
                           bool devNode) {
  const fs::path sys(sysfs_);
  const std::string hidName =
      "0003:" + Hex(vid, 4) + ":" + Hex(pid, 4) + "." + Hex(unsigned(n + 1), 4);
  fs::path hidDir;
  if (bcd) {
    const fs::path usbDevice =
        sys / "devices/pci0000:00/0000:00:14.0/usb1" / ("1-" + std::to_string(usbPort));
    Write(usbDevice / "idVendor", LowerHex(vid, 4) + "\n");
    Write(usbDevice / "idProduct", LowerHex(pid, 4) + "\n");
    Write(usbDevice / "bcdDevice", LowerHex(*bcd, 4) + "\n");
    hidDir = usbDevice / ("1-" + std::to_string(usbPort) + ":1." + std::to_string(iface)) / hidName;
  } else {
    hidDir = sys / "devices/virtual/misc/uhid" / hidName;
  }
  Write(hidDir / "uevent", "DRIVER=hid-generic\nHID_ID=0003:0000" + Hex(vid, 4) + ":0000" +
                               Hex(pid, 4) + "\nHID_NAME=Fixture " + std::to_string(n) +
                               "\nHID_PHYS=usb-0000:00:14.0-" + std::to_string(usbPort) + "/input" +
                               std::to_string(iface) + "\n");
  Write(hidDir / "report_descriptor", std::string(descriptor.begin(), descriptor.end()));
  const std::string name = "hidraw" + std::to_string(n);
  const fs::path node = hidDir / "hidraw" / name;
  fs::create_directories(node);
  fs::create_directory_symlink("../../../" + hidName, node / "device");
  fs::create_directory_symlink(fs::relative(node, sys / "class/hidraw"),
                               sys / "class/hidraw" / name);
  const fs::path busLink = sys / "bus/hid/devices" / hidName;
  fs::create_directories(busLink.parent_path());
  fs::create_directory_symlink(fs::relative(hidDir, busLink.parent_path()), busLink);
  if (devNode) Write(fs::path(dev_) / name, "");
  hidDirs_.push_back({n, hidDir.string()});
}

void SysfsFixture::AddInputDevice(int n, uint16_t version) {
  for (const auto& [node, dir] : hidDirs_)
    if (node == n)
      Write(fs::path(dir) / "input" / ("input" + std::to_string(inputs_++)) / "id" / "version",
            LowerHex(version, 4) + "\n");
}

void SysfsFixture::Vanish(int n) {
  for (const auto& [node, dir] : hidDirs_)
    if (node == n) fs::remove_all(dir);
  fs::remove(fs::path(dev_) / ("hidraw" + std::to_string(n)));
}

}  // namespace korvel::test
