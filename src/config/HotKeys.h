// The two custom keys the RX reports as consumer-control keys.
#pragma once

#include <array>
#include <cstdint>

#include "device/Staging.h"

namespace korvel {

struct HotKey {
  const char* text;
  uint16_t CustomKeyCode;  // HID consumer page usage
};

constexpr size_t kHotKeyCount = 24;
extern const std::array<HotKey, kHotKeyCount> kHotKeys;
constexpr int kDefaultCustKey1 = 7;  // "WWW HOME"
constexpr int kDefaultCustKey2 = 8;  // "MAIL"

// Stages key 1 at registers 3 (low byte) and 4 (high byte), key 2 at 5 and 6, each byte
// with its complement. An index outside the list stages nothing.
bool StageCustomKey(StagingTables& tables, int key, int itemIndex);

}  // namespace korvel
