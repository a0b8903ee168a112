#include "config/SettingsFile.h"

#include "platform/AtomicFile.h"

namespace korvel {

std::filesystem::path SettingsFile::Target() const {
  return WriteTarget(path_);
}

Status SettingsFile::Claim(const std::string& program) {
  if (lock_.Held()) return {};
  const std::filesystem::path target = Target();
  // The lock sits beside one name of the file; a save replaces the file and would split the
  // links, each name then numbering on its own.
  if (const uint64_t links = HardLinkCount(target); links > 1) {
    claimError_ =
        Say("{0} has {1} hard links: saving would split them and each would number units on its "
            "own. Use one file, or symbolic links to it",
            path_.string(), links);
    return Status::Failed(claimError_);
  }
  std::filesystem::path lockPath = target;
  lockPath += ".lock";
  const Status locked = lock_.Acquire(lockPath, ProcessHolderText(program));
  heldElsewhere_ = lock_.HeldElsewhere();
  if (!locked) {
    // "TX.ini is in use by another station (...)", or the OS error behind the lock file.
    claimError_ = heldElsewhere_ ? Say("{0} is {1}", path_.string(), locked.failure)
                                 : Say("{0}: {1}", path_.string(), locked.failure);
    return Status::Failed(claimError_, locked.osError);
  }
  claimError_ = {};
  RemoveStaleTemporaries(target);
  return {};
}

SettingsLoadReport SettingsFile::Load(Settings& settings, VidPidTableType& table, IniPart* more) {
  SettingsLoadReport report = LoadSettings(path_, settings, table, more);
  loadError_ = report.readError;
  return report;
}

Result<WriteResult> SettingsFile::Write(const Settings& settings, IniPart* more, bool blocked) {
  if (blocked) return WriteResult::Blocked;
  if (!Claimed())
    return Status::Failed(claimError_.empty()
                              ? Say("{0} is not claimed by this station", path_.string())
                              : claimError_);
  return WriteSettings(path_, settings, more, false);
}

Phrase SettingsFile::Problem() const {
  if (!Claimed())
    return claimError_.empty() ? Say("{0} is not claimed by this station", path_.string())
                               : claimError_;
  return loadError_;
}

}  // namespace korvel
