#include "config/SettingsFile.h"

#include "platform/AtomicFile.h"

namespace korvel {

std::filesystem::path SettingsFile::Target() const {
  return WriteTarget(path_);
}

bool SettingsFile::Claim(const std::string& program) {
  if (lock_.Held()) return true;
  const std::filesystem::path target = Target();
  // The lock sits beside one name of the file; a save replaces the file and would split the
  // links, each name then numbering on its own.
  if (const uint64_t links = HardLinkCount(target); links > 1) {
    claimError_ = path_.string() + " has " + std::to_string(links) +
                  " hard links: saving would split them and each would number units on its own. "
                  "Use one file, or symbolic links to it";
    return false;
  }
  std::filesystem::path lockPath = target;
  lockPath += ".lock";
  std::string error;
  if (!lock_.Acquire(lockPath, ProcessHolderText(program), error)) {
    // "TX.ini is in use by another station (...)", or the OS error behind the lock file.
    heldElsewhere_ = error.rfind("in use", 0) == 0;
    claimError_ = path_.string() + (heldElsewhere_ ? " is " : ": ") + error;
    return false;
  }
  claimError_.clear();
  heldElsewhere_ = false;
  RemoveStaleTemporaries(target);
  return true;
}

SettingsLoadReport SettingsFile::Load(Settings& settings, VidPidTableType& table, IniPart* more) {
  SettingsLoadReport report = LoadSettings(path_, settings, table, more);
  loadError_ = report.readError;
  return report;
}

WriteResult SettingsFile::Write(const Settings& settings, IniPart* more, bool blocked,
                                std::string& error) {
  if (blocked) return WriteResult::Blocked;
  if (!Claimed()) {
    error = claimError_.empty() ? path_.string() + " is not claimed by this station" : claimError_;
    return WriteResult::Failed;
  }
  return WriteSettings(path_, settings, more, false, error);
}

std::string SettingsFile::Problem() const {
  if (!Claimed())
    return claimError_.empty() ? path_.string() + " is not claimed by this station" : claimError_;
  return loadError_;
}

}  // namespace korvel
