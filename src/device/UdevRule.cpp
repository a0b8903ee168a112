#include "device/UdevRule.h"

// The build says where: cmake/Packaging.cmake.
#if !defined(KORVEL_UDEV_RULES_DIR) || !defined(KORVEL_UDEV_RULE_SOURCE)
#error "KORVEL_UDEV_RULES_DIR and KORVEL_UDEV_RULE_SOURCE come from the build"
#endif

namespace korvel {

namespace {

std::string FileName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The source tree may sit in a folder whose name the shell would split or expand.
std::string ShellWord(const std::string& text) {
  bool plain = !text.empty();
  for (const char c : text) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '/' || c == '.' || c == '_' || c == '-' || c == '+' || c == ',' ||
                      c == ':' || c == '@' || c == '%';
    if (!safe) plain = false;
  }
  if (plain) return text;
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

}  // namespace

std::string InstalledUdevRulePath() {
  const std::string source = KORVEL_UDEV_RULE_SOURCE;
  return std::string(KORVEL_UDEV_RULES_DIR) + "/" + FileName(source);
}

std::string UdevRuleInstallCommand() {
  return "sudo install -m 0644 " + ShellWord(KORVEL_UDEV_RULE_SOURCE) +
         " /etc/udev/rules.d/ && sudo udevadm control --reload-rules && sudo udevadm trigger "
         "--subsystem-match=hidraw";
}

}  // namespace korvel
