// What the HID layer needs of an operating system. The scan, the matching rule and the
// transfer order live above this, in HidAccess, written once for every backend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korvel {

constexpr intptr_t kNoHandle = -1;

struct HidAttributes {
  uint16_t VendorID = 0;
  uint16_t ProductID = 0;
  uint16_t VersionNumber = 0;
};

// One HID interface (a top-level collection on Windows, a hidraw node on Linux).
struct HidInterfaceInfo {
  std::string path;
  // Filled only when details were asked for and could be read without opening the device
  // for transfers (Linux: sysfs; Windows: an access-0 open).
  bool detailsKnown = false;
  HidAttributes attributes;
  uint16_t FeatureReportByteLength = 0;
};

class HidPlatform {
 public:
  virtual ~HidPlatform() = default;

  // Called on entry to and exit from every HID operation (runtime-bound libraries on
  // Windows). Bind() may fail; the operation then behaves as if no device were present.
  virtual bool Bind() { return true; }
  virtual void Release() {}

  // Present interfaces in enumeration order. False when the list itself could not be had.
  virtual bool Enumerate(std::vector<HidInterfaceInfo>& out, bool withDetails) = 0;
  // Opens with no read or write intent; kNoHandle on failure.
  virtual intptr_t Open(const std::string& path) = 0;
  // The OS error of the last call that failed (errno on Linux, GetLastError on Windows; EACCES
  // from Open: present but no permission); 0 when the system reported none.
  virtual int LastError() const { return 0; }
  virtual void Close(intptr_t handle) = 0;
  // Also the liveness test of a handle: fails once the device is gone.
  virtual bool GetAttributes(intptr_t handle, HidAttributes& attributes) = 0;
  // FeatureReportByteLength of the capabilities (counts the report ID byte; 0 = none).
  virtual bool GetFeatureReportByteLength(intptr_t handle, uint16_t& length) = 0;
  // Exactly `length` bytes, buffer[0] = report ID.
  virtual bool SetFeature(intptr_t handle, const uint8_t* buffer, size_t length) = 0;
  virtual bool GetFeature(intptr_t handle, uint8_t* buffer, size_t length) = 0;
};

// The operating system's own HID services: hidraw on Linux, SetupAPI/hid.dll on Windows.
std::unique_ptr<HidPlatform> CreateSystemHidPlatform();

}  // namespace korvel
