#include "device/Staging.h"

#include <algorithm>

#include "platform/CodePage.h"
#include "platform/Text.h"

namespace korvel {

namespace {
// What the operator reads when a product name cannot be staged (or saved).
// "中" (U+4E2D); a control character by its number alone, as it shows nothing.
std::string CharacterText(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return CodePointText(c);
  return "\"" + EncodeUtf8(std::u32string(1, c)) + "\" (" + CodePointText(c) + ")";
}

Phrase ProductNameProblem(const std::string& name, const CodePageText& converted) {
  switch (converted.fault) {
    case CodePageFault::None:
      break;
    case CodePageFault::NotUtf8:
      return Say("product name: the text is not valid UTF-8");
    case CodePageFault::NotInCodePage:
      return Say(
          "product name: \"{0}\" has a character the code page cannot hold: {1} (code "
          "page {2})",
          name, CharacterText(converted.character), SystemCodePage());
    case CodePageFault::MultiByte:
      return Say(
          "product name: \"{0}\" has a character of more than one byte in the code page: "
          "{1} (code page {2}); the product name must use single-byte characters",
          name, CharacterText(converted.character), SystemCodePage());
  }
  return {};
}
}  // namespace

void StageRxByte(StagingTables& t, uint8_t reg, uint8_t b) {
  if (reg < kRxRegisterCount) t.RxRegisterImage[reg] = EepromWord(b);
}

void StageTxPair(StagingTables& t, uint8_t address, uint8_t b) {
  if (address + 1u < kTxEepromSize) {
    t.TxEepromImage[address] = b;
    t.TxEepromImage[address + 1u] = b ^ 0xFF;
  }
}

void StageString(StagingTables& t, const std::string& text) {
  const size_t n = std::min(text.size(), kMaxStringChars);
  StageRxByte(t, kStringLengthRegister, uint8_t(2 * n + 2));
  for (size_t k = 0; 2 * k < n; ++k) {
    const uint8_t hi = uint8_t(text[2 * k]);
    const uint8_t lo = 2 * k + 1 < n ? uint8_t(text[2 * k + 1]) : 0;
    t.RxRegisterImage[kStringFirstRegister + k] = (hi << 8) | lo;
  }
}

DescriptorText ProductNameBytes(const std::string& name) {
  CodePageText converted = ToCodePage(name);
  if (!converted.Ok()) return {{}, ProductNameProblem(name, converted)};
  // Cut by characters, never inside one: in the code page a byte is a character.
  if (converted.bytes.size() > kMaxStringChars) converted.bytes.resize(kMaxStringChars);
  return {std::move(converted.bytes), {}};
}

std::string UnpackString(uint8_t lengthByte, const std::function<int32_t(uint8_t)>& readRegister) {
  int n = (int(lengthByte) - 2) / 2;  // truncates toward zero: L below 4 gives 0
  if (n > int(kMaxStringChars)) n = int(kMaxStringChars);
  std::string text;
  for (int k = 0; k < n; k += 2) {
    const uint16_t w = uint16_t(readRegister(uint8_t(kStringFirstRegister + k / 2)) & 0xFFFF);
    text += char(w >> 8);
    if (k + 1 < n) text += char(w & 0xFF);
  }
  return text;
}

void StageVid(StagingTables& t, uint16_t vid) {
  StageRxByte(t, 15, uint8_t(vid >> 8));
  StageRxByte(t, 16, uint8_t(vid & 0xFF));
}

void StagePid(StagingTables& t, uint16_t pid) {
  StageRxByte(t, 17, uint8_t(pid >> 8));
  StageRxByte(t, 18, uint8_t(pid & 0xFF));
}

std::string FormatRegisterHighByte(int32_t registerValue) {
  return HexText(uint32_t(registerValue) >> 8, 2);
}

std::string FormatRfByte(int32_t value) {
  return HexText(uint32_t(value), 2);
}

std::string FormatSpecialByte(uint8_t b) {
  return b == 0 ? "00" : HexText(b, 1);
}

TxPair TxOptionPair(TxOption option) {
  switch (option) {
    case TxOption::CpiSwitchEnabled:
      return {0x12, 0x33};
    case TxOption::CpiSwitchDisabled:
      return {0x12, 0xCC};
    case TxOption::WakeOnMoveAndKeys:
      return {0x14, 0x55};
    case TxOption::WakeOnKeysOnly:
      return {0x14, 0xAA};
    case TxOption::PowerSavingOff:
      return {0x16, 0x3C};
    case TxOption::PowerSavingWakeLRM:
      return {0x16, 0xC5};
    case TxOption::PowerSavingWakeLink:
      return {0x16, 0xCA};
    case TxOption::AutoBindEnabled:
      return {0x18, 0x5A};
    case TxOption::AutoBindDisabled:
      return {0x18, 0x55};
  }
  return {0, 0};
}

bool StageTxOption(StagingTables& t, TxOption option, TxPair* staged) {
  if (!t.Staging()) return false;
  const TxPair pair = TxOptionPair(option);
  StageTxPair(t, pair.address, pair.value);
  if (staged) *staged = pair;
  return true;
}

uint8_t BatteryLevelValue(int itemIndex) {
  switch (itemIndex) {
    case 0:
      return 0x40;
    case 2:
      return 0x00;
    default:
      return 0x20;
  }
}

}  // namespace korvel
