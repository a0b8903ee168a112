// A dongle on a virtual clock with the HID layer and command channel above it, and a trace
// of every report that crossed the wire.
#pragma once

#include <memory>
#include <vector>

#include "EmulatedHid.h"
#include "EmulatedNeighbours.h"
#include "EmulatedRx.h"
#include "VirtualHost.h"
#include "device/CommandCatalogue.h"
#include "device/CommandChannel.h"
#include "device/HidAccess.h"

namespace korvel::test {

struct EmulatedBench {
  VirtualHost host;
  EmulatedHidPlatform platform{host};
  std::shared_ptr<EmulatedRx> rx = std::make_shared<EmulatedRx>(host);
  std::shared_ptr<EmulatedTx> tx = std::make_shared<EmulatedTx>();
  HidAccess hid{platform, host};
  DeviceState state;
  CommandChannel channel{hid, host, state};
  CommandCatalogue commands{channel};
  std::vector<HidTraceEvent> trace;

  explicit EmulatedBench(bool withNeighbours = true) {
    if (withNeighbours) AttachTypicalNeighbours(platform);
    platform.Attach(rx);
    rx->SetTx(tx);
    hid.SetTraceHook([this](const HidTraceEvent& e) { trace.push_back(e); });
  }

  // As the detection tick does on a match.
  bool OpenRx(int32_t vid = 0x1BCF, int32_t pid = 0x053A) {
    state.RxVersion = 0;
    if (!hid.OpenDeviceByVidPid(vid, pid, state.RxVersion, state.DeviceHandle)) return false;
    state.ActiveVid = vid;
    state.ActivePid = pid;
    return true;
  }

  std::vector<ReportBuffer> Sent() const { return Filter(HidTraceEvent::Direction::Sent); }
  std::vector<ReportBuffer> Fetched() const { return Filter(HidTraceEvent::Direction::Fetched); }
  size_t SentWithCode(uint8_t code) const {
    size_t n = 0;
    for (const ReportBuffer& r : Sent()) n += r[1] == code;
    return n;
  }

 private:
  std::vector<ReportBuffer> Filter(HidTraceEvent::Direction d) const {
    std::vector<ReportBuffer> out;
    for (const HidTraceEvent& e : trace)
      if (e.direction == d) out.push_back(e.bytes);
    return out;
  }
};

}  // namespace korvel::test
