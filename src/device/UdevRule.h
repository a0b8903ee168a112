// The udev rule that lets the operator open the dongle's hidraw nodes without root: where the
// package puts it, and how to put it in place by hand. Meaningful on Linux only.
#pragma once

#include <string>

namespace korvel {

// The rule's one line, as packaging/linux/70-korvel-rf.rules holds it.
std::string UdevRuleLine();
// Full path of the rule as the Linux package installs it (udev's own rules folder).
std::string InstalledUdevRulePath();
// Where an administrator puts the rule by hand.
std::string LocalUdevRulePath();
// The rule in place, by the package or by hand; empty when there is none.
std::string FindInstalledUdevRule();
// One shell command line that writes the rule into /etc/udev/rules.d and applies it to the
// dongles plugged in now; it needs nothing but this program, not its source tree.
std::string UdevRuleInstallCommand();

}  // namespace korvel
