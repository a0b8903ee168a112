// The udev rule that lets the operator open the dongle's hidraw nodes without root: where the
// package puts it, and how to put it in place by hand. Meaningful on Linux only.
#pragma once

#include <string>

namespace korvel {

// Full path of the rule as the Linux package installs it (udev's own rules folder).
std::string InstalledUdevRulePath();

// One shell command line that installs the rule from this program's source tree into
// /etc/udev/rules.d and applies it to the dongles plugged in now; for a tool built and run
// without the package.
std::string UdevRuleInstallCommand();

}  // namespace korvel
