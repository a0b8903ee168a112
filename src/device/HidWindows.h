// Windows backend: setupapi.dll and hid.dll bound at run time for every operation.
#pragma once
#ifdef _WIN32

#include "device/HidPlatform.h"

namespace korvel {

class HidWindows final : public HidPlatform {
 public:
  HidWindows();
  ~HidWindows() override;

  bool Bind() override;
  void Release() override;
  bool Enumerate(std::vector<HidInterfaceInfo>& out, bool withDetails) override;
  intptr_t Open(const std::string& path) override;
  void Close(intptr_t handle) override;
  bool GetAttributes(intptr_t handle, HidAttributes& attributes) override;
  bool GetFeatureReportByteLength(intptr_t handle, uint16_t& length) override;
  bool SetFeature(intptr_t handle, const uint8_t* buffer, size_t length) override;
  bool GetFeature(intptr_t handle, uint8_t* buffer, size_t length) override;
  int LastError() const override { return lastError_; }

  bool SetupApiBound() const;
  bool HidBound() const;

  // Size to put into SP_DEVICE_INTERFACE_DETAIL_DATA_A.cbSize: the header, not the buffer.
  static unsigned long DetailHeaderSize();

 private:
  struct Libraries;
  // Records GetLastError (or the given code) and gives false, for the failure paths.
  bool Failed(unsigned long error);
  bool Failed();
  Libraries* libs_;
  int lastError_ = 0;
};

}  // namespace korvel

#endif
