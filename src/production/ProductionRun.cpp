#include "production/ProductionRun.h"

#include <utility>

#include "platform/FileLock.h"
#include "platform/Text.h"

namespace korvel {

namespace {
std::string SerialKey(bool on, const std::array<uint8_t, 6>& bytes) {
  if (!on) return {};
  std::string text;
  for (uint8_t b : bytes) text += HexText(b, 2);
  return text;
}

// Numbers that come from a sequence: a crash after the record took them can leave the file
// one unit behind, and the same numbers are drawn again.
// A batch code is the same for every unit: it tells nothing of which unit it was.
bool SameSequenceNumbers(const RecordNumbers& drawn, const RecordNumbers& last,
                         const Generators& g) {
  bool any = false;
  auto same = [&any](const std::string& a, const std::string& b, bool shared = false) {
    if (shared) return true;
    any |= !a.empty();
    return a == b;
  };
  return same(drawn.rxSerial, last.rxSerial, drawn.rxSerialShared) &&
         same(drawn.txSerial, last.txSerial, drawn.txSerialShared) &&
         (g.RxRFID.IsRandom() || same(drawn.rxId, last.rxId)) &&
         (g.TxRFID.IsRandom() || same(drawn.txId, last.txId)) && any;
}

// The serial without its date word: a unit recorded yesterday is matched against today's
// draw by its fixed and incrementing parts.
std::string WithoutDate(const std::string& serial, bool dated) {
  return dated && serial.size() > 4 ? serial.substr(4) : serial;
}

bool IsRandomId(const GivenNumber& given, const Generators& g) {
  return (given.kind == NumberKind::RxLinkId && g.RxRFID.IsRandom()) ||
         (given.kind == NumberKind::TxLinkId && g.TxRFID.IsRandom());
}

constexpr int kRandomDraws = 16;
}  // namespace

RecordNumbers ToRecordNumbers(const UnitNumbers& unit) {
  return {SerialKey(unit.rxSerialOn, unit.rxSerial),
          SerialKey(unit.txSerialOn, unit.txSerial),
          HexText(unit.rxId, 6),
          HexText(unit.txId, 6),
          unit.rxSerialShared,
          unit.txSerialShared};
}

ProductionRun::ProductionRun(NumberingLedger& ledger, UnitProgrammer& programmer,
                             SettingsFile& file, RxLink& link, Host& host)
    : ledger_(ledger),
      programmer_(programmer),
      file_(file),
      link_(link),
      host_(host),
      station_(HostName()),
      fleet_(host, record_) {}

std::string ProductionRun::SettingsFileName() const {
  return korvel::SettingsFileName(file_);
}

Status ProductionRun::OpenRecord(const std::filesystem::path& path) {
  recordSetting_ = path;
  recordPath_ = ResolveRecordPath(path, file_.Target().parent_path());
  recordError_ = record_.Open(recordPath_);
  if (!recordError_) return recordError_;
  if (file_.Claimed()) {
    const Result<int> closed = record_.CloseInterrupted(station_, SettingsFileName());
    if (!closed) {
      recordError_ = closed.status;
      record_.Close();
      return recordError_;
    }
    Reconcile();
  }
  // The record is open whatever the fleet database's link says: Go says why it stops.
  (void)OpenFleet();
  return {};
}

void ProductionRun::SetFleet(FleetConfig config) {
  fleetWanted_ = std::move(config);
}

Status ProductionRun::OpenFleet() {
  if (fleetWanted_.url.empty()) {
    fleet_.Close();
    fleetError_ = {};
    return {};
  }
  FleetConfig config = fleetWanted_;
  // Two stations on one PC are told apart by their folders.
  if (config.station.empty()) {
    std::error_code ec;
    const std::filesystem::path folder =
        std::filesystem::absolute(file_.Target(), ec).parent_path();
    config.station = HostName() + ":" + folder.lexically_normal().string();
  }
  if (fleet_.IsOpen() && fleet_.Config() == config && fleetError_) return {};
  fleetError_ = fleet_.Open(config);
  return fleetError_;
}

FleetStatus ProductionRun::Fleet() const {
  FleetStatus status = fleet_.StatusFor(ledger_.Gen());
  if (!fleetWanted_.url.empty() && !fleet_.IsOpen()) {
    status.configured = true;
    status.online = false;
    status.why = !fleetError_ ? fleetError_.failure : recordError_.failure;
  }
  return status;
}

std::vector<Phrase> ProductionRun::TakeNotices() {
  return std::exchange(notices_, {});
}

namespace {
// Whether TX.ini took a fleet unit's numbers: each sequence generator stands on them.
bool IniTookNumbers(const OutboxRow& queued, const Generators& g) {
  const auto& n = queued.numbers;
  const size_t rxSn = size_t(NumberKind::RxSerial), txSn = size_t(NumberKind::TxSerial);
  const size_t rxId = size_t(NumberKind::RxLinkId), txId = size_t(NumberKind::TxLinkId);
  return (n[rxSn].value < 0 || g.RxSN.IncCurrentSN() == n[rxSn].value) &&
         (n[txSn].value < 0 || g.TxSN.IncCurrentSN() == n[txSn].value) &&
         (g.RxRFID.IsRandom() || n[rxId].value < 0 || g.RxRFID.IncCurrentRFID() == n[rxId].value) &&
         (g.TxRFID.IsRandom() || n[txId].value < 0 || g.TxRFID.IncCurrentRFID() == n[txId].value);
}
}  // namespace

void ProductionRun::Reconcile() {
  const Result<std::optional<RecordRow>> found = record_.LastGiven(station_, SettingsFileName());
  if (!found || !*found || (*found)->result != "PASS") return;
  const RecordRow& last = **found;
  const Generators& g = ledger_.Gen();
  bool untaken = false;
  const Result<std::optional<OutboxRow>> queued = record_.Queued(last.id);
  if (queued && *queued) {
    // A unit numbered by the fleet database: its numbers need not follow the last ones in
    // TX.ini (a new block), so the generators are asked whether they stand on them.
    if ((*queued)->ready) return;
    untaken = !IniTookNumbers(**queued, g);
    // TX.ini took it and the station stopped before the row was marked final.
    if (!untaken) {
      if (const Status ready = record_.MarkReady(last.id); !ready) pendingReady_ = last.id;
      return;
    }
  } else {
    RecordNumbers recorded = last.numbers;
    RecordNumbers drawn = ToRecordNumbers(ledger_.Draw());
    recorded.rxSerial = WithoutDate(recorded.rxSerial, g.RxSN.IsDate());
    recorded.txSerial = WithoutDate(recorded.txSerial, g.TxSN.IsDate());
    drawn.rxSerial = WithoutDate(drawn.rxSerial, g.RxSN.IsDate());
    drawn.txSerial = WithoutDate(drawn.txSerial, g.TxSN.IsDate());
    untaken = SameSequenceNumbers(drawn, recorded, g);
  }
  if (!untaken) return;
  const std::string step =
      "serial numbers and IDs not saved to TX.ini (found when the station started again)";
  if (const Status corrected = record_.Finish(last.id, "FAIL", step, last.ms, true); !corrected) {
    notices_.push_back(
        Say("Record row {0} says PASS for a unit whose numbers TX.ini never took, "
            "and the record cannot be corrected: {1}",
            last.id, corrected.failure));
    return;
  }
  const std::string serial = !last.numbers.rxSerial.empty()   ? last.numbers.rxSerial
                             : !last.numbers.txSerial.empty() ? last.numbers.txSerial
                                                              : last.numbers.rxId;
  notices_.push_back(
      Say("The unit of record row {0} ({1}, {2}) was recorded as PASS, but TX.ini never took "
          "its serial numbers and IDs, so PASS was never shown for it. Its row now says FAIL: "
          "do not ship that unit. Its numbers stay given.",
          last.id, serial, last.timeLocal));
}

Result<DayCounts> ProductionRun::CountToday() {
  if (!record_.IsOpen()) return recordError_;
  return record_.CountToday(station_, SettingsFileName());
}

RunResult ProductionRun::Refuse(const Status& why) {
  RunResult result;
  result.stage = RunStage::Refused;
  result.failedStep = why.failure;
  return result;
}

Status DrawUnused(NumberingLedger& ledger, ProductionRecord& record, const std::string& station,
                  const std::string& settingsFile, UnitNumbers& unit,
                  const std::function<Status(const GivenNumber&)>& passOver) {
  for (int draw = 0; draw < kRandomDraws; ++draw) {
    unit = ledger.Draw();
    const RecordNumbers numbers = ToRecordNumbers(unit);
    const Result<std::optional<GivenNumber>> found = record.FindGiven(numbers);
    if (!found) return found.status;
    if (!*found) return {};
    const GivenNumber& given = **found;
    // A random ID that came up again is drawn anew.
    if (IsRandomId(given, ledger.Gen())) continue;
    // The record took the last unit but TX.ini did not (the station was stopped between the
    // two): finish that commit and go on from there.
    const Result<std::optional<RecordRow>> last = record.LastGiven(station, settingsFile);
    if (!last) return last.status;
    if (*last && (*last)->id == given.row.id &&
        SameSequenceNumbers(numbers, (*last)->numbers, ledger.Gen())) {
      ledger.Commit(unit);
      // Only when the numbering moved past them: passing over must never go round in circles.
      if (!SameSequenceNumbers(ToRecordNumbers(ledger.Draw()), numbers, ledger.Gen())) {
        if (Status passed = passOver(given); !passed) return passed;
        continue;
      }
    }
    return Status::Failed(
        Say("{0} {1} was already given to a unit on {2} (record row {3}, station {4}): the "
            "numbering has come round to numbers already used. Check the serial-number and link-ID "
            "ranges (start values, fixed part, byte counts) and set a new range.",
            given.what, given.value, given.row.timeLocal, given.row.id, given.row.station));
  }
  return Status::Failed(Say("no unused random link ID in {0} draws", kRandomDraws));
}

Status ProductionRun::DrawFresh(const Settings& settings, UnitNumbers& unit) {
  return DrawUnused(ledger_, record_, station_, SettingsFileName(), unit, [&](const GivenNumber&) {
    const Result<WriteResult> saved = file_.Write(settings, &ledger_, false);
    if (!saved)
      return Status::Failed(
          Say("serial numbers and IDs not saved to TX.ini: {0}", saved.status.failure),
          saved.status.osError);
    return Status();
  });
}

Status ProductionRun::DrawFromFleet(UnitNumbers& unit, FleetDraw& draw) {
  for (int draws = 0; draws < kRandomDraws; ++draws) {
    if (Status drawn = fleet_.Draw(ledger_, unit, draw); !drawn) return drawn;
    const Result<std::optional<GivenNumber>> found = record_.FindGiven(ToRecordNumbers(unit));
    if (!found) return found.status;
    if (!*found) return {};
    // Given here before this station numbered through the database: never again.
    if (Status passed = fleet_.PassOver((*found)->kind, draw); !passed) return passed;
  }
  return Status::Failed(
      Say("the fleet database's numbers were all given already in this record ({0} draws)",
          kRandomDraws));
}

std::string SettingsFileName(const SettingsFile& file) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(file.Target(), ec);
  return (ec ? file.Target() : absolute).lexically_normal().string();
}

