// HidPlatform over emulated USB devices, so every layer above the OS can run without
// hardware: in tests on VirtualHost, in the demo and the companion on real time.
#pragma once

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/HidPlatform.h"
#include "device/HotPlug.h"
#include "platform/Host.h"

namespace korvel {

// The OS errors the emulated bus reports, as the system's own backend would.
#ifdef _WIN32
constexpr int kEmulatedGoneError = 1167;   // ERROR_DEVICE_NOT_CONNECTED
constexpr int kEmulatedRefusedError = 31;  // ERROR_GEN_FAILURE
constexpr int kEmulatedAccessError = 5;    // ERROR_ACCESS_DENIED
#else
constexpr int kEmulatedGoneError = ENODEV;    // every call on an unplugged hidraw node
constexpr int kEmulatedRefusedError = EPIPE;  // a stalled control transfer
constexpr int kEmulatedAccessError = EACCES;  // a node without the udev rule
#endif

struct EmulatedInterface {
  std::string path;
  HidAttributes attributes;
  uint16_t featureLength = 0;  // counts the report ID byte; 0 = no feature report
};

// One USB device with one or more HID interfaces. Unplugging kills every handle opened on
// it; a replug gives a new generation whose handles must be opened afresh.
class EmulatedDevice {
 public:
  virtual ~EmulatedDevice() = default;
  virtual std::vector<EmulatedInterface> Interfaces() const = 0;
  // Feature transfers on interface `index`; length is what the host passed.
  virtual bool SetFeature(size_t index, const uint8_t* buffer, size_t length) = 0;
  virtual bool GetFeature(size_t index, uint8_t* buffer, size_t length) = 0;

  bool Plugged() const { return plugged_; }
  uint64_t Generation() const { return generation_; }
  virtual void Plug() {
    const bool was = plugged_;
    if (!plugged_) ++generation_;
    plugged_ = true;
    if (!was && onPlugChange_) onPlugChange_(true);
  }
  virtual void Unplug() {
    const bool was = plugged_;
    plugged_ = false;
    if (was && onPlugChange_) onPlugChange_(false);
  }
  // The bus's word to the system when the device is plugged or pulled.
  void SetPlugObserver(std::function<void(bool plugged)> observer) {
    onPlugChange_ = std::move(observer);
  }

 private:
  std::function<void(bool)> onPlugChange_;
  bool plugged_ = true;
  uint64_t generation_ = 1;
};

// Another vendor's device: answers feature requests with zeros, takes any report.
class EmulatedForeignDevice final : public EmulatedDevice {
 public:
  EmulatedForeignDevice(std::string name, uint16_t vid, uint16_t pid, uint16_t version,
                        std::vector<uint16_t> featureLengths);
  std::vector<EmulatedInterface> Interfaces() const override;
  bool SetFeature(size_t index, const uint8_t* buffer, size_t length) override;
  bool GetFeature(size_t index, uint8_t* buffer, size_t length) override;

 private:
  std::string name_;
  HidAttributes attributes_;
  std::vector<uint16_t> featureLengths_;
};

class EmulatedHidPlatform : public HidPlatform {
 public:
  explicit EmulatedHidPlatform(Host& host) : host_(host) {}
  ~EmulatedHidPlatform() override {
    for (const auto& device : devices_) device->SetPlugObserver(nullptr);
  }

  // Enumeration order is attach order. Attaching a plugged device, detaching one, and a
  // device's own plug and unplug each raise one hot-plug event per interface.
  void Attach(std::shared_ptr<EmulatedDevice> device);
  void Detach(const EmulatedDevice* device);
  // Hot-plug word as the system would give it; with SetHotPlugFails the source cannot start.
  std::unique_ptr<HotPlugSource> CreateHotPlugSource();
  void SetHotPlugFails(bool fails) { hotPlugFails_ = fails; }
  // udev's copy of a plugged device's words, sent once its rules have run.
  void AnnounceAgain(const EmulatedDevice& device) { Raise(device, true); }
  // Time one feature transfer takes on the bus (full-speed control transfers: about 1 ms).
  void SetTransferCostMs(uint32_t ms) { transferCostMs_ = ms; }
  // Makes the list of interfaces fail, as a missing set-up library would.
  void SetEnumerationFails(bool fails) { enumerationFails_ = fails; }
  // Every open is refused as if this user lacked permission, like hidraw without the udev
  // rule.
  void SetOpenRefused(bool refused) { openRefused_ = refused; }
  int LastError() const override { return lastError_; }

  bool Enumerate(std::vector<HidInterfaceInfo>& out, bool withDetails) override;
  intptr_t Open(const std::string& path) override;
  void Close(intptr_t handle) override;
  bool GetAttributes(intptr_t handle, HidAttributes& attributes) override;
  bool GetFeatureReportByteLength(intptr_t handle, uint16_t& length) override;
  bool SetFeature(intptr_t handle, const uint8_t* buffer, size_t length) override;
  bool GetFeature(intptr_t handle, uint8_t* buffer, size_t length) override;

  size_t OpenHandleCount() const;
  uint64_t OpenCalls() const { return openCalls_; }

 private:
  struct Handle {
    std::shared_ptr<EmulatedDevice> device;
    size_t index = 0;
    uint64_t generation = 0;
    bool open = false;
  };
  // The handle's interface, or null when the handle is closed or its device is gone.
  Handle* Live(intptr_t handle);
  bool Failed(int error) {
    lastError_ = error;
    return false;
  }

  void Raise(const EmulatedDevice& device, bool arrived);

  Host& host_;
  std::vector<std::shared_ptr<EmulatedDevice>> devices_;
  std::shared_ptr<HotPlugSource::Sink> hotPlugSink_;
  bool hotPlugFails_ = false;
  std::vector<Handle> handles_;  // handle value = index + 100, never reused
  uint32_t transferCostMs_ = 1;
  bool enumerationFails_ = false;
  bool openRefused_ = false;
  int lastError_ = 0;
  uint64_t openCalls_ = 0;
};

}  // namespace korvel
