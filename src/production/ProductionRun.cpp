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
bool SameSequenceNumbers(const RecordNumbers& drawn, const RecordNumbers& last,
                         const Generators& g) {
  bool any = false;
  auto same = [&any](const std::string& a, const std::string& b) {
    any |= !a.empty();
    return a == b;
  };
  return same(drawn.rxSerial, last.rxSerial) && same(drawn.txSerial, last.txSerial) &&
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
  return {SerialKey(unit.rxSerialOn, unit.rxSerial), SerialKey(unit.txSerialOn, unit.txSerial),
          HexText(unit.rxId, 6), HexText(unit.txId, 6)};
}

ProductionRun::ProductionRun(NumberingLedger& ledger, UnitProgrammer& programmer,
                             SettingsFile& file, RxLink& link, Host& host)
    : ledger_(ledger),
      programmer_(programmer),
      file_(file),
      link_(link),
      host_(host),
      station_(HostName()) {}

std::string ProductionRun::SettingsFileName() const {
  return korvel::SettingsFileName(file_);
}

bool ProductionRun::OpenRecord(const std::filesystem::path& path, Phrase& error) {
  recordSetting_ = path;
  recordPath_ = ResolveRecordPath(path, file_.Target().parent_path());
  if (!record_.Open(recordPath_, error)) {
    recordError_ = error;
    return false;
  }
  if (file_.Claimed()) {
    if (record_.CloseInterrupted(station_, SettingsFileName(), error) < 0) {
      recordError_ = error;
      record_.Close();
      return false;
    }
    Reconcile();
  }
  recordError_ = {};
  return true;
}

std::vector<Phrase> ProductionRun::TakeNotices() {
  return std::exchange(notices_, {});
}

void ProductionRun::Reconcile() {
  Phrase error;
  const auto last = record_.LastGiven(station_, SettingsFileName(), error);
  if (!last || last->result != "PASS") return;
  const Generators& g = ledger_.Gen();
  const RecordNumbers next = ToRecordNumbers(ledger_.Draw());
  RecordNumbers recorded = last->numbers;
  RecordNumbers drawn = next;
  recorded.rxSerial = WithoutDate(recorded.rxSerial, g.RxSN.IsDate());
  recorded.txSerial = WithoutDate(recorded.txSerial, g.TxSN.IsDate());
  drawn.rxSerial = WithoutDate(drawn.rxSerial, g.RxSN.IsDate());
  drawn.txSerial = WithoutDate(drawn.txSerial, g.TxSN.IsDate());
  if (!SameSequenceNumbers(drawn, recorded, g)) return;
  const std::string step =
      "serial numbers and IDs not saved to TX.ini (found when the station started again)";
  if (!record_.Finish(last->id, "FAIL", step, last->ms, true, error)) {
    notices_.push_back(
        Say("Record row {0} says PASS for a unit whose numbers TX.ini never took, "
            "and the record cannot be corrected: {1}",
            last->id, error));
    return;
  }
  const std::string serial = !last->numbers.rxSerial.empty()   ? last->numbers.rxSerial
                             : !last->numbers.txSerial.empty() ? last->numbers.txSerial
                                                               : last->numbers.rxId;
  notices_.push_back(
      Say("The unit of record row {0} ({1}, {2}) was recorded as PASS, but TX.ini never took "
          "its serial numbers and IDs, so PASS was never shown for it. Its row now says FAIL: "
          "do not ship that unit. Its numbers stay given.",
          last->id, serial, last->timeLocal));
}

bool ProductionRun::CountToday(int& pass, int& fail) {
  Phrase error;
  return record_.IsOpen() && record_.CountToday(station_, SettingsFileName(), pass, fail, error);
}

RunResult ProductionRun::Refuse(Phrase why) {
  RunResult result;
  result.stage = RunStage::Refused;
  result.failedStep = std::move(why);
  return result;
}

Phrase DrawUnused(NumberingLedger& ledger, ProductionRecord& record, const std::string& station,
                  const std::string& settingsFile, UnitNumbers& unit,
                  const std::function<Phrase(const GivenNumber&)>& passOver) {
  Phrase error;
  for (int draw = 0; draw < kRandomDraws; ++draw) {
    unit = ledger.Draw();
    const RecordNumbers numbers = ToRecordNumbers(unit);
    const auto given = record.FindGiven(numbers, error);
    if (!error.empty()) return error;
    if (!given) return {};
    // A random ID that came up again is drawn anew.
    if (IsRandomId(*given, ledger.Gen())) continue;
    // The record took the last unit but TX.ini did not (the station was stopped between the
    // two): finish that commit and go on from there.
    const auto last = record.LastGiven(station, settingsFile, error);
    if (!error.empty()) return error;
    if (last && last->id == given->row.id &&
        SameSequenceNumbers(numbers, last->numbers, ledger.Gen())) {
      ledger.Commit(unit);
      if (Phrase why = passOver(*given); !why.empty()) return why;
      continue;
    }
    return Say(
        "{0} {1} was already given to a unit on {2} (record row {3}, station {4}): the "
        "numbering has come round to numbers already used. Check the serial-number and link-ID "
        "ranges (start values, fixed part, byte counts) and set a new range.",
        given->what, given->value, given->row.timeLocal, given->row.id, given->row.station);
  }
  return Say("no unused random link ID in {0} draws", kRandomDraws);
}

