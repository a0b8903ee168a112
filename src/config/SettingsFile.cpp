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
    claimError_ =
        Say("{0} has {1} hard links: saving would split them and each would number units on its "
            "own. Use one file, or symbolic links to it",
            path_.string(), links);
    return false;
  }
  std::filesystem::path lockPath = target;
  lockPath += ".lock";
  Phrase error;
  if (!lock_.Acquire(lockPath, ProcessHolderText(program), error, heldElsewhere_)) {
    // "TX.ini is in use by another station (...)", or the OS error behind the lock file.
    claimError_ = heldElsewhere_ ? Say("{0} is {1}", path_.string(), error)
                                 : Say("{0}: {1}", path_.string(), error);
    return false;
  }
  claimError_ = {};
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
                                Phrase& error) {
  if (blocked) return WriteResult::Blocked;
  if (!Claimed()) {
    error = claimError_.empty() ? Say("{0} is not claimed by this station", path_.string())
                                : claimError_;
    return WriteResult::Failed;
  }
  return WriteSettings(path_, settings, more, false, error);
}

Phrase SettingsFile::Problem() const {
  if (!Claimed())
    return claimError_.empty() ? Say("{0} is not claimed by this station", path_.string())
                               : claimError_;
  return loadError_;
}

}  // namespace korvel
