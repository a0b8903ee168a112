// A throw-away sysfs tree shaped like the kernel's, with /dev stand-ins, for the hidraw
// backend's enumeration.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvel::test {

extern const std::vector<uint8_t> kMouseDescriptor;     // input only
extern const std::vector<uint8_t> kVendorDescriptor;    // report ID 1, 8 feature bytes
extern const std::vector<uint8_t> kKeyboardDescriptor;  // report IDs, input/output only

class SysfsFixture {
 public:
  SysfsFixture();
  ~SysfsFixture();
  SysfsFixture(const SysfsFixture&) = delete;
  SysfsFixture& operator=(const SysfsFixture&) = delete;

  // hidraw<n> on USB device 1-<usbPort> (interface `iface`), or with no USB parent when bcd
  // is nullopt (as uhid or Bluetooth nodes). devNode: also create dev/hidraw<n>.
  void AddNode(int n, uint16_t vid, uint16_t pid, std::optional<uint16_t> bcd,
               const std::vector<uint8_t>& descriptor, int usbPort, int iface = 0,
               bool devNode = true);
  // An input device the kernel made of node n's HID device (a mouse or keyboard collection),
  // with the HID device's version in its id/version.
  void AddInputDevice(int n, uint16_t version);
  // The device directory goes, the class link dangles: a node unplugged mid-scan.
  void Vanish(int n);

  const std::string& SysfsRoot() const { return sysfs_; }
  const std::string& DevRoot() const { return dev_; }

 private:
  std::string root_, sysfs_, dev_;
  std::vector<std::pair<int, std::string>> hidDirs_;
  int inputs_ = 0;
};

}  // namespace korvel::test
