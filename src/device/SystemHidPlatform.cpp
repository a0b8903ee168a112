#include "device/HidPlatform.h"

#if defined(_WIN32)
#include "device/HidWindows.h"
#elif defined(__linux__)
#include "device/HidLinux.h"
#endif

namespace korvel {

namespace {
// A system without HID services: nothing present, nothing opens.
class NoHidPlatform final : public HidPlatform {
 public:
  bool Enumerate(std::vector<HidInterfaceInfo>& out, bool) override {
    out.clear();
    return false;
  }
  intptr_t Open(const std::string&) override { return kNoHandle; }
  void Close(intptr_t) override {}
  bool GetAttributes(intptr_t, HidAttributes&) override { return false; }
  bool GetFeatureReportByteLength(intptr_t, uint16_t&) override { return false; }
  bool SetFeature(intptr_t, const uint8_t*, size_t) override { return false; }
  bool GetFeature(intptr_t, uint8_t*, size_t) override { return false; }
};
}  // namespace

std::unique_ptr<HidPlatform> CreateSystemHidPlatform() {
#if defined(_WIN32)
  return std::make_unique<HidWindows>();
#elif defined(__linux__)
  return std::make_unique<HidLinux>();
#else
  return std::make_unique<NoHidPlatform>();
#endif
}

}  // namespace korvel
