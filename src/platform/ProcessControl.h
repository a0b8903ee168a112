// Ending other running copies of the program at start-up.
#pragma once

#include <string>

namespace korvel {

// The file name (no folder) of this process's executable.
std::string OwnExecutableName();
// Ends every other process of this user whose executable file name equals `exeName`
// without regard to case; never this process. Returns when they are gone (what they held,
// such as a settings file's lock, is free then): a copy that has not ended within `graceMs`
// of being told is ended outright. Returns how many were ended.
int KillProcessesNamed(const std::string& exeName, int graceMs = 5000);
// A new copy ends the copies already running.
int KillOtherInstances();

// Starts a program in its own process with a normal window and does not wait for it; false
// when it could not be started.
bool StartDetached(const std::string& path);
// Retitles the top-level window of the given class and title; false when there is none
// (always on systems without such windows).
bool RetitleWindow(const std::string& windowClass, const std::string& title,
                   const std::string& newTitle);

}  // namespace korvel
