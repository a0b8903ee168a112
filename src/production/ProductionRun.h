// One unit as production runs it. Before any device is touched: the settings file is this
// station's, the generators the unit uses are sound, the product name is single bytes of the
// code page, the production record can be written, and none of the unit's numbers was given
// to a unit before. Then the unit is written, and on PASS the record takes the unit before
// TX.ini takes the numbering, so a crash between the two can only skip a number, never repeat
// one.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/SettingsFile.h"
#include "production/FleetLink.h"
#include "production/NumberingLedger.h"
#include "production/ProductionRecord.h"
#include "production/UnitProgrammer.h"

namespace korvel {

// The record's form of a unit's numbers.
RecordNumbers ToRecordNumbers(const UnitNumbers& unit);
// The settings file as the record names it: its target, absolute.
std::string SettingsFileName(const SettingsFile& file);

// The next unit's numbers that no passed unit carries. A random link ID that came up again
// is drawn anew; the numbers of this station's own last unit, which TX.ini did not take
// (stopped between the record and the file), are passed over: the ledger moves past them
// and `passOver` is told (its failure stops the draw). Done, or why the unit cannot be
// numbered.
Status DrawUnused(NumberingLedger& ledger, ProductionRecord& record, const std::string& station,
                  const std::string& settingsFile, UnitNumbers& unit,
                  const std::function<Status(const GivenNumber&)>& passOver);

class ProductionRun {
 public:
  ProductionRun(NumberingLedger& ledger, UnitProgrammer& programmer, SettingsFile& file,
                RxLink& link, Host& host);

  // The record beside the settings file unless a path is given (a file, or a folder that
  // holds production.db); opened (and created) now. Rows a killed run of this station left
  // RUNNING are closed as interrupted, and a last row that says PASS for a unit whose
  // numbering TX.ini never took is corrected (see TakeNotices).
  Status OpenRecord(const std::filesystem::path& path);
  // What opening the record found and corrected, for the operator; emptied by the call.
  std::vector<Phrase> TakeNotices();
  ProductionRecord& Record() { return record_; }
  const std::filesystem::path& RecordPath() const { return recordPath_; }
  // The PC's name in the record (tests set it).
  void SetStation(std::string station) { station_ = std::move(station); }
  const std::string& Station() const { return station_; }

  // The fleet database, as TX.ini's [Record] Url, Station and Lease (or the command line)
  // name it; an empty URL: none. Taken when the record opens, and at the next Go when it
  // changed. Its station name defaults to the PC's name and TX.ini's folder.
  void SetFleet(FleetConfig config);
  // What the window shows of it (see FleetStatusLine).
  FleetStatus Fleet() const;
  FleetLink& FleetConnection() { return fleet_; }

  RunResult Run(const Settings& settings, RunObserver& observer);
  // Writes a failed unit's row that the record could not take when it failed (before the
  // station closes: a restart could not tell it any more).
  Status SettleRecord();

  // Today's PASS and FAIL rows of this station and settings file, from the record.
  Result<DayCounts> CountToday();

 private:
  RunResult Refuse(const Status& why);
  std::string SettingsFileName() const;
  // Draws numbers no passed unit carries, or says why not.
  Status DrawFresh(const Settings& settings, UnitNumbers& unit);
  // The same from the fleet database's leases.
  Status DrawFromFleet(UnitNumbers& unit, FleetDraw& draw);
  // Opens, reopens or closes the link to the fleet database as configured.
  Status OpenFleet();
  // The record's last PASS of this station whose numbers TX.ini still offers as the next
  // unit's: that unit was never finished (PASS is shown only after TX.ini took it).
  void Reconcile();
  // A failed unit's row, when the record could not take it then: written before the next
  // unit, so the record never keeps RUNNING or PASS for a unit the screen failed.
  struct Correction {
    int64_t id = 0;
    std::string step;
    int64_t ms = 0;
    bool given = false;
  };
  // The row becomes FAIL; when it cannot, the correction waits for the next unit.
  Status CloseAsFailed(int64_t id, const std::string& step, int64_t ms, bool given);

  NumberingLedger& ledger_;
  UnitProgrammer& programmer_;
  SettingsFile& file_;
  RxLink& link_;
  Host& host_;
  ProductionRecord record_;
  std::filesystem::path recordSetting_;  // as configured (empty: beside TX.ini)
  std::filesystem::path recordPath_;
  std::vector<Phrase> notices_;
  std::optional<Correction> pendingCorrection_;
  Status recordError_ = Status::Failed(Say("the production record is not open"));
  std::string station_;
  // A passed unit's numbering that TX.ini did not take: saved before the next unit.
  bool unsaved_ = false;
  FleetConfig fleetWanted_;
  Status fleetError_;
  // A passed unit's row the outbox could not be told is final: told before the next unit.
  std::optional<int64_t> pendingReady_;
  FleetLink fleet_;  // after record_: it is closed first
};

}  // namespace korvel
