// The line's reader over the fleet database's units: the rows the station's own record would
// give, in the same order. Local times are compared byte by byte (COLLATE "C"), as SQLite
// compares them, whatever collation the database was made with; ties go by row id.
#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "production/FleetRecords.h"
#include "production/FleetSchema.h"
#include "production/LineRecordReader.h"

namespace korvel {

namespace {

constexpr const char* kLocalTime = "time_local COLLATE \"C\"";
// Units per look-up: one array parameter (no limit of bound values as in SQLite), a query of
// some 60 kB.
constexpr size_t kKeysPerQuery = 5000;

class FleetLineRecord final : public LineRecordReader {
 public:
  Status Open(const std::string& url) {
    // Refused before any connection: the URI is not repeated, it may hold the password.
    if (Phrase problem = FleetUrlProblem(url); !problem.empty())
      return Status::Failed(std::move(problem));
    if (Status connected = db_.Connect(url); !connected) return connected;
    // A page needs no more than a reader's rights, but it may be given more: it still writes
    // nothing. Its walks are read to the end (but the latest units'): cursors planned for a
    // first tenth look a day's units up by walking the year in time order, not sorting.
    if (Status session = db_.Exec(Phrase::Literal("a read-only session"),
                                  "SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY; "
                                  "SET cursor_tuple_fraction = 1");
        !session)
      return session;
    const Result<FleetIdentity> schema = CheckFleetSchema(db_);
    return schema ? Status() : schema.status;
  }

  Status ForEachRun(const LocalSpan& span, RunOrder order, const RunVisitor& each) override {
    // units_by_local_time holds (time_local, id): both orders walk it without sorting.
    const std::string sql = Select() + " WHERE " + kLocalTime + " >= $1::text AND " + kLocalTime +
                            " < $2::text ORDER BY " + kLocalTime +
                            (order == RunOrder::OldestFirst ? ", id" : " DESC, id DESC");
    return Walk(sql, {span.from, span.to}, each);
  }

  Status ForEachEarlierRun(const std::vector<UnitKey>& units, const std::string& before,
                           const RunVisitor& each) override {
    if (units.empty()) return {};
    // As the station's record does it: with fewer rows before the span than units to look
    // up, one walk of those rows; with none, nothing to do. Counted in the index's order, or
    // the planner may filter another index of the time to its end when few rows match.
    const Result<PgRows> count = db_.Query(
        What(),
        std::string("SELECT count(*) FROM (SELECT 1 FROM korvel.units WHERE ") + kLocalTime +
            " < $1::text ORDER BY " + kLocalTime + " LIMIT $2::bigint) AS before_span",
        {before, std::to_string(units.size())});
    if (!count) return count.status;
    const int64_t rowsBefore = count->Int(0, 0);
    if (rowsBefore == 0) return {};
    const std::set<UnitKey> wanted(units.begin(), units.end());
    bool stopped = false;
    // An RX serial equal to another unit's TX serial is not that unit.
    const RunVisitor mine = [&](const RecordRow& row) {
      if (!wanted.count(UnitKeyOf(row))) return true;
      stopped = !each(row);
      return !stopped;
    };
    const std::string order = std::string(" ORDER BY ") + kLocalTime + ", id";
    if (rowsBefore < int64_t(units.size()))
      return Walk(Select() + " WHERE " + kLocalTime + " < $1::text" + order, {before}, mine);
    std::vector<std::string> asked;
    for (const UnitKey& key : wanted)
      if (key.kind != UnitKey::Kind::Row) asked.push_back(key.value);
    // The expression is the one units_by_unit is built on.
    const std::string sql = Select() +
                            " WHERE COALESCE(rx_serial, tx_serial, rx_id) = ANY($1::text[]) AND " +
                            kLocalTime + " < $2::text" + order;
    for (size_t at = 0; at < asked.size() && !stopped; at += kKeysPerQuery) {
      const auto from = asked.begin() + std::ptrdiff_t(at);
      const std::vector<std::string> batch(
          from, from + std::ptrdiff_t(std::min(kKeysPerQuery, asked.size() - at)));
      if (Status walked = Walk(sql, {PgTextArray(batch), before}, mine); !walked) return walked;
    }
    return {};
  }

  Result<std::vector<RecordRow>> LatestRunPerStation(const std::string& from) override {
    // The highest id among each station's rows at or after `from`, as the station's record
    // finds it; units_by_local_time holds the station, so the rows themselves are not read.
    const Result<PgRows> found =
        db_.Query(What(),
                  Select() + " WHERE id IN (SELECT max(id) FROM korvel.units WHERE " + kLocalTime +
                      " >= $1::text GROUP BY station) ORDER BY station COLLATE \"C\"",
                  {from});
    if (!found) return found.status;
    std::vector<RecordRow> rows;
    for (int i = 0; i < found->Count(); ++i) rows.push_back(ReadFleetRecordRow(*found, i));
    return rows;
  }

  Phrase SlowRecordNote() override {
    const std::vector<std::string> wanted(std::begin(kFleetLineIndexes),
                                          std::end(kFleetLineIndexes));
    // An index still being built (or left half built) is not used: it counts as missing.
    const Result<PgRows> missing = db_.Query(
        Phrase::Literal("the indexes"),
        "SELECT name FROM unnest($1::text[]) WITH ORDINALITY AS w(name, n) WHERE NOT EXISTS ("
        "SELECT 1 FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid JOIN pg_namespace s ON "
        "s.oid = c.relnamespace WHERE s.nspname = 'korvel' AND c.relname = w.name AND "
        "i.indisvalid) ORDER BY n",
        {PgTextArray(wanted)});
    if (!missing || missing->Count() == 0) return {};
    std::string names;
    for (int i = 0; i < missing->Count(); ++i) names += (i ? ", " : "") + missing->Text(i, 0);
    return Say(
        "the fleet database lacks the indexes {0}: a long period is slow to read until korvel-rf "
        "db init adds them",
        names);
  }

 private:
  static Phrase What() { return Phrase::Literal("the line's rows"); }
  static std::string Select() { return "SELECT " + FleetRecordColumns() + " FROM korvel.units"; }

  Status Walk(const std::string& sql, const std::vector<PgParam>& params, const RunVisitor& each) {
    return ForEachFetched(db_, What(), sql, params, [&each](const PgRows& rows, int i) {
      return each(ReadFleetRecordRow(rows, i));
    });
  }

  PgSession db_;
};

}  // namespace

Result<std::unique_ptr<LineRecordReader>> OpenFleetLineRecord(const std::string& url) {
  auto reader = std::make_unique<FleetLineRecord>();
  if (Status opened = reader->Open(url); !opened) return opened;
  return std::unique_ptr<LineRecordReader>(std::move(reader));
}

}  // namespace korvel