Phrase ProductionRun::DrawFresh(const Settings& settings, UnitNumbers& unit) {
  return DrawUnused(ledger_, record_, station_, SettingsFileName(), unit, [&](const GivenNumber&) {
    Phrase error;
    if (file_.Write(settings, &ledger_, false, error) != WriteResult::Written)
      return Say("serial numbers and IDs not saved to TX.ini: {0}", error);
    return Phrase();
  });
}

std::string SettingsFileName(const SettingsFile& file) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(file.Target(), ec);
  return (ec ? file.Target() : absolute).lexically_normal().string();
}

Phrase ProductionRun::CloseAsFailed(int64_t id, const std::string& step, int64_t ms, bool given) {
  Phrase error;
  if (record_.Finish(id, "FAIL", step, ms, given, error)) return {};
  pendingCorrection_ = Correction{id, step, ms, given};
  return error;
}

Phrase ProductionRun::SettleRecord() {
  if (!pendingCorrection_ || !record_.IsOpen()) return {};
  const Correction c = *std::exchange(pendingCorrection_, std::nullopt);
  return CloseAsFailed(c.id, c.step, c.ms, c.given);
}

RunResult ProductionRun::Run(const Settings& settings, RunObserver& observer) {
  // Nothing below touches a device until every check has passed.
  if (const Phrase problem = file_.Problem(); !problem.empty())
    return Refuse(Say("settings file: {0}", problem));
  if (const Phrase problem = ledger_.BlockingProblem(); !problem.empty())
    return Refuse(Say("{0}. Set this generator again in the serial-number panel.", problem));
  // Before the numbering and the record: a unit refused for its name uses no numbers.
  if (Phrase problem = ProductNameBytes(settings.PName).problem; !problem.empty())
    return Refuse(std::move(problem));
  if (!record_.IsOpen()) {
    Phrase error;
    if (!OpenRecord(recordSetting_, error)) return Refuse(recordError_);
  }
  // A failed unit whose row could not say so is put right before anything else is written.
  if (const Phrase error = SettleRecord(); !error.empty())
    return Refuse(
        Say("the production record does not yet say that the last unit failed, and "
            "cannot be corrected: {0}",
            error));
  // One unsaved unit at most: with more, a restart would find numbers given ahead of the file.
  if (unsaved_) {
    Phrase error;
    if (file_.Write(settings, &ledger_, false, error) != WriteResult::Written)
      return Refuse(
          Say("the last passed unit's serial numbers and IDs are still not saved to TX.ini: {0}",
              error));
    unsaved_ = false;
  }
  UnitNumbers unit;
  if (const Phrase why = DrawFresh(settings, unit); !why.empty()) return Refuse(why);
  RecordRow row;
  row.station = station_;
  row.settingsFile = SettingsFileName();
  row.numbers = ToRecordNumbers(unit);
  row.rxVid = link_.State().ActiveVid;
  row.rxPid = link_.State().ActivePid;
  row.rxVersion = int(link_.State().RxVersion);
  row.settingsHash = SettingsFingerprint(settings);
  Phrase error;
  const auto id = record_.Begin(row, error);
  if (!id) return Refuse(error);

  const uint64_t start = host_.TickCount();
  RunResult result = programmer_.Run(settings, unit, observer);
  const int64_t ms = int64_t(host_.TickCount() - start);
  if (!result.pass) {
    if (const Phrase why = CloseAsFailed(*id, result.failedStep.English(), ms, false); !why.empty())
      result.failedStep = Say("{0}; {1}", result.failedStep, why);
    return result;
  }
  if (!record_.Finish(*id, "PASS", "", ms, true, error)) {
    // Nothing is committed: the next attempt offers the same numbers again.
    result.pass = false;
    result.stage = RunStage::Recorded;
    // Another station sharing the record may have given a number meanwhile: say which.
    Phrase ignored;
    if (const auto given = record_.FindGiven(row.numbers, ignored))
      error = Say("{0} {1} was given to another unit meanwhile (record row {2}, station {3})",
                  given->what, given->value, given->row.id, given->row.station);
    result.failedStep = Say("the production record did not take the unit: {0}", error);
    CloseAsFailed(*id, result.failedStep.English(), ms, false);
    return result;
  }
  ledger_.Commit(unit);
  if (file_.Write(settings, &ledger_, false, error) != WriteResult::Written) {
    // The record keeps the numbers given: a restart on the old file stops instead of
    // repeating them.
    result.pass = false;
    result.stage = RunStage::Saved;
    result.failedStep = Say("serial numbers and IDs not saved to TX.ini: {0}", error);
    unsaved_ = true;
    // The row follows the screen: FAIL, the numbers still given.
    if (const Phrase why = CloseAsFailed(*id, result.failedStep.English(), ms, true); !why.empty())
      result.failedStep =
          Say("{0}; the production record still says PASS for it and could not "
              "be corrected: {1}",
              result.failedStep, why);
  }
  return result;
}

}  // namespace korvel
