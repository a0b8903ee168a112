#include "EmulatedHid.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace korvel {

namespace {
constexpr intptr_t kHandleBase = 100;
}

EmulatedForeignDevice::EmulatedForeignDevice(std::string name, uint16_t vid, uint16_t pid,
                                             uint16_t version, std::vector<uint16_t> featureLengths)
    : name_(std::move(name)),
      attributes_{vid, pid, version},
      featureLengths_(std::move(featureLengths)) {}

std::vector<EmulatedInterface> EmulatedForeignDevice::Interfaces() const {
  std::vector<EmulatedInterface> out;
  for (size_t i = 0; i < featureLengths_.size(); ++i) {
    out.push_back({"emu://" + name_ + "/" + std::to_string(i), attributes_, featureLengths_[i]});
  }
  return out;
}

bool EmulatedForeignDevice::SetFeature(size_t index, const uint8_t*, size_t length) {
  return index < featureLengths_.size() && featureLengths_[index] != 0 &&
         length == featureLengths_[index];
}

bool EmulatedForeignDevice::GetFeature(size_t index, uint8_t* buffer, size_t length) {
  if (index >= featureLengths_.size() || featureLengths_[index] == 0 ||
      length != featureLengths_[index])
    return false;
  std::memset(buffer + 1, 0, length - 1);
  return true;
}

namespace {
class EmulatedHotPlugSource final : public HotPlugSource {
 public:
  EmulatedHotPlugSource(std::shared_ptr<Sink> slot, bool fails)
      : slot_(std::move(slot)), fails_(fails) {}
  ~EmulatedHotPlugSource() override {
    if (started_) *slot_ = nullptr;
  }
  Status Start(Host&, Sink sink) override {
    if (fails_) return Status::Failed(Phrase::Literal("the emulated bus gives no hot-plug word"));
    *slot_ = std::move(sink);
    started_ = true;
    return {};
  }
  std::string Name() const override { return "emulated bus"; }

 private:
  std::shared_ptr<Sink> slot_;
  bool fails_;
  bool started_ = false;
};
}  // namespace

std::unique_ptr<HotPlugSource> EmulatedHidPlatform::CreateHotPlugSource() {
  if (!hotPlugSink_) hotPlugSink_ = std::make_shared<HotPlugSource::Sink>();
  return std::make_unique<EmulatedHotPlugSource>(hotPlugSink_, hotPlugFails_);
}

void EmulatedHidPlatform::Raise(const EmulatedDevice& device, bool arrived) {
  if (!hotPlugSink_ || !*hotPlugSink_) return;
  for (const EmulatedInterface& i : device.Interfaces())
    (*hotPlugSink_)({arrived ? HotPlugEvent::Kind::Arrived : HotPlugEvent::Kind::Left, i.path});
}

void EmulatedHidPlatform::Attach(std::shared_ptr<EmulatedDevice> device) {
  EmulatedDevice* raw = device.get();
  devices_.push_back(std::move(device));
  raw->SetPlugObserver([this, raw](bool plugged) { Raise(*raw, plugged); });
  if (raw->Plugged()) Raise(*raw, true);
}

void EmulatedHidPlatform::Detach(const EmulatedDevice* device) {
  for (const auto& d : devices_)
    if (d.get() == device) {
      d->SetPlugObserver(nullptr);
      if (d->Plugged()) Raise(*d, false);
    }
  devices_.erase(std::remove_if(devices_.begin(), devices_.end(),
                                [device](const auto& d) { return d.get() == device; }),
                 devices_.end());
}

bool EmulatedHidPlatform::Enumerate(std::vector<HidInterfaceInfo>& out, bool withDetails) {
  out.clear();
  if (enumerationFails_) return false;
  for (const auto& device : devices_) {
    if (!device->Plugged()) continue;
    for (const EmulatedInterface& i : device->Interfaces()) {
      HidInterfaceInfo info;
      info.path = i.path;
      if (withDetails) {
        info.detailsKnown = true;
        info.attributes = i.attributes;
        info.FeatureReportByteLength = i.featureLength;
      }
      out.push_back(std::move(info));
    }
  }
  return true;
}

