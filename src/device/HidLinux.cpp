#ifdef __linux__
#include "device/HidLinux.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "device/HidDescriptor.h"
#include "platform/Text.h"

namespace fs = std::filesystem;

namespace korvel {

namespace {

bool ReadFile(const fs::path& p, std::string& out) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

// One KEY=value line of a uevent file; empty when absent.
std::string UeventField(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line))
    if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
        line[key.size()] == '=')
      return Trim(line.substr(key.size() + 1));
  return {};
}

// HID_ID=BBBB:VVVVVVVV:PPPPPPPP
bool ParseUevent(const std::string& text, HidAttributes& a) {
  const std::string id = UeventField(text, "HID_ID");
  const size_t c1 = id.find(':'), c2 = id.find(':', c1 + 1);
  if (c1 == std::string::npos || c2 == std::string::npos) return false;
  uint32_t bus, vid, pid;
  if (!ParseHexDigits(id.substr(0, c1), bus) ||
      !ParseHexDigits(id.substr(c1 + 1, c2 - c1 - 1), vid) ||
      !ParseHexDigits(id.substr(c2 + 1), pid))
    return false;
  a.VendorID = uint16_t(vid);
  a.ProductID = uint16_t(pid);
  return true;
}

std::optional<uint16_t> ReadHexWord(const fs::path& p) {
  std::string text;
  uint32_t v = 0;
  if (!ReadFile(p, text) || !ParseHexDigits(Trim(text), v) || v > 0xFFFF) return std::nullopt;
  return uint16_t(v);
}

// The kernel copies a HID device's version into each input device it makes of it.
std::optional<uint16_t> InputDeviceVersion(const fs::path& hidDevice) {
  std::error_code ec;
  fs::directory_iterator it(hidDevice / "input", ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec))
    if (it->path().filename().string().rfind("input", 0) == 0)
      if (const auto version = ReadHexWord(it->path() / "id" / "version")) return version;
  return std::nullopt;
}

// HID_PHYS up to its "/input<n>": what the interfaces of one device share (usbhid names them
// "usb-<port path>/input<interface>"). Empty when the name has no interface part.
std::string PhysicalDevice(const std::string& phys) {
  const size_t at = phys.rfind("/input");
  return at == std::string::npos || at == 0 ? std::string() : phys.substr(0, at);
}

// The release number (Windows' VersionNumber). On USB it is the bcdDevice of the first
// ancestor with idVendor and bcdDevice. Without a USB parent (uhid, Bluetooth) sysfs has it
// only on the input devices made of the HID device; an interface without mouse or keyboard
// collections (the dongle's vendor one) has none, so it takes a sibling's: a HID device of the
// same HID_ID and HID_UNIQ whose HID_PHYS names the same device. 0 when nothing says, which
// the matching rule takes as any release.
uint16_t ReadReleaseNumber(const fs::path& sysfsRoot, const fs::path& hidDevice,
                           const std::string& uevent) {
  std::error_code ec;
  const fs::path root = fs::canonical(sysfsRoot, ec);
  if (ec) return 0;
  const fs::path self = fs::canonical(hidDevice, ec);
  if (ec) return 0;
  const std::string rootText = root.string();
  for (fs::path p = self; p.string().size() > rootText.size() && p.string().rfind(rootText, 0) == 0;
       p = p.parent_path()) {
    if (fs::exists(p / "idVendor", ec) && fs::exists(p / "bcdDevice", ec))
      return ReadHexWord(p / "bcdDevice").value_or(0);
  }
  if (const auto version = InputDeviceVersion(self)) return *version;
  const std::string device = PhysicalDevice(UeventField(uevent, "HID_PHYS"));
  if (device.empty()) return 0;
  const std::string id = UeventField(uevent, "HID_ID"), uniq = UeventField(uevent, "HID_UNIQ");
  fs::directory_iterator it(root / "bus" / "hid" / "devices", ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code ignored;
    const fs::path other = fs::canonical(it->path(), ignored);
    std::string text;
    if (ignored || other == self || !ReadFile(other / "uevent", text)) continue;
    if (UeventField(text, "HID_ID") != id || UeventField(text, "HID_UNIQ") != uniq ||
        PhysicalDevice(UeventField(text, "HID_PHYS")) != device)
      continue;
    if (const auto version = InputDeviceVersion(other)) return *version;
  }
  return 0;
}

unsigned NodeNumber(const std::string& name) {
  unsigned n = 0;
  for (char c : name.substr(6)) n = n * 10 + unsigned(c - '0');
  return n;
}

