// A unit's device images as `korvel-rf simulate --json` writes them, so every program that
// presents the emulator (korvel-uhid-rx on a real kernel) reports them in the same form.
#pragma once

#include <string>

#include "EmulatedRx.h"
#include "EmulatedTx.h"

namespace korvel {

struct DeviceImages {
  EmulatedRx::RegisterFile rxBefore{}, rxAfter{};
  EmulatedTx::Eeprom txBefore{}, txAfter{};
  uint64_t reportsSent = 0, reportsFetched = 0;
};

// The members of a unit's JSON object, without the braces:
// "rx_registers_before":[..],"rx_registers":[..],"tx_eeprom_before":[..],"tx_eeprom":[..],
// "reports_sent":N,"reports_fetched":N
std::string DeviceImagesJsonMembers(const DeviceImages& images);

}  // namespace korvel
