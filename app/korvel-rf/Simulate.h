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
  std::filesystem::path db;  // empty: the window's rule ([Record] Path, else beside TX.ini)
  // The operator: PASS (or FAIL) to the next plug, with a seeded jitter of +-half of it.
  uint32_t operatorDelayMs = 1000;
  bool hotPlug = true;  // false: the 5.5 s detection timer alone
};

// Runs the station as the window does, on virtual time against a fresh emulated dongle and
// mouse per unit, using and updating the settings file and the production record like the
// window. An operator plugs each unit, waits for both sides ready (pulling the dongle for 6 s
// and plugging it again when the station does not get ready within 12 s), presses PageDown, unplugs
// after the result and plugs the next one after the operator delay. Each unit's line is flushed as
// it is printed; a summary line ends the run. Returns the exit code (ExitCode).
int RunSimulate(const SimulateOptions& options, std::ostream& out, std::ostream& err);

}  // namespace korvel