bool IsHidrawName(const std::string& name) {
  if (name.size() <= 6 || name.size() > 12 || name.rfind("hidraw", 0) != 0) return false;
  return std::all_of(name.begin() + 6, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int Ioctl(int fd, unsigned long request, void* arg) {
  int r;
  do r = ::ioctl(fd, request, arg);
  while (r < 0 && errno == EINTR);
  return r;
}

}  // namespace

bool ReadHidrawSysfs(const std::string& sysfsRoot, const std::string& name, HidInterfaceInfo& info,
                     bool withDescriptor) {
  const fs::path device = fs::path(sysfsRoot) / "class" / "hidraw" / name / "device";
  std::string uevent;
  if (!ReadFile(device / "uevent", uevent) || !ParseUevent(uevent, info.attributes)) return false;
  info.attributes.VersionNumber = ReadReleaseNumber(sysfsRoot, device, uevent);
  info.FeatureReportByteLength = 0;
  if (withDescriptor) {
    std::string descriptor;
    if (!ReadFile(device / "report_descriptor", descriptor)) return false;
    const auto length = FeatureReportByteLength(reinterpret_cast<const uint8_t*>(descriptor.data()),
                                                descriptor.size());
    info.FeatureReportByteLength = length.value_or(0);
  }
  info.detailsKnown = true;
  return true;
}

HidLinux::HidLinux(std::string sysfsRoot, std::string devRoot)
    : sysfsRoot_(std::move(sysfsRoot)), devRoot_(std::move(devRoot)) {}

HidLinux::~HidLinux() {
  for (const auto& [fd, node] : open_) ::close(int(fd));
}

std::string HidLinux::NodeName(const std::string& devPath) const {
  return fs::path(devPath).filename().string();
}

bool HidLinux::Enumerate(std::vector<HidInterfaceInfo>& out, bool withDetails) {
  out.clear();
  std::error_code ec;
  fs::directory_iterator it(fs::path(sysfsRoot_) / "class" / "hidraw", ec);
  if (ec) return true;  // no hidraw class: no HID interfaces, not a failure
  std::vector<std::string> names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string name = it->path().filename().string();
    if (IsHidrawName(name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return NodeNumber(a) < NodeNumber(b);
  });
  for (const std::string& name : names) {
    HidInterfaceInfo info;
    info.path = (fs::path(devRoot_) / name).string();
    if (withDetails) {
      // A node that vanished between the listing and this read is left out.
      if (!ReadHidrawSysfs(sysfsRoot_, name, info, true)) continue;
    }
    out.push_back(std::move(info));
  }
  return true;
}

intptr_t HidLinux::Open(const std::string& path) {
  // hidraw does not check the open mode; read-only is the fallback for read-only nodes.
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 && (errno == EACCES || errno == EROFS))
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    lastError_ = errno;
    return kNoHandle;
  }
  lastError_ = 0;
  // The release number is looked up on the first attribute read: a count only opens.
  OpenNode node;
  node.name = NodeName(path);
  open_[fd] = node;
  return fd;
}

void HidLinux::Close(intptr_t handle) {
  auto it = open_.find(handle);
  if (it == open_.end()) return;  // never ours: do not close a stranger's descriptor
  ::close(int(handle));
  open_.erase(it);
}

bool HidLinux::Failed(int error) {
  lastError_ = error;
  return false;
}

bool HidLinux::GetAttributes(intptr_t handle, HidAttributes& attributes) {
  auto it = open_.find(handle);
  if (it == open_.end()) return Failed(EBADF);
  hidraw_devinfo devinfo{};
  // Fails with ENODEV once the device is unplugged: the liveness test.
  if (Ioctl(int(handle), HIDIOCGRAWINFO, &devinfo) < 0) return Failed(errno);
  if (it->second.version < 0) {
    HidInterfaceInfo info;
    it->second.version = ReadHidrawSysfs(sysfsRoot_, it->second.name, info, false)
                             ? info.attributes.VersionNumber
                             : 0;
  }
  attributes.VendorID = uint16_t(devinfo.vendor);
  attributes.ProductID = uint16_t(devinfo.product);
  attributes.VersionNumber = uint16_t(it->second.version);
  return true;
}

bool HidLinux::GetFeatureReportByteLength(intptr_t handle, uint16_t& length) {
  auto it = open_.find(handle);
  if (it == open_.end()) return Failed(EBADF);
  if (it->second.featureLength < 0) {
    int size = 0;
    if (Ioctl(int(handle), HIDIOCGRDESCSIZE, &size) < 0) return Failed(errno);
    hidraw_report_descriptor rd{};
    rd.size = uint32_t(std::clamp(size, 0, HID_MAX_DESCRIPTOR_SIZE));
    if (Ioctl(int(handle), HIDIOCGRDESC, &rd) < 0) return Failed(errno);
    it->second.featureLength = FeatureReportByteLength(rd.value, rd.size).value_or(0);
  }
  length = uint16_t(it->second.featureLength);
  return true;
}

bool HidLinux::SetFeature(intptr_t handle, const uint8_t* buffer, size_t length) {
  if (open_.find(handle) == open_.end() || length == 0) return Failed(EBADF);
  std::vector<uint8_t> copy(buffer, buffer + length);
  const int r = Ioctl(int(handle), HIDIOCSFEATURE(length), copy.data());
  // Nothing sent without an error is still a failed transfer.
  if (r <= 0) return Failed(r < 0 ? errno : EIO);
  return true;
}

bool HidLinux::GetFeature(intptr_t handle, uint8_t* buffer, size_t length) {
  if (open_.find(handle) == open_.end() || length == 0) return Failed(EBADF);
  std::vector<uint8_t> copy(length, 0);
  copy[0] = buffer[0];
  const int r = Ioctl(int(handle), HIDIOCGFEATURE(length), copy.data());
  if (r <= 0) return Failed(r < 0 ? errno : EIO);
  std::fill(copy.begin() + std::min<size_t>(size_t(r), length), copy.end(), 0);
  std::copy(copy.begin(), copy.end(), buffer);
  return true;
}

}  // namespace korvel
#endif
