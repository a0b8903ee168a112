// hidraw backend. Enumeration reads sysfs (readable without access to the device nodes, so
// a node we may not open is still listed); transfers use the hidraw feature ioctls.
#pragma once
#ifdef __linux__

#include <map>
#include <string>

#include "device/HidPlatform.h"

namespace korvel {

class HidLinux final : public HidPlatform {
 public:
  // Roots are settable so tests can point enumeration at a fixture tree.
  explicit HidLinux(std::string sysfsRoot = "/sys", std::string devRoot = "/dev");
  ~HidLinux() override;

  bool Enumerate(std::vector<HidInterfaceInfo>& out, bool withDetails) override;
  intptr_t Open(const std::string& path) override;
  void Close(intptr_t handle) override;
  bool GetAttributes(intptr_t handle, HidAttributes& attributes) override;
  bool GetFeatureReportByteLength(intptr_t handle, uint16_t& length) override;
  bool SetFeature(intptr_t handle, const uint8_t* buffer, size_t length) override;
  bool GetFeature(intptr_t handle, uint8_t* buffer, size_t length) override;

  // errno of the last failed call (EACCES from Open: present but no permission).
  int LastError() const override { return lastError_; }

 private:
  struct OpenNode {
    std::string name;        // hidrawN
    int version = -1;        // -1: not read yet
    int featureLength = -1;  // -1: not read yet
  };
  std::string NodeName(const std::string& devPath) const;

  std::string sysfsRoot_;
  std::string devRoot_;
  std::map<intptr_t, OpenNode> open_;
  // Records errno and gives false, for the failure paths.
  bool Failed(int error);
  int lastError_ = 0;
};

// Reads one /sys/class/hidraw/<name> entry; false when it is gone or unreadable.
bool ReadHidrawSysfs(const std::string& sysfsRoot, const std::string& name, HidInterfaceInfo& info,
                     bool withDescriptor);

}  // namespace korvel

#endif
