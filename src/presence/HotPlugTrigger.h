// The system's word that devices came or went, turned into a detection as soon as a burst of
// such words is over. Word that comes while detection may not run (a run has the devices)
// waits until it may.
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>

#include "device/HotPlug.h"
#include "platform/Host.h"
#include "platform/Status.h"

namespace korvel {

class HotPlugTrigger {
 public:
  // What a burst said, for the detection it starts.
  struct Burst {
    bool left = false;  // an interface went: the RX open now may be gone
    // udev had its chance to set the nodes' permissions: a node still refused stays refused.
    bool settled = false;
  };
  // What a detection left: an RX open, a dongle there that may not be opened (yet).
  struct Found {
    bool rxOpen = false;
    bool refused = false;
  };
  // Whether a detection may run now; a detection for a burst.
  using MayDetect = std::function<bool()>;
  using Detect = std::function<Found(const Burst&)>;
  HotPlugTrigger(Host& host, MayDetect mayDetect, Detect detect);

  // Without a source (or when it cannot start) the detection timer alone finds the devices.
  // The status says which, for the engineer's trace.
  void Start(HotPlugSource* source);
  bool Active() const { return active_; }
  const std::string& Status() const { return status_; }
  // Detections this word started.
  int Ticks() const { return ticks_; }
  // The host's time of the first word of the latest burst (a plug's first interface); 0 none.
  uint64_t BurstStartedAt() const { return burstStartedAt_; }
  // Detection may run again: word that waited is acted on after the quiet time.
  void CatchUp();

  // A dongle's interfaces come within a few milliseconds of each other.
  static constexpr uint32_t kQuietMs = 25;
  // udev repeats each word once its rules (and the node's permissions) are applied, tens of
  // milliseconds later; a node not openable by then is not waited for any longer.
  static constexpr uint32_t kUdevMs = 250;

 private:
  void OnEvent(const HotPlugEvent& event);
  void Settled();

  Host& host_;
  MayDetect mayDetect_;
  Detect detect_;
  std::unique_ptr<HostTimer> settle_;
  bool active_ = false;
  bool pending_ = false;  // word waited while detection could not run
  bool inBurst_ = false;  // words since the last detection
  bool left_ = false;     // of which one said an interface went
  bool refused_ = false;  // the last detection found a node it could not open yet
  bool rxOpen_ = false;   // the last detection left an RX open
  uint64_t burstStartedAt_ = 0;
  std::set<std::string> present_;  // interfaces whose arrival was acted on
  int ticks_ = 0;
  std::string status_ = "no hot-plug source: detection every 5.5 s";
};

}  // namespace korvel
