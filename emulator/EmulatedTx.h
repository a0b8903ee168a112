// The mouse (TX) behind the dongle: what the RX can reach of it over the radio.
//
// State: a 128-byte EEPROM; direct, index, sensor and transceiver registers (256 each);
// access mode; CPI step; power, range and bind-mode switches; battery level; the link
// address it answers to. The address in use is taken from EEPROM 0x0C..0x0E at power-up,
// at a jump to POR and at a fast reload, so a new address written over the radio takes
// effect only after one of those.
//
// Factory state:
//   EEPROM 0x08..0x0B  own ID 0x80 0x00 0x01, check 0x7E
//          0x0C..0x0F  link address 0x92 0x34 0x56 (the emulated RX's), check 0x35
//          0x12..0x1B  CPI switch on (33 CC), wake on move and keys (55 AA), power saving
//                      off (3C C3), auto bind on (5A A5), battery level 1.8 V (00 FF)
//          all others  0xFF
//   sensor register 0  the sensor ID, 0x11
//   transceiver reg 1  0x1B (RF power 0 dBm)
//   battery level      0x0C; powered, in range, not in bind mode, access mode off
//
// Direct register 0xFF: 0x3C jumps to POR (100 ms off the air, access mode cleared,
// address reloaded); 0x3D is the fast reload (10 ms off the air, address reloaded).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace korvel {

class EmulatedTx {
 public:
  enum class Access { Off, WithoutLed, WithLed };
  using Eeprom = std::array<uint8_t, 128>;
  using Address = std::array<uint8_t, 3>;

  EmulatedTx();
  static Eeprom FactoryEeprom();

  // Switches a person or a test flips.
  void SetPowered(bool on, uint64_t now);
  bool Powered() const { return powered_; }
  void SetInRange(bool inRange) { inRange_ = inRange; }
  bool InRange() const { return inRange_; }
  void SetBindMode(bool on) { bindMode_ = on; }
  bool BindMode() const { return bindMode_; }
  void SetBatteryLevel(uint8_t level) { battery_ = level & 0x0F; }
  uint8_t BatteryLevel() const { return battery_; }
  void SetSensorId(uint8_t id) { sensor_[0] = id; }
  // A TX that never comes back on the air after its next reload or POR.
  void SetDiesOnReload(bool dies) { diesOnReload_ = dies; }
  // The next `count` EEPROM writes store data ^ 0x01 and are not confirmed (-1: all).
  void SetEepromWriteFaults(int count) { eepromFaults_ = count; }

  // On the air at `now`: powered, in range, not rebooting.
  bool OnAir(uint64_t now) const;
  const Address& ActiveAddress() const { return active_; }
  // Both sides take a new address after a successful soft bind.
  void AdoptAddress(const Address& address, uint64_t now);

  // A relayed command that reached the TX. Returns false for a write the TX did not keep
  // (no confirmation then).
  bool Write(uint8_t code, uint8_t a, uint8_t b, uint64_t now);
  std::optional<uint8_t> Read(uint8_t code, uint8_t address) const;

  Eeprom& EepromBytes() { return eeprom_; }
  const Eeprom& EepromBytes() const { return eeprom_; }
  std::array<uint8_t, 256>& DirectRegisters() { return direct_; }
  std::array<uint8_t, 256>& IndexRegisters() { return index_; }
  std::array<uint8_t, 256>& SensorRegisters() { return sensor_; }
  std::array<uint8_t, 256>& TransceiverRegisters() { return transceiver_; }
  Access AccessMode() const { return access_; }
  uint8_t CpiStep() const { return cpi_; }
  int PorCount() const { return pors_; }
  int FastReloadCount() const { return fastReloads_; }

 private:
  void Reload(uint64_t now, uint64_t offAirMs);

  Eeprom eeprom_;
  std::array<uint8_t, 256> direct_{};
  std::array<uint8_t, 256> index_{};
  std::array<uint8_t, 256> sensor_{};
  std::array<uint8_t, 256> transceiver_{};
  Address active_{};
  Access access_ = Access::Off;
  uint8_t cpi_ = 0;
  uint8_t battery_ = 0x0C;
  bool powered_ = true;
  bool inRange_ = true;
  bool bindMode_ = false;
  bool diesOnReload_ = false;
  bool dead_ = false;
  int eepromFaults_ = 0;
  uint64_t offAirUntil_ = 0;
  int pors_ = 0;
  int fastReloads_ = 0;
};

}  // namespace korvel
