// The (VID, PID) pairs searched in order to find the RX.
#pragma once

#include <array>
#include <cstdint>

namespace korvel {

struct VidPid {
  int32_t vid = 0;
  int32_t pid = 0;
};

constexpr size_t kVidPidTableSize = 24;
constexpr size_t kFixedVidPidEntries = 7;
using VidPidTableType = std::array<VidPid, kVidPidTableSize>;

// Entries 0 to 6; 7 to 20 come from TX.ini, 21 to 23 stay 0.
constexpr std::array<VidPid, kFixedVidPidEntries> kFixedVidPids{{
    {0x1BCF, 0x053A},
    {0x1BCF, 0x05CA},
    {0x1BCF, 0x05AA},
    {0x1BCF, 0x053F},
    {0x1BCF, 0x05CF},
    {0x1BCF, 0x053E},
    {0x1BCF, 0x05CE},
}};

inline void FillFixedVidPids(VidPidTableType& table) {
  for (size_t i = 0; i < kFixedVidPidEntries; ++i) table[i] = kFixedVidPids[i];
}

}  // namespace korvel
