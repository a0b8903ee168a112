// Ending other running copies of the program at start-up.
#pragma once

#include <string>

namespace korvel {

// The file name (no folder) of this process's executable.
std::string OwnExecutableName();
// Ends every other process of this user whose executable file name equals `exeName`
// without regard to case; never this process. Returns how many were told to end.
int KillProcessesNamed(const std::string& exeName);
// A new copy ends the copies already running.
int KillOtherInstances();

}  // namespace korvel
