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
};

// Runs the station as the window does, on virtual time against a fresh emulated dongle and
// mouse per unit, using and updating the settings file and the production record like the
// window. Each unit's line is flushed as it is printed. Returns the exit code (ExitCode).
int RunSimulate(const SimulateOptions& options, std::ostream& out, std::ostream& err);

}  // namespace korvel