Status ProductionRun::CloseAsFailed(int64_t id, const std::string& step, int64_t ms, bool given) {
  Status closed = record_.Finish(id, "FAIL", step, ms, given);
  if (!closed) pendingCorrection_ = Correction{id, step, ms, given};
  return closed;
}

Status ProductionRun::SettleRecord() {
  if (!pendingCorrection_ || !record_.IsOpen()) return {};
  const Correction c = *std::exchange(pendingCorrection_, std::nullopt);
  return CloseAsFailed(c.id, c.step, c.ms, c.given);
}

RunResult ProductionRun::Run(const Settings& settings, RunObserver& observer) {
  // Nothing below touches a device until every check has passed.
  if (const Phrase problem = file_.Problem(); !problem.empty())
    return Refuse(Status::Failed(Say("settings file: {0}", problem)));
  if (const Phrase problem = ledger_.BlockingProblem(); !problem.empty())
    return Refuse(
        Status::Failed(Say("{0}. Set this generator again in the serial-number panel.", problem)));
  // Before the numbering and the record: a unit refused for its name uses no numbers.
  if (Phrase problem = ProductNameBytes(settings.PName).problem; !problem.empty())
    return Refuse(Status::Failed(std::move(problem)));
  if (!record_.IsOpen() && !OpenRecord(recordSetting_)) return Refuse(recordError_);
  if (const Status fleet = OpenFleet(); !fleet) return Refuse(fleet);
  // A failed unit whose row could not say so is put right before anything else is written.
  if (const Status settled = SettleRecord(); !settled)
    return Refuse(Status::Failed(
        Say("the production record does not yet say that the last unit failed, and cannot be "
            "corrected: {0}",
            settled.failure)));
  // One unsaved unit at most: with more, a restart would find numbers given ahead of the file.
  if (unsaved_) {
    const Result<WriteResult> saved = file_.Write(settings, &ledger_, false);
    if (!saved)
      return Refuse(Status::Failed(
          Say("the last passed unit's serial numbers and IDs are still not saved to TX.ini: {0}",
              saved.status.failure)));
    unsaved_ = false;
  }
  if (pendingReady_) {
    if (const Status ready = record_.MarkReady(*pendingReady_); !ready) return Refuse(ready);
    pendingReady_.reset();
  }
  const bool fleet = fleet_.IsOpen();
  UnitNumbers unit;
  FleetDraw draw;
  if (const Status drawn = fleet ? DrawFromFleet(unit, draw) : DrawFresh(settings, unit); !drawn)
    return Refuse(drawn);
  RecordRow row;
  row.station = station_;
  row.settingsFile = SettingsFileName();
  row.numbers = ToRecordNumbers(unit);
  row.rxVid = link_.State().ActiveVid;
  row.rxPid = link_.State().ActivePid;
  row.rxVersion = int(link_.State().RxVersion);
  row.settingsHash = SettingsFingerprint(settings);
  row.settingsKeys = SettingsKeys(settings);
  const OutboxEntry entry = fleet_.Entry(draw);
  const Result<int64_t> id = record_.Begin(row, fleet ? &entry : nullptr);
  if (!id) return Refuse(id.status);

  // The device run's own time: the record's writes and any dialog are not part of it.
  const uint64_t start = host_.TickCount();
  RunResult result = programmer_.Run(settings, unit, observer);
  result.ms = host_.TickCount() - start;
  const int64_t ms = int64_t(result.ms);
  if (!result.pass) {
    if (const Status closed = CloseAsFailed(*id, result.failedStep.English(), ms, false); !closed)
      result.failedStep = Say("{0}; {1}", result.failedStep, closed.failure);
    if (fleet) fleet_.Kick();
    return result;
  }
  // The unit's numbers leave the station's leases with the row's PASS, in one transaction.
  if (const Status recorded = record_.Finish(
          *id, "PASS", "", ms, true, [&] { return fleet ? fleet_.Consume(draw) : Status(); });
      !recorded) {
    // Nothing is committed: the next attempt offers the same numbers again.
    result.pass = false;
    result.stage = RunStage::Recorded;
    Phrase why = recorded.failure;
    // Another station sharing the record may have given a number meanwhile: say which.
    if (const Result<std::optional<GivenNumber>> given = record_.FindGiven(row.numbers);
        given && *given)
      why = Say("{0} {1} was given to another unit meanwhile (record row {2}, station {3})",
                (*given)->what, (*given)->value, (*given)->row.id, (*given)->row.station);
    result.failedStep = Say("the production record did not take the unit: {0}", why);
    // What the record says of it is put right later if it cannot be now.
    (void)CloseAsFailed(*id, result.failedStep.English(), ms, false);
    if (fleet) fleet_.Kick();
    return result;
  }
  if (fleet) fleet_.Consumed(draw);
  ledger_.Commit(unit);
  if (const Result<WriteResult> saved = file_.Write(settings, &ledger_, false); !saved) {
    // The record keeps the numbers given: a restart on the old file stops instead of
    // repeating them.
    result.pass = false;
    result.stage = RunStage::Saved;
    result.failedStep =
        Say("serial numbers and IDs not saved to TX.ini: {0}", saved.status.failure);
    unsaved_ = true;
    // The row follows the screen: FAIL, the numbers still given.
    if (const Status closed = CloseAsFailed(*id, result.failedStep.English(), ms, true); !closed)
      result.failedStep =
          Say("{0}; the production record still says PASS for it and could not "
              "be corrected: {1}",
              result.failedStep, closed.failure);
  } else if (fleet && !record_.MarkReady(*id, false)) {
    // Safe here already; the row goes to the database once the record takes the mark.
    pendingReady_ = *id;
  }
  if (fleet) fleet_.Kick();
  return result;
}

}  // namespace korvel