intptr_t EmulatedHidPlatform::Open(const std::string& path) {
  ++openCalls_;
  lastError_ = 0;
  if (openRefused_) {
    lastError_ = kEmulatedAccessError;
    return kNoHandle;
  }
  for (const auto& device : devices_) {
    if (!device->Plugged()) continue;
    const auto interfaces = device->Interfaces();
    for (size_t i = 0; i < interfaces.size(); ++i) {
      if (interfaces[i].path != path) continue;
      handles_.push_back({device, i, device->Generation(), true});
      return kHandleBase + intptr_t(handles_.size() - 1);
    }
  }
  lastError_ = ENOENT;
  return kNoHandle;
}

void EmulatedHidPlatform::Close(intptr_t handle) {
  const intptr_t slot = handle - kHandleBase;
  if (slot < 0 || size_t(slot) >= handles_.size()) return;
  handles_[size_t(slot)].open = false;
  handles_[size_t(slot)].device.reset();
}

EmulatedHidPlatform::Handle* EmulatedHidPlatform::Live(intptr_t handle) {
  const intptr_t slot = handle - kHandleBase;
  if (slot < 0 || size_t(slot) >= handles_.size()) return nullptr;
  Handle& h = handles_[size_t(slot)];
  if (!h.open || !h.device->Plugged() || h.device->Generation() != h.generation) return nullptr;
  // Detached is off the bus: its handles die as an unplugged device's do.
  if (std::none_of(devices_.begin(), devices_.end(), [&h](const auto& d) { return d == h.device; }))
    return nullptr;
  return &h;
}

bool EmulatedHidPlatform::GetAttributes(intptr_t handle, HidAttributes& attributes) {
  Handle* h = Live(handle);
  if (!h) return Failed(kEmulatedGoneError);
  attributes = h->device->Interfaces()[h->index].attributes;
  return true;
}

bool EmulatedHidPlatform::GetFeatureReportByteLength(intptr_t handle, uint16_t& length) {
  Handle* h = Live(handle);
  if (!h) return Failed(kEmulatedGoneError);
  length = h->device->Interfaces()[h->index].featureLength;
  return true;
}

bool EmulatedHidPlatform::SetFeature(intptr_t handle, const uint8_t* buffer, size_t length) {
  host_.Sleep(transferCostMs_);
  Handle* h = Live(handle);
  if (!h) return Failed(kEmulatedGoneError);
  if (h->device->SetFeature(h->index, buffer, length)) return true;
  // A device pulled during the transfer fails it as a gone device would.
  return Failed(h->device->Plugged() ? kEmulatedRefusedError : kEmulatedGoneError);
}

bool EmulatedHidPlatform::GetFeature(intptr_t handle, uint8_t* buffer, size_t length) {
  host_.Sleep(transferCostMs_);
  Handle* h = Live(handle);
  if (!h) return Failed(kEmulatedGoneError);
#ifndef _WIN32
  // hidraw asks the device for the report whatever the buffer's length and cuts the answer
  // to the buffer; a longer one takes the whole report and zeros after it (measured on a
  // real kernel: tests/vm).
  const size_t reportLength = h->device->Interfaces()[h->index].featureLength;
  if (reportLength != 0 && length != 0 && length != reportLength) {
    std::vector<uint8_t> report(reportLength, 0);
    report[0] = buffer[0];
    if (!h->device->GetFeature(h->index, report.data(), report.size()))
      return Failed(h->device->Plugged() ? kEmulatedRefusedError : kEmulatedGoneError);
    std::fill(buffer, buffer + length, 0);
    std::copy_n(report.begin(), std::min(length, reportLength), buffer);
    return true;
  }
#endif
  if (h->device->GetFeature(h->index, buffer, length)) return true;
  return Failed(h->device->Plugged() ? kEmulatedRefusedError : kEmulatedGoneError);
}

size_t EmulatedHidPlatform::OpenHandleCount() const {
  return size_t(
      std::count_if(handles_.begin(), handles_.end(), [](const Handle& h) { return h.open; }));
}

}  // namespace korvel
