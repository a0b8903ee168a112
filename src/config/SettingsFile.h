// The station's TX.ini. A station claims it for as long as it uses it, so only one station
// writes it; production runs on it only while it is claimed and was read as a settings file.
#pragma once

#include <filesystem>
#include <string>

#include "config/Settings.h"
#include "platform/FileLock.h"

namespace korvel {

class SettingsFile {
 public:
  explicit SettingsFile(std::filesystem::path path) : path_(std::move(path)) {}

  const std::filesystem::path& Path() const { return path_; }
  // Where saves land: the file itself, or the target of a link to it.
  std::filesystem::path Target() const;

  // Locks the file (TX.ini.lock beside its target) and removes the temporaries of saves
  // that were killed. False while another station holds it; Problem() then says who.
  Status Claim(const std::string& program);
  bool Claimed() const { return lock_.Held(); }
  // The claim failed because another station holds the file (not because of an error).
  bool HeldElsewhere() const { return heldElsewhere_; }

  // "Load Setting". A file that could not be read, or is no settings file, stops production
  // until a later load reads it.
  SettingsLoadReport Load(Settings& settings, VidPidTableType& table, IniPart* more);
  // "Write Setting". Nothing is written while another station holds the file.
  Result<WriteResult> Write(const Settings& settings, IniPart* more, bool blocked);

  // Why production must not run on the file now; empty when it may.
  Phrase Problem() const;

 private:
  std::filesystem::path path_;
  FileLock lock_;
  Phrase claimError_;
  bool heldElsewhere_ = false;
  Phrase loadError_ = Say("not loaded yet");
};

}  // namespace korvel
