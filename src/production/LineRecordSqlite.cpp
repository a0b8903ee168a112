// The line's reader over the station's own record (SQLite), opened read-only.
#include <algorithm>
#include <set>

#include "production/FleetDatabase.h"
#include "production/LineRecordReader.h"
#include "production/RecordSql.h"

namespace korvel {

UnitKey UnitKeyOf(const RecordRow& row) {
  if (!row.numbers.rxSerial.empty()) return {UnitKey::Kind::RxSerial, row.numbers.rxSerial};
  if (!row.numbers.txSerial.empty()) return {UnitKey::Kind::TxSerial, row.numbers.txSerial};
  if (!row.numbers.rxId.empty()) return {UnitKey::Kind::RxLinkId, row.numbers.rxId};
  return {UnitKey::Kind::Row, std::to_string(row.id)};
}

class SqliteLineRecord final : public LineRecordReader {
 public:
  Status Open(const std::filesystem::path& path) { return record_.OpenToRead(path); }

  Status ForEachRun(const LocalSpan& span, RunOrder order, const RunVisitor& each) override {
    // units_by_time holds (time_local, id): both orders walk it without sorting.
    const std::string sql =
        std::string("SELECT ") + kRecordColumns +
        " FROM units WHERE time_local >= ?1 AND time_local < ?2 ORDER BY " +
        (order == RunOrder::OldestFirst ? "time_local, id" : "time_local DESC, id DESC");
    Statement s(record_.db_, sql.c_str());
    if (!s.Ok()) return Failed();
    s.Text(1, span.from);
    s.Text(2, span.to);
    return Walk(s, each);
  }

  Status ForEachEarlierRun(const std::vector<UnitKey>& units, const std::string& before,
                           const RunVisitor& each) override {
    if (units.empty()) return {};
    // Fewer rows before the span than units to look up (a long span that starts early): one
    // walk of those rows beats a look-up per unit; none at all, nothing to do.
    Statement count(record_.db_,
                    "SELECT COUNT(*) FROM (SELECT 1 FROM units WHERE time_local < ?1 LIMIT ?2)");
    if (!count.Ok()) return Failed();
    count.Text(1, before);
    count.Int(2, int64_t(units.size()));
    if (count.Step() != SQLITE_ROW) return Failed();
    const int64_t rowsBefore = count.ColumnInt(0);
    if (rowsBefore == 0) return {};
    const std::set<UnitKey> wanted(units.begin(), units.end());
    bool stopped = false;
    // An RX serial equal to another unit's TX serial is not that unit.
    const RunVisitor mine = [&](const RecordRow& row) {
      if (!wanted.count(UnitKeyOf(row))) return true;
      stopped = !each(row);
      return !stopped;
    };
    if (rowsBefore < int64_t(units.size())) {
      const std::string sql = std::string("SELECT ") + kRecordColumns +
                              " FROM units WHERE time_local < ?1 ORDER BY time_local, id";
      Statement s(record_.db_, sql.c_str());
      if (!s.Ok()) return Failed();
      s.Text(1, before);
      return Walk(s, mine);
    }
    std::vector<const UnitKey*> asked;
    for (const UnitKey& key : wanted)
      if (key.kind != UnitKey::Kind::Row) asked.push_back(&key);
    // The expression is the one units_by_unit is built on, word for word, or SQLite will not
    // use the index. A batch stays well under SQLite's limit of bound values.
    constexpr size_t kBatch = 500;
    for (size_t at = 0; at < asked.size() && !stopped; at += kBatch) {
      const size_t n = std::min(kBatch, asked.size() - at);
      std::string sql = std::string("SELECT ") + kRecordColumns +
                        " FROM units WHERE COALESCE(rx_serial, tx_serial, rx_id) IN (";
      for (size_t i = 0; i < n; ++i) sql += i ? ",?" : "?";
      sql += ") AND time_local < ? ORDER BY time_local, id";
      Statement s(record_.db_, sql.c_str());
      if (!s.Ok()) return Failed();
      for (size_t i = 0; i < n; ++i) s.Text(int(i + 1), asked[at + i]->value);
      s.Text(int(n + 1), before);
      if (Status walked = Walk(s, mine); !walked) return walked;
    }
    return {};
  }

  Result<std::vector<RecordRow>> LatestRunPerStation(const std::string& from) override {
    // "+station": grouped after the time range is read through units_by_time; grouping by
    // units_by_station would read the whole record for a week of it.
    const std::string sql = std::string("SELECT ") + kRecordColumns +
                            " FROM units WHERE id IN (SELECT MAX(id) FROM units WHERE "
                            "time_local >= ?1 GROUP BY +station) ORDER BY station";
    Statement s(record_.db_, sql.c_str());
    if (!s.Ok()) return Failed();
    s.Text(1, from);
    std::vector<RecordRow> rows;
    const Status walked = Walk(s, [&rows](const RecordRow& row) {
      rows.push_back(row);
      return true;
    });
    if (!walked) return walked;
    return rows;
  }

  Phrase SlowRecordNote() override {
    Statement s(record_.db_,
                "SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = 'units_by_unit'");
    if (s.Ok() && s.Step() == SQLITE_ROW) return {};
    return Say(
        "{0} has no index of units yet: a long period is slow to read until a station opens the "
        "record again (it adds the index then)",
        record_.Path().string());
  }

 private:
  Status Walk(Statement& s, const RunVisitor& each) {
    int rc = SQLITE_ROW;
    while ((rc = s.Step()) == SQLITE_ROW)
      if (!each(ReadRecordRow(s))) return {};
    return rc == SQLITE_DONE ? Status() : Failed();
  }
  Status Failed() { return record_.Error(Say("cannot read the production record")); }

  ProductionRecord record_;
};

Result<std::unique_ptr<LineRecordReader>> OpenLineRecord(const std::string& where) {
  if (IsFleetUrl(where)) return OpenFleetLineRecord(where);
  auto reader = std::make_unique<SqliteLineRecord>();
  if (Status opened = reader->Open(ResolveRecordPath(where, {})); !opened) return opened;
  return std::unique_ptr<LineRecordReader>(std::move(reader));
}

}  // namespace korvel
