// What the line's page reads from a production record, and nothing more: the runs of a span
// of local time, the earlier runs of some units, each station's latest run. The figures are
// made above this from these rows, so another kind of record (the fleet's database) needs only
// these queries to give the same figures.
#pragma once

#include <compare>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Phrase.h"
#include "platform/Status.h"
#include "production/ProductionRecord.h"

namespace korvel {

// A unit is known by its RX serial; by its TX serial when the RX serial is off; by its RX link
// ID when both are off. A failed run's numbers are offered again to the retry, so a retried
// unit carries the same key on each of its rows. A row without any of them is a unit of its
// own (kind Row, its id as the value).
struct UnitKey {
  enum class Kind { RxSerial, TxSerial, RxLinkId, Row };
  Kind kind = Kind::Row;
  std::string value;
  auto operator<=>(const UnitKey&) const = default;
};
UnitKey UnitKeyOf(const RecordRow& row);

// Local times as the record writes them ("2026-12-08 11:15:00"); `to` is not included.
struct LocalSpan {
  std::string from, to;
};

enum class RunOrder { OldestFirst, NewestFirst };
// Returns false to stop early (which is not a failure).
using RunVisitor = std::function<bool(const RecordRow&)>;

class LineRecordReader {
 public:
  virtual ~LineRecordReader() = default;
  // The runs whose local time is in the span, in the order of their local time (then of their
  // row id), oldest or newest first.
  virtual Status ForEachRun(const LocalSpan& span, RunOrder order, const RunVisitor& each) = 0;
  // The runs before `before` (local time) of the given units (Row keys match nothing); each
  // unit's runs come oldest first.
  virtual Status ForEachEarlierRun(const std::vector<UnitKey>& units, const std::string& before,
                                   const RunVisitor& each) = 0;
  // The latest run (highest row id) of each station that has a run at or after `from`.
  virtual Result<std::vector<RecordRow>> LatestRunPerStation(const std::string& from) = 0;
  // A sentence for whoever started the reader when the record lacks what keeps these queries
  // fast (an index a station adds at its next start); empty when nothing is missing.
  virtual Phrase SlowRecordNote() = 0;
};

// Opens the record named on the command line to read it (never to write): a file path is the
// local SQLite record, a postgresql:// URI the line's record in the fleet database.
Result<std::unique_ptr<LineRecordReader>> OpenLineRecord(const std::string& where);
// The fleet database's units, in a session that writes nothing whatever the user may do.
Result<std::unique_ptr<LineRecordReader>> OpenFleetLineRecord(const std::string& url);

}  // namespace korvel
