// One unit as production runs it. Before any device is touched: the settings file is this
// station's, the generators the unit uses are sound, the product name is single bytes of the
// code page, the production record can be written, and none of the unit's numbers was given
// to a unit before. Then the unit is written, and on PASS the record takes the unit before
// TX.ini takes the numbering, so a crash between the two can only skip a number, never repeat
// one.
#pragma once

#include <filesystem>
#include <string>

#include "config/SettingsFile.h"
#include "production/NumberingLedger.h"
#include "production/ProductionRecord.h"
#include "production/UnitProgrammer.h"

namespace korvel {

// The record's form of a unit's numbers.
RecordNumbers ToRecordNumbers(const UnitNumbers& unit);

class ProductionRun {
 public:
  ProductionRun(NumberingLedger& ledger, UnitProgrammer& programmer, SettingsFile& file,
                RxLink& link, Host& host);

  // The record beside the settings file unless a path is given; opened (and created) now.
  // Rows a killed run of this station left RUNNING are closed as interrupted.
  bool OpenRecord(const std::filesystem::path& path, Phrase& error);
  ProductionRecord& Record() { return record_; }
  const std::filesystem::path& RecordPath() const { return recordPath_; }
  // The PC's name in the record (tests set it).
  void SetStation(std::string station) { station_ = std::move(station); }
  const std::string& Station() const { return station_; }

  RunResult Run(const Settings& settings, RunObserver& observer);

  // Today's PASS and FAIL rows of this station and settings file, from the record.
  bool CountToday(int& pass, int& fail);

 private:
  RunResult Refuse(Phrase why);
  std::string SettingsFileName() const;
  // Draws numbers no passed unit carries; empty text, or why not.
  Phrase DrawFresh(const Settings& settings, UnitNumbers& unit);

  NumberingLedger& ledger_;
  UnitProgrammer& programmer_;
  SettingsFile& file_;
  RxLink& link_;
  Host& host_;
  ProductionRecord record_;
  std::filesystem::path recordPath_;
  Phrase recordError_ = Say("the production record is not open");
  std::string station_;
  // A passed unit's numbering that TX.ini did not take: saved before the next unit.
  bool unsaved_ = false;
};

}  // namespace korvel
