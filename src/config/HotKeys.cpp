#include "config/HotKeys.h"

namespace korvel {

const std::array<HotKey, kHotKeyCount> kHotKeys{{
    {"[DISABLE]", 0x000},
    {"WWW BACK", 0x224},
    {"WWW FORWARD", 0x225},
    {"WWW STOP", 0x226},
    {"WWW REFRESH", 0x227},
    {"WWW SEARCH", 0x221},
    {"WWW FAVORITES", 0x22A},
    {"WWW HOME", 0x223},
    {"MAIL", 0x18A},
    {"MUTE", 0x0E2},
    {"VOLUME -", 0x0EA},
    {"VOLUME +", 0x0E9},
    {"PLAY/PAUSE", 0x0CD},
    {"STOP", 0x0B7},
    {"PREVIOUS TRACK/Replay", 0x0B6},
    {"NEXT TRACK/Skip", 0x0B5},
    {"MEDIA Select", 0x183},
    {"MY COMPUTER", 0x194},
    {"CALCULATOR", 0x192},
    {"More Info", 0x209},
    {"Record", 0x0B2},
    {"Forward", 0x0B3},
    {"Rewind", 0x0B4},
    {"Guide", 0x08D},
}};

bool StageCustomKey(StagingTables& tables, int key, int itemIndex) {
  if (itemIndex < 0 || size_t(itemIndex) >= kHotKeyCount || (key != 1 && key != 2)) return false;
  const uint16_t code = kHotKeys[size_t(itemIndex)].CustomKeyCode;
  const uint8_t low = key == 1 ? 3 : 5;
  StageRxByte(tables, low, uint8_t(code & 0xFF));
  StageRxByte(tables, uint8_t(low + 1), uint8_t(code >> 8));
  return true;
}

}  // namespace korvel
