#include "EmulatedRx.h"

#include <algorithm>

namespace korvel {

namespace {
constexpr size_t kVendorInterface = 2;
constexpr uint16_t Pair(uint8_t b) { return uint16_t((b << 8) | (b ^ 0xFF)); }
}  // namespace

EmulatedRx::EmulatedRx(Host& host, Config config)
    : host_(host), config_(config), registers_(FactoryRegisters()) {}

EmulatedRx::RegisterFile EmulatedRx::FactoryRegisters() {
  RegisterFile r;
  r.fill(0xFFFF);
  r[0] = Pair(0x12);
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

std::vector<EmulatedInterface> EmulatedRx::Interfaces() const {
  const HidAttributes a{config_.vid, config_.pid, config_.version};
  const std::string base = "emu://rx" + std::to_string(config_.instance) + "/";
  return {{base + "mouse", a, 0}, {base + "keyboard", a, 0}, {base + "vendor", a, kReportSize}};
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
  ++reportsFetched_;
  ReportBuffer out{};
  if (hasAnswer_ && host_.TickCount() >= answerReadyAt_ && !neverValid_) out = answer_;
  std::copy(out.begin(), out.end(), buffer);
  return true;
}

void EmulatedRx::Plug() {
  // Power comes back: nothing pending survives, the register file (EEPROM) does.
  hasAnswer_ = false;
  EmulatedDevice::Plug();
}

void EmulatedRx::Answer(const ReportBuffer& answer) {
  answer_ = answer;
  answer_[7] = 0xCC;
  hasAnswer_ = true;
  answerReadyAt_ = host_.TickCount() + config_.answerPrepareMs;
}

bool EmulatedRx::HandleCommand(const ReportBuffer& c) {
  switch (c[1]) {
    case 0x03: {
      const uint16_t v = c[2] < kRegisterCount ? registers_[c[2]] : 0xFFFF;
      Answer({uint8_t(v >> 8), uint8_t(v & 0xFF), 0, 0, 0, 0, 0, 0, 0});
      return true;
    }
    case 0x04: {
      if (c[2] >= kRegisterCount) return true;
      uint16_t v = uint16_t((c[3] << 8) | c[4]);
      if (mismatchWrites_ != 0) {
        if (mismatchWrites_ > 0) --mismatchWrites_;
        v ^= 0x0001;
      }
      registers_[c[2]] = v;
      return true;
    }
    default:
      return false;
  }
}

bool EmulatedRx::InjectFault(std::string_view name, int count) {
  if (name == "answers-never-valid") neverValid_ = count != 0;
  else if (name == "readback-mismatch") mismatchWrites_ = count;
  else if (name == "transfer-refused") refusedTransfers_ = count;
  else if (name == "rx-gone") {
    if (count <= 0) Unplug();
    else goneAfter_ = count;
  }
  else return false;
  return true;
}

void EmulatedRx::ClearFaults() {
  neverValid_ = false;
  mismatchWrites_ = 0;
  refusedTransfers_ = 0;
  goneAfter_ = -1;
}

std::vector<std::string> EmulatedRx::FaultNames() {
  return {"answers-never-valid", "readback-mismatch", "transfer-refused", "rx-gone"};
}

}  // namespace korvel
