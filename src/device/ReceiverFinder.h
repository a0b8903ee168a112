// The one walk of the VID/PID table: the built-in identities, TX.ini's Device entries and
// the identity typed into the settings, in that order. Detection, the permission hint and
// the companion's scan all ask it.
#pragma once

#include <optional>
#include <vector>

#include "device/HidAccess.h"
#include "device/VidPidTable.h"

namespace korvel {

class ReceiverFinder {
 public:
  explicit ReceiverFinder(HidAccess& hid) : hid_(hid) { FillFixedVidPids(table_); }

  // Entries 0 to 6 are built in, 7 to 20 come from TX.ini, 21 to 23 stay empty.
  VidPidTableType& Table() { return table_; }
  const VidPidTableType& Table() const { return table_; }

  // The identities searched, in order: every table entry with VID and PID, then the typed
  // one (tried only when no entry matched).
  std::vector<VidPid> Candidates(std::optional<VidPid> typed) const;

  struct Opened {
    intptr_t handle = kNoHandle;
    VidPid id;
    uint32_t version = 0;
  };
  // Opens the first candidate that matches an interface (the last matching interface of it);
  // every other handle opened on the way is closed. When none opens, why: no dongle of ours
  // is plugged in, one is but this user may not open it (with the OS error), or it has no
  // interface that takes feature reports.
  Result<Opened> OpenFirst(std::optional<VidPid> typed);

  // The enumerated interface (with details) the tool would open, or -1 (and then why not).
  int WouldOpen(const std::vector<HidInterfaceInfo>& interfaces, std::optional<VidPid> typed,
                Phrase* whyNone = nullptr);

  // An interface with a candidate's identity that this user may not open: present, but the
  // system's permissions keep the tool out.
  std::optional<HidAttributes> Unopenable(std::optional<VidPid> typed);

 private:
  HidAccess& hid_;
  VidPidTableType table_{};
};

}  // namespace korvel
