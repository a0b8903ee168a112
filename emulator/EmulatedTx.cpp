#include "EmulatedTx.h"

namespace korvel {

namespace {
void Pair(EmulatedTx::Eeprom& e, uint8_t address, uint8_t b) {
  e[address] = b;
  e[address + 1] = b ^ 0xFF;
}
}  // namespace

EmulatedTx::EmulatedTx() : eeprom_(FactoryEeprom()) {
  sensor_[0] = 0x11;
  transceiver_[1] = 0x1B;
  active_ = {eeprom_[0x0C], eeprom_[0x0D], eeprom_[0x0E]};
}

EmulatedTx::Eeprom EmulatedTx::FactoryEeprom() {
  Eeprom e;
  e.fill(0xFF);
  e[0x08] = 0x80;
  e[0x09] = 0x00;
  e[0x0A] = 0x01;
  e[0x0B] = 0x80 ^ 0x00 ^ 0x01 ^ 0xFF;
  e[0x0C] = 0x92;
  e[0x0D] = 0x34;
  e[0x0E] = 0x56;
  e[0x0F] = 0x92 ^ 0x34 ^ 0x56 ^ 0xFF;
  Pair(e, 0x12, 0x33);
  Pair(e, 0x14, 0x55);
  Pair(e, 0x16, 0x3C);
  Pair(e, 0x18, 0x5A);
  Pair(e, 0x1A, 0x00);
  return e;
}

void EmulatedTx::SetPowered(bool on, uint64_t now) {
  if (on && !powered_) {
    dead_ = false;
    access_ = Access::Off;
    Reload(now, 0);
  }
  powered_ = on;
}

bool EmulatedTx::OnAir(uint64_t now) const {
  return powered_ && inRange_ && !dead_ && now >= offAirUntil_;
}

void EmulatedTx::AdoptAddress(const Address& address, uint64_t) {
  active_ = address;
  eeprom_[0x0C] = address[0];
  eeprom_[0x0D] = address[1];
  eeprom_[0x0E] = address[2];
  eeprom_[0x0F] = address[0] ^ address[1] ^ address[2] ^ 0xFF;
  bindMode_ = false;
}

void EmulatedTx::Reload(uint64_t now, uint64_t offAirMs) {
  active_ = {eeprom_[0x0C], eeprom_[0x0D], eeprom_[0x0E]};
  offAirUntil_ = now + offAirMs;
  if (diesOnReload_) dead_ = true;
}

bool EmulatedTx::Write(uint8_t code, uint8_t a, uint8_t b, uint64_t now) {
  switch (code) {
    case 0x21:
      if (a >= eeprom_.size()) return false;
      if (eepromFaults_ != 0) {
        if (eepromFaults_ > 0) --eepromFaults_;
        eeprom_[a] = b ^ 0x01;
        return false;
      }
      eeprom_[a] = b;
      return true;
    case 0x22:
      index_[a] = b;
      return true;
    case 0x23:
      if (a == 0xFF && b == 0x3C) {
        ++pors_;
        access_ = Access::Off;
        Reload(now, 100);
      } else if (a == 0xFF && b == 0x3D) {
        ++fastReloads_;
        Reload(now, 10);
      } else if (a != 0xFF) {
        direct_[a] = b;
      }
      return true;
    case 0x27:
      transceiver_[a] = b;
      return true;
    case 0x29:
      sensor_[a] = b;
      return true;
    case 0x2B:
      if (a == 0x5A && b == 0x33)
        access_ = Access::WithoutLed;
      else if (a == 0x5A && b == 0xCC)
        access_ = Access::WithLed;
      return true;
    case 0x2C:
      access_ = Access::Off;
      return true;
    case 0x2F:
      if (b == 0xCC && a <= 3) cpi_ = a;
      return true;
    default:
      return false;
  }
}

std::optional<uint8_t> EmulatedTx::Read(uint8_t code, uint8_t address) const {
  switch (code) {
    case 0x24:
      return address < eeprom_.size() ? eeprom_[address] : uint8_t(0xFF);
    case 0x25:
      return index_[address];
    case 0x26:
      return direct_[address];
    case 0x28:
      return transceiver_[address];
    case 0x2A:
      return sensor_[address];
    default:
      return std::nullopt;
  }
}

}  // namespace korvel
