// The RX's command vocabulary as data: each code's name, whether the RX relays it to the TX,
// whether an answer is fetched, and what the answer holds. The catalogue sends by these codes,
// the HID trace names them, and the emulator's decoder is checked against them.
#pragma once

#include <cstdint>
#include <span>

namespace korvel {

enum class Exchange { Set, SetAndGet };

// Where a valid answer (0xCC in byte 7) carries its data.
enum class AnswerLayout {
  None,           // nothing is fetched
  Word,           // byte 0 the high byte, byte 1 the low one
  ByteAt0,        // byte 0
  ByteAt1,        // byte 1
  LinkStatus,     // byte 0 the channel (2 to 82 when valid), bytes 1 and 2 the link ID
  Battery,        // byte 0 non-zero when valid, byte 1's low nibble the level
  Status7,        // bytes 0 to 6: the special query's status bytes (direct register 0xFF)
  EepromConfirm,  // byte 4 = 0x21 and byte 5 = the address: the TX took the byte
};

struct CommandEntry {
  uint8_t code;
  const char* name;  // as the engineering page names it ("C_RF_Wrt_EEPROM")
  bool relayed;      // an RF command: [1, code, 0xAA, a, b, ...], carried to the TX
  Exchange exchange;
  AnswerLayout answer;
  bool reserved;  // part of the vocabulary, sent by nothing, never to be given another meaning
};

std::span<const CommandEntry> CommandTable();
// The code's entry; null for a code that is no command.
const CommandEntry* FindCommand(uint8_t code);

}  // namespace korvel
