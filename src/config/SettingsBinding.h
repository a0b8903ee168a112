// One table for every setting: where it lives in Settings, its TX.ini key, the control(s)
// that show it, its default and range. The load, the write, settings -> view and
// view -> settings all walk it, so a setting is named in one place.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "config/Settings.h"

namespace korvel {

enum class SettingKind {
  Index,    // a list's item index; outside 0..high the list has no selection (-1)
  Battery,  // the battery list: the file may hold 0..7 (else the default), then as Index
  Flag,     // a check box; any non-zero integer in the file is true
  Pair,     // two radio buttons: true checks the first
  Choice,   // a radio group: the value is the checked button's position; others are ignored
  Number,   // a spin edit, clamped to low..high
  Text,     // an edit's text as it stands; in the file, in the system's 8-bit code page
  HexId,    // VID or PID: hex in the edit, decimal in the file, both or neither
  Memory,   // in the file only, kept between a load and a write
};

using SettingField = std::variant<int Settings::*, bool Settings::*, std::string Settings::*>;

struct SettingBinding {
  const char* key;  // in [TX]; null: not in the file
  SettingKind kind;
  std::vector<const char*> controls;  // one, or a radio group in value order; none for Memory
  int def;                            // read when the key is missing or not an integer
  int low;
  int high;  // Index: the last item; Number: the range
  SettingField field;
  // The value when there is no TX.ini at all, as if read from it (texts: emptied); kKeep
  // leaves the setting as it is.
  int noFile;
  const char* defText = "";  // Text: read when the key is missing
};
constexpr int kKeep = -1000;

// In the order "Write Setting" writes the keys.
const std::vector<SettingBinding>& SettingBindings();

}  // namespace korvel
