// One unit's result as the companion prints it: a line of key=value words for people and
// scripts, or one JSON object.
#pragma once

#include <cstdint>
#include <string>

#include "production/UnitProgrammer.h"

namespace korvel {

struct UnitOutcome {
  int unit = 0;
  bool pass = false;
  std::string reason;  // empty on PASS
  uint64_t ms = 0;
  std::string rxsn = "-", txsn = "-", rxid = "-", txid = "-";  // "-": not given
};

UnitOutcome OutcomeOf(int unit, const RunResult& run);
// "unit=1 result=PASS ms=... rxsn=... txsn=... rxid=... txid=..." (reason= before ms= on FAIL).
std::string UnitLineText(const UnitOutcome& outcome);
// The same as JSON members, without the braces.
std::string UnitJsonMembers(const UnitOutcome& outcome);
// A JSON string, quoted; control characters escaped.
std::string JsonText(const std::string& text);

}  // namespace korvel
