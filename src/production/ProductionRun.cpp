#include "production/ProductionRun.h"

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

bool IsRandomId(const GivenNumber& given, const Generators& g) {
  return (given.what == "RX link ID" && g.RxRFID.IsRandom()) ||
         (given.what == "TX link ID" && g.TxRFID.IsRandom());
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
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(file_.Target(), ec);
  return (ec ? file_.Target() : absolute).lexically_normal().string();
}

bool ProductionRun::OpenRecord(const std::filesystem::path& path, std::string& error) {
  std::error_code ec;
  recordPath_ = path.empty() ? file_.Target().parent_path() / kRecordFileName : path;
  // A folder (or a path ending in a separator) holds the record under its usual name.
  if (!recordPath_.has_filename() || std::filesystem::is_directory(recordPath_, ec))
    recordPath_ /= kRecordFileName;
  if (!record_.Open(recordPath_, error)) {
    recordError_ = error;
    return false;
  }
  if (file_.Claimed() && record_.CloseInterrupted(station_, SettingsFileName(), error) < 0) {
    recordError_ = error;
    record_.Close();
    return false;
  }
  recordError_.clear();
  return true;
}

bool ProductionRun::CountToday(int& pass, int& fail) {
  std::string error;
  return record_.IsOpen() && record_.CountToday(station_, SettingsFileName(), pass, fail, error);
}

RunResult ProductionRun::Refuse(std::string why) {
  RunResult result;
  result.stage = RunStage::Refused;
  result.failedStep = std::move(why);
  return result;
}

std::string ProductionRun::DrawFresh(const Settings& settings, UnitNumbers& unit) {
  std::string error;
  for (int draw = 0; draw < kRandomDraws; ++draw) {
    unit = ledger_.Draw();
    const RecordNumbers numbers = ToRecordNumbers(unit);
    const auto given = record_.FindGiven(numbers, error);
    if (!error.empty()) return error;
    if (!given) return {};
    // A random ID that came up again is drawn anew.
    if (IsRandomId(*given, ledger_.Gen())) continue;
    // The record took the last unit but TX.ini did not (the station was stopped between the
    // two): finish that commit and go on from there.
    const auto last = record_.LastGiven(station_, SettingsFileName(), error);
    if (!error.empty()) return error;
    if (last && last->id == given->row.id &&
        SameSequenceNumbers(numbers, last->numbers, ledger_.Gen())) {
      ledger_.Commit(unit);
      if (file_.Write(settings, &ledger_, false, error) != WriteResult::Written)
        return "serial numbers and IDs not saved to TX.ini: " + error;
      continue;
    }
    return given->what + " " + given->value + " was already given to a unit on " +
           given->row.timeLocal + " (record row " + std::to_string(given->row.id) + ", station " +
           given->row.station +
           "): the numbering has come round to numbers already used. Check "
           "the serial-number and link-ID ranges (start values, fixed part, byte counts) and set "
           "a new range.";
  }
  return "no unused random link ID in " + std::to_string(kRandomDraws) + " draws";
}

RunResult ProductionRun::Run(const Settings& settings, RunObserver& observer) {
  // Nothing below touches a device until every check has passed.
  if (const std::string problem = file_.Problem(); !problem.empty())
    return Refuse("settings file: " + problem);
  if (const std::string problem = ledger_.BlockingProblem(); !problem.empty())
    return Refuse(problem + ". Set this generator again in the serial-number panel.");
  if (!record_.IsOpen()) {
    std::string error;
    if (!OpenRecord(recordPath_, error)) return Refuse(recordError_);
  }
  // One unsaved unit at most: with more, a restart would find numbers given ahead of the file.
  if (unsaved_) {
    std::string error;
    if (file_.Write(settings, &ledger_, false, error) != WriteResult::Written)
      return Refuse(
          "the last passed unit's serial numbers and IDs are still not saved to TX.ini: " + error);
    unsaved_ = false;
  }
  UnitNumbers unit;
  if (const std::string why = DrawFresh(settings, unit); !why.empty()) return Refuse(why);
  RecordRow row;
  row.station = station_;
  row.settingsFile = SettingsFileName();
  row.numbers = ToRecordNumbers(unit);
  row.rxVid = link_.State().ActiveVid;
  row.rxPid = link_.State().ActivePid;
  row.rxVersion = int(link_.State().RxVersion);
  row.settingsHash = SettingsFingerprint(settings);
  std::string error;
  const auto id = record_.Begin(row, error);
  if (!id) return Refuse(error);

  const uint64_t start = host_.TickCount();
  RunResult result = programmer_.Run(settings, unit, observer);
  const int64_t ms = int64_t(host_.TickCount() - start);
  if (!result.pass) {
    if (!record_.Finish(*id, "FAIL", result.failedStep, ms, false, error))
      result.failedStep += "; " + error;
    return result;
  }
  if (!record_.Finish(*id, "PASS", "", ms, true, error)) {
    // Nothing is committed: the next attempt offers the same numbers again.
    result.pass = false;
    result.stage = RunStage::Recorded;
    // Another station sharing the record may have given a number meanwhile: say which.
    std::string ignored;
    if (const auto given = record_.FindGiven(row.numbers, ignored))
      error = given->what + " " + given->value +
              " was given to another unit meanwhile (record row " + std::to_string(given->row.id) +
              ", station " + given->row.station + ")";
    result.failedStep = "the production record did not take the unit: " + error;
    record_.Finish(*id, "FAIL", result.failedStep, ms, false, ignored);
    return result;
  }
  ledger_.Commit(unit);
  if (file_.Write(settings, &ledger_, false, error) != WriteResult::Written) {
    // The record keeps the numbers given: a restart on the old file stops instead of
    // repeating them.
    result.pass = false;
    result.stage = RunStage::Saved;
    result.failedStep = "serial numbers and IDs not saved to TX.ini: " + error;
    unsaved_ = true;
    std::string ignored;
    record_.Finish(*id, "FAIL", result.failedStep, ms, true, ignored);
  }
  return result;
}

}  // namespace korvel
