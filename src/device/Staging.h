// The staging tables through which settings reach the devices, and the byte forms they use.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Phrase.h"

namespace korvel {

constexpr size_t kRxRegisterCount = 64;
constexpr size_t kTxEepromSize = 128;
constexpr int32_t kNotStaged = -1;

// 0: settings loaded, 1: a Set TX run is staging, 2: start-up or a load in progress.
enum : uint8_t { kStagingIdle = 0, kStagingRun = 1, kStagingLoading = 2 };

struct StagingTables {
  std::array<int32_t, kRxRegisterCount> RxRegisterImage;
  std::array<int32_t, kTxEepromSize> TxEepromImage;
  uint8_t StagingMode = kStagingLoading;

  StagingTables() { Clear(); }
  void Clear() {
    RxRegisterImage.fill(kNotStaged);
    TxEepromImage.fill(kNotStaged);
  }
  bool Staging() const { return StagingMode == kStagingRun; }
};

// A setting byte b as stored: (b << 8) | (b ^ 0xFF) in an RX register, (b, b ^ 0xFF) in two
// adjacent TX EEPROM bytes.
constexpr uint16_t EepromWord(uint8_t b) {
  return uint16_t((b << 8) | (b ^ 0xFF));
}

void StageRxByte(StagingTables& t, uint8_t reg, uint8_t b);
void StageTxPair(StagingTables& t, uint8_t address, uint8_t b);

// USB string descriptor: L = 2n + 2 at register 19, two characters a register from 20.
constexpr size_t kMaxStringChars = 46;
constexpr uint8_t kStringLengthRegister = 19;
constexpr uint8_t kStringFirstRegister = 20;
// Stages at most 46 characters (8-bit code page bytes); a longer text is cut.
void StageString(StagingTables& t, const std::string& text);
// The product name as the window holds it (UTF-8) in the form StageString takes: one byte of
// the system's code page a character, cut at 46 characters. A name with a character that is
// not a single byte of the code page gives no bytes, and `problem` says why.
struct DescriptorText {
  std::string bytes;
  Phrase problem;
};
DescriptorText ProductNameBytes(const std::string& name);
// Rebuilds the text from a length byte and a register reader (-1 = failed read).
std::string UnpackString(uint8_t lengthByte, const std::function<int32_t(uint8_t)>& readRegister);

// VID at registers 15 (high) and 16 (low), PID at 17 and 18, each as an EEPROM word.
void StageVid(StagingTables& t, uint16_t vid);
void StagePid(StagingTables& t, uint16_t pid);

// Display forms. A register byte read as -1 shows six F digits (-1 shifted right by 8 as
// an unsigned number); an RF byte read as -1 shows eight.
std::string FormatRegisterHighByte(int32_t registerValue);
std::string FormatRfByte(int32_t value);
// Special-query bytes: 0 shows "00", others without a leading zero.
std::string FormatSpecialByte(uint8_t b);

// The TX EEPROM options of the settings group.
enum class TxOption {
  CpiSwitchEnabled,     // rbRF_DR_15
  CpiSwitchDisabled,    // rbRF_DR_1A
  WakeOnMoveAndKeys,    // rbRF_DR_25
  WakeOnKeysOnly,       // rbRF_DR_2A
  PowerSavingOff,       // rbRF_DR_45
  PowerSavingWakeLRM,   // rbRF_DR_4A
  PowerSavingWakeLink,  // rbRF_DR_4F
  AutoBindEnabled,      // rbRF_DR_5A
  AutoBindDisabled,     // rbRF_DR_55
};
struct TxPair {
  uint8_t address;
  uint8_t value;
};
TxPair TxOptionPair(TxOption option);
// Stages the option's pair; nothing outside a run. Returns the pair staged, if any.
bool StageTxOption(StagingTables& t, TxOption option, TxPair* staged = nullptr);

// Battery low level: item 0, 1, 2 of the list stage 0x40, 0x20, 0x00; no selection (-1)
// and any other index stage 0x20.
constexpr uint8_t kBatteryLevelAddress = 0x1A;
constexpr uint8_t kBatteryLevelRegister = 47;
uint8_t BatteryLevelValue(int itemIndex);

constexpr uint8_t kLrmBindingAddress = 0x1C;
constexpr uint8_t kSensorSelectAddress = 0x74;  // 0x74: sensor code, 0x75: 0x4D
constexpr uint8_t kRxTypeRegister = 0x38;
constexpr uint8_t kSleepPeriodRegister = 0x39;
constexpr uint8_t kWakeupPeriodRegister = 0x3A;

}  // namespace korvel
