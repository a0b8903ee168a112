#include "EmulatedRx.h"

#include <algorithm>
#include <iterator>

namespace korvel {

namespace {
constexpr size_t kVendorInterface = 2;
constexpr uint16_t Pair(uint8_t b) {
  return uint16_t((b << 8) | (b ^ 0xFF));
}
constexpr uint8_t kOk = 0xCC;
}  // namespace

EmulatedRx::EmulatedRx(Host& host, Config config)
    : host_(host), config_(config), registers_(FactoryRegisters()), rng_(config.seed) {
  transceiver_[1] = 0x1B;
  ReloadAddress(0);
}

EmulatedRx::RegisterFile EmulatedRx::FactoryRegisters() {
  RegisterFile r;
  r.fill(0xFFFF);
  r[0] = Pair(0x92);
  r[1] = Pair(0x34);
  r[2] = Pair(0x56);
  r[3] = r[4] = r[5] = r[6] = 0x0000;
  r[7] = 0x00FF;
  r[15] = Pair(0x1B);
  r[16] = Pair(0xCF);
  r[17] = Pair(0x05);
  r[18] = Pair(0x3A);
  const std::string name = "2.4G Mouse";
  r[19] = Pair(uint8_t(2 * name.size() + 2));
  for (size_t k = 0; k < (name.size() + 1) / 2; ++k) {
    const uint8_t hi = uint8_t(name[2 * k]);
    const uint8_t lo = 2 * k + 1 < name.size() ? uint8_t(name[2 * k + 1]) : 0;
    r[20 + k] = uint16_t((hi << 8) | lo);
  }
  r[47] = Pair(0x0F);
  r[56] = 0x5AA5;
  return r;
}

const std::vector<uint8_t>& EmulatedRx::ReportDescriptor(size_t index) {
  static const std::vector<uint8_t> descriptors[] = {
      // Boot mouse: three buttons, X and Y.
      {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
       0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
       0x95, 0x01, 0x75, 0x05, 0x81, 0x03, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15,
       0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0},
      // Boot keyboard: modifiers, a reserved byte, five LEDs out, six keys.
      {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15,
       0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08,
       0x81, 0x01, 0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91,
       0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06, 0x75, 0x08, 0x15, 0x00,
       0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0},
      // Vendor page: report ID 1, 8 feature bytes (9 on the wire with the ID).
      {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x02, 0x15,
       0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x08, 0xB1, 0x02, 0xC0},
  };
  static const std::vector<uint8_t> none;
  return index < std::size(descriptors) ? descriptors[index] : none;
}

std::vector<EmulatedInterface> EmulatedRx::Interfaces() const {
  const HidAttributes a{config_.vid, config_.pid, config_.version};
  const std::string base = "emu://rx" + std::to_string(config_.instance) + "/";
  return {{base + "mouse", a, 0}, {base + "keyboard", a, 0}, {base + "vendor", a, kReportSize}};
}

void EmulatedRx::Plug() {
  // Power comes back: nothing pending survives; the register file (EEPROM) does.
  hasAnswer_ = false;
  binding_ = false;
  EmulatedDevice::Plug();
  ReloadAddress(0);
}

void EmulatedRx::ReloadAddress(uint64_t offAirMs) {
  active_ = {uint8_t(registers_[0] >> 8), uint8_t(registers_[1] >> 8), uint8_t(registers_[2] >> 8)};
  radioDownUntil_ = host_.TickCount() + offAirMs;
}

bool EmulatedRx::RadioUp(uint64_t now) const {
  return radioEnabled_ && Plugged() && now >= radioDownUntil_;
}

bool EmulatedRx::Linked() const {
  const uint64_t now = host_.TickCount();
  return tx_ && RadioUp(now) && tx_->OnAir(now) && tx_->ActiveAddress() == active_;
}

bool EmulatedRx::DropOnAir() {
  if (dropShare_ <= 0) return false;
  return std::uniform_real_distribution<double>(0, 1)(rng_) < dropShare_;
}

void EmulatedRx::Advance() {
  if (!binding_) return;
  const uint64_t now = host_.TickCount();
  const bool withKeyboard = registers_[56] != Pair(0x5A);
  if (now >= bindStartedAt_ + config_.bindFindMs && withKeyboard && keyboardBindMode_ &&
      RadioUp(now)) {
    for (size_t i = 0; i < 3; ++i) {
      const uint8_t b = uint8_t(rng_() | (i == 0 ? 0x80 : 0));
      registers_[43 + i] = registers_[48 + i] = Pair(b);
    }
    binding_ = false;
    bound_ = true;
  } else if (now >= bindStartedAt_ + config_.bindFindMs && tx_ && tx_->BindMode() &&
             tx_->OnAir(now) && RadioUp(now)) {
    EmulatedTx::Address fresh;
    do {
      for (uint8_t& b : fresh) b = uint8_t(rng_());
      fresh[0] |= 0x80;
    } while (fresh == active_);
    for (size_t i = 0; i < 3; ++i) registers_[i] = Pair(fresh[i]);
    active_ = fresh;
    tx_->AdoptAddress(fresh, now);
    binding_ = false;
    bound_ = true;
  } else if (now >= bindStartedAt_ + config_.bindWindowMs) {
    binding_ = false;
  }
}

bool EmulatedRx::TransferAllowed() {
  if (goneAfter_ == 0) {
    goneAfter_ = -1;
    Unplug();
    return false;
  }
  if (goneAfter_ > 0) --goneAfter_;
  if (refusedTransfers_ != 0) {
    if (refusedTransfers_ > 0) --refusedTransfers_;
    return false;
  }
  return true;
}

bool EmulatedRx::SetFeature(size_t index, const uint8_t* buffer, size_t length) {
  if (index != kVendorInterface || length != kReportSize || buffer[0] != 1) return false;
  if (!TransferAllowed()) return false;
  Advance();
  ++reportsReceived_;
  ReportBuffer command;
  std::copy_n(buffer, kReportSize, command.begin());
  ++commandCounts_[command[1]];
  hasAnswer_ = false;
  HandleCommand(command);
  return true;
}

bool EmulatedRx::GetFeature(size_t index, uint8_t* buffer, size_t length) {
  if (index != kVendorInterface || length != kReportSize || buffer[0] != 1) return false;
  if (!TransferAllowed()) return false;
  Advance();
  ++reportsFetched_;
  ReportBuffer out{};
  if (hasAnswer_ && host_.TickCount() >= answerReadyAt_ && !neverValid_) out = answer_;
  std::copy(out.begin(), out.end(), buffer);
  return true;
}

void EmulatedRx::Answer(const ReportBuffer& answer, uint64_t readyInMs) {
  answer_ = answer;
  answer_[7] = kOk;
  hasAnswer_ = true;
  answerReadyAt_ = host_.TickCount() + readyInMs;
}

void EmulatedRx::HandleCommand(const ReportBuffer& c) {
  const uint64_t now = host_.TickCount();
  const uint32_t prep = config_.answerPrepareMs;
  switch (c[1]) {
    case 0x03: {
      const uint16_t v = c[2] < kRegisterCount ? registers_[c[2]] : 0xFFFF;
      Answer({uint8_t(v >> 8), uint8_t(v & 0xFF)}, prep);
      break;
    }
    case 0x04: {
      if (c[2] >= kRegisterCount) break;
      uint16_t v = uint16_t((c[3] << 8) | c[4]);
      if (mismatchWrites_ != 0) {
        if (mismatchWrites_ > 0) --mismatchWrites_;
        v ^= 0x0001;
      }
      registers_[c[2]] = v;
      break;
    }
    case 0x06:
      Answer({0, transceiver_[c[2]]}, prep);
      break;
    case 0x07:
      transceiver_[c[2]] = c[3];
      break;
    case 0x08:
      if (c[2] == 0x00 && c[3] == 0x01) {
        binding_ = true;
        bound_ = false;
        bindStartedAt_ = now;
      } else if (c[2] == 0x0B) {
        ++customKeyApplies_;
      }
      break;
    case 0x09: {
      const bool up = RadioUp(now);
      const uint8_t channel = up ? uint8_t(2 + active_[2] % 81) : 0;
      Answer({channel, active_[1], active_[2]}, prep);
      break;
    }
    case 0x0A:
      if (Linked() && !DropOnAir())
        Answer({1, uint8_t(0x40 | tx_->BatteryLevel())}, prep + 2 * config_.rfLatencyMs);
      else
        Answer({0, 0}, prep);
      break;
    case 0x0E:
      if (c[2] == 0x55 && c[3] == 0xAA && c[4] == 0xCC) {
        binding_ = false;
        ReloadAddress(100);
      }
      break;
    case 0x0F:
      if (c[2] == 0xCC && c[3] == 0x33 && c[4] == 0x55) ReloadAddress(50);
      break;
    case 0x12:
      direct_[c[2]] = c[3];
      break;
    case 0x14:
      if (c[2] == 0xFF && c[3] == 0xAA) {
        if (Linked()) sequence_ = uint8_t(now / 8);
        const uint8_t channel = uint8_t(2 + active_[2] % 81);
        if (c[4] == 1)
          Answer({0x28, sequence_, 0, channel, channel, uint8_t(2 + active_[0] % 81), 16}, prep);
        else if (c[4] == 4)
          Answer({0, uint8_t(binding_ ? 0x00 : bound_ ? 0xBB : 0x33)}, prep);
        else
          Answer({}, prep);
      } else {
        Answer({direct_[c[2]]}, prep);
      }
      break;
    case 0x17:
      if (c[2] == 0x3C && c[3] == 0x5A && (c[4] == 1 || c[4] == 2)) deviceType_ = c[4];
      break;
    default:
      if (c[1] >= 0x21 && c[1] <= 0x2F && c[2] == 0xAA) HandleRf(c);
      break;
  }
}

void EmulatedRx::HandleRf(const ReportBuffer& c) {
  const uint64_t now = host_.TickCount();
  if (!Linked()) return;
  ++relayed_;
  if (DropOnAir()) {
    ++dropped_;
    return;
  }
  const uint32_t roundTrip = 2 * config_.rfLatencyMs;
  if (const auto value = tx_->Read(c[1], c[3])) {
    Answer({*value}, roundTrip + config_.answerPrepareMs);
    return;
  }
  const bool kept = tx_->Write(c[1], c[3], c[4], now + config_.rfLatencyMs);
  if (c[1] == 0x21 && kept) Answer({0, 0, 0, 0, 0x21, c[3]}, roundTrip + config_.txEepromWriteMs);
}

bool EmulatedRx::InjectFault(std::string_view name, int count) {
  if (name == "answers-never-valid")
    neverValid_ = count != 0;
  else if (name == "readback-mismatch")
    mismatchWrites_ = count;
  else if (name == "transfer-refused")
    refusedTransfers_ = count;
  else if (name == "rx-gone") {
    if (count <= 0)
      Unplug();
    else
      goneAfter_ = count;
  } else if (name == "low-battery" || name == "tx-off" || name == "tx-out-of-range" ||
             name == "tx-eeprom-mismatch" || name == "no-link-after-reload") {
    if (!tx_) return false;
    if (name == "low-battery")
      tx_->SetBatteryLevel(2);
    else if (name == "tx-off")
      tx_->SetPowered(false, host_.TickCount());
    else if (name == "tx-out-of-range")
      tx_->SetInRange(false);
    else if (name == "tx-eeprom-mismatch")
      tx_->SetEepromWriteFaults(count);
    else
      tx_->SetDiesOnReload(true);
  } else if (name == "tx-flaky") {
    dropShare_ = (count < 0 ? 30 : std::min(count, 100)) / 100.0;
  } else {
    return false;
  }
  return true;
}

void EmulatedRx::ClearFaults() {
  neverValid_ = false;
  mismatchWrites_ = 0;
  refusedTransfers_ = 0;
  goneAfter_ = -1;
  dropShare_ = 0;
  if (tx_) {
    tx_->SetEepromWriteFaults(0);
    tx_->SetDiesOnReload(false);
    tx_->SetInRange(true);
  }
}

std::vector<std::string> EmulatedRx::FaultNames() {
  return {"answers-never-valid",
          "readback-mismatch",
          "transfer-refused",
          "rx-gone",
          "tx-out-of-range",
          "tx-off",
          "tx-flaky",
          "low-battery",
          "tx-eeprom-mismatch",
          "no-link-after-reload"};
}

}  // namespace korvel
