// The production record: one row per unit run, in an SQLite file beside TX.ini. A number is
// "given" once the numbering moved past it (every PASS); the record keeps each given serial
// and link ID unique, so a number a passed unit carries is never written into another.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Phrase.h"
#include "platform/Status.h"

struct sqlite3;

namespace korvel {

constexpr const char* kRecordFileName = "production.db";

// Where the record is: `configured` (a file, or a folder that holds production.db), or
// production.db in `defaultFolder` when nothing is configured. Only a configured folder is
// looked into: the usual name being a folder is a mistake to report, not a place to write.
std::filesystem::path ResolveRecordPath(const std::filesystem::path& configured,
                                        const std::filesystem::path& defaultFolder);
// Why `path` cannot hold the record, in words that name the cause (not a path on this
// system, a folder, a device, a folder or file that is read-only); empty when none is seen.
// `toWrite`: the station's use (it writes beside the file); a reader only reads it.
Phrase RecordPathProblem(const std::filesystem::path& path, bool toWrite);

// A unit's numbers as the record keeps them: serials as 12 hex digits (the six bytes), link
// IDs as 6; empty when the unit does not get that number.
struct RecordNumbers {
  std::string rxSerial, txSerial, rxId, txId;
  // A serial without an incrementing part: a batch code every unit of the batch carries.
  // It is kept in the row but never counted as a given number.
  bool rxSerialShared = false;
  bool txSerialShared = false;
};

struct RecordRow {
  int64_t id = 0;
  std::string timeUtc;    // 2026-12-08T10:15:00Z
  std::string timeLocal;  // 2026-12-08 11:15:00
  std::string station;    // host name
  std::string settingsFile;
  std::string result;  // RUNNING while the unit is written, then PASS or FAIL
  std::string failedStep;
  int64_t ms = 0;
  RecordNumbers numbers;
  int rxVid = 0, rxPid = 0, rxVersion = 0;
  std::string settingsHash;
  bool given = false;
};

// A number that a unit already carries.
enum class NumberKind { RxSerial, TxSerial, RxLinkId, TxLinkId };
struct GivenNumber {
  NumberKind kind;
  Phrase what;        // "RX serial", "TX serial", "RX link ID", "TX link ID"
  std::string value;  // as the record keeps it
  RecordRow row;      // the unit that got it
};

// Today's results of one station on one settings file.
struct DayCounts {
  int pass = 0;
  int fail = 0;
};

class ProductionRecord {
 public:
  using Clock = std::function<int64_t()>;  // seconds since 1970 (UTC)

  ProductionRecord();
  ~ProductionRecord();
  ProductionRecord(const ProductionRecord&) = delete;
  ProductionRecord& operator=(const ProductionRecord&) = delete;

  // Opens for production: creates a missing file and its table. A file that is not a record,
  // or cannot be written, fails with the cause in words and SQLite's reason.
  Status Open(const std::filesystem::path& path);
  // Opens an existing record to read it; the file is not changed (a listing never makes a
  // record, nor a table in a file that is none).
  Status OpenToRead(const std::filesystem::path& path);
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  const std::filesystem::path& Path() const { return path_; }
  // How long a write waits for another writer (another station on a shared file).
  void SetBusyTimeout(int ms);
  void SetClock(Clock clock) { clock_ = std::move(clock); }

  // The first of these numbers that a unit already carries (none: nothing found).
  Result<std::optional<GivenNumber>> FindGiven(const RecordNumbers& numbers);
  // The newest row whose numbers were given, by this station on this settings file.
  Result<std::optional<RecordRow>> LastGiven(const std::string& station,
                                             const std::string& settingsFile);
  // A unit is about to be written: its row (result RUNNING) goes in first, so a record that
  // cannot be written stops the unit before any device is touched. The new row's id.
  Result<int64_t> Begin(RecordRow row);
  // The unit's end: result, reason, time, and whether its numbers are now given.
  Status Finish(int64_t id, const std::string& result, const std::string& failedStep, int64_t ms,
                bool given);
  // Rows a killed station left RUNNING become FAIL ("interrupted"). Their count.
  Result<int> CloseInterrupted(const std::string& station, const std::string& settingsFile);
  // PASS and FAIL rows of one station and settings file today (local date of the clock).
  Result<DayCounts> CountToday(const std::string& station, const std::string& settingsFile);
  // Oldest first; since is "YYYY-MM-DD" (local date) or empty for all.
  Result<std::vector<RecordRow>> Rows(const std::string& since);
  // The same rows one at a time, never all in memory; `each` returning false stops early
  // (not a failure: the caller stopped).
  Status ForEachRow(const std::string& since, const std::function<bool(const RecordRow&)>& each);

  // Local and UTC time text of a moment.
  static std::string LocalText(int64_t seconds);
  static std::string UtcText(int64_t seconds);

 private:
  Status OpenFile(const std::filesystem::path& path, int flags);
  // The record keeps which serials are batch codes (records of earlier versions do not).
  bool HasSharedSerials();
  Status Exec(const char* sql);
  Status Error(const Phrase& what) const;

  friend class SqliteLineRecord;
  sqlite3* db_ = nullptr;
  std::filesystem::path path_;
  int busyMs_ = 2000;
  Clock clock_;
  bool shared_ = false;
};

// The record's columns as a CSV header line and one row (RFC 4180 quoting).
std::string RecordCsvHeader();
std::string RecordCsvLine(const RecordRow& row);

}  // namespace korvel
