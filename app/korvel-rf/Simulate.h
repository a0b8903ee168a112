#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

#include "config/Settings.h"
#include "production/LocalDate.h"

namespace korvel {

struct SimulateOptions {
  std::filesystem::path ini = kIniFileName;
  int units = 1;
  std::optional<LocalDate> date;
  std::string fault;  // one of the emulator's fault names, or empty
  std::optional<std::filesystem::path> json;
  // empty: the window's rule ([Record] Path, else beside TX.ini); a postgresql:// URL: the
  // fleet database, with the local record where the window keeps it
  std::filesystem::path db;
  // The operator: PASS (or FAIL) to the next plug, with a seeded jitter of +-half of it.
  uint32_t operatorDelayMs = 1000;
  bool hotPlug = true;  // false: the 5.5 s detection timer alone
  // Real seconds an operator waits for the fleet database when Go is refused without it.
  int waitFleetSeconds = 0;
};

// Runs the station as the window does, on virtual time against a fresh emulated dongle and
// mouse per unit, using and updating the settings file and the production record like the
// window. An operator plugs each unit, waits for both sides ready (pulling the dongle for 6 s
// and plugging it again when the station does not get ready within 12 s), presses PageDown, unplugs
// after the result and plugs the next one after the operator delay. Each unit's line is flushed as
// it is printed; a summary line ends the run. Returns the exit code (ExitCode).
int RunSimulate(const SimulateOptions& options, std::ostream& out, std::ostream& err);

}  // namespace korvel
