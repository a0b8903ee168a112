#include "Records.h"

#include <cctype>

#include "Next.h"
#include "platform/AtomicFile.h"
#include "production/ProductionRecord.h"

namespace korvel {

namespace {
std::string Or(const std::string& text) {
  return text.empty() ? "-" : text;
}
}  // namespace

int RunRecords(const RecordsOptions& options, std::ostream& out, std::ostream& err) {
  ProductionRecord record;
  Phrase error;
  std::vector<RecordRow> rows;
  if (!record.OpenToRead(options.db, error) || !record.Rows(options.since, rows, error)) {
    err << "korvel-rf: " << error << "\n";
    return kExitRecord;
  }
  if (!options.csv) {
    for (const RecordRow& r : rows) {
      out << r.id << " " << r.timeLocal << " " << r.station << " " << r.result << " ms=" << r.ms
          << " rxsn=" << Or(r.numbers.rxSerial) << " txsn=" << Or(r.numbers.txSerial)
          << " rxid=" << Or(r.numbers.rxId) << " txid=" << Or(r.numbers.txId);
      if (!r.failedStep.empty()) out << " reason=\"" << r.failedStep << "\"";
      out << "\n";
    }
    return kExitDone;
  }
  std::string csv = RecordCsvHeader();
  for (const RecordRow& r : rows) csv += RecordCsvLine(r);
  if (*options.csv == "-") {
    out << csv;
    return kExitDone;
  }
  // An export replaces an earlier export, never the record, a settings file or anything else.
  const std::filesystem::path target = WriteTarget(*options.csv);
  std::error_code ec;
  if (std::filesystem::exists(target, ec)) {
    std::string ext = target.extension().string();
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext != ".csv") {
      err << "korvel-rf: records: " << options.csv->string()
          << " exists and is not a .csv file; not overwritten\n";
      return kExitUsage;
    }
  }
  if (!WriteFileAtomically(*options.csv, csv, error)) {
    err << "korvel-rf: " << error << "\n";
    return kExitRecord;
  }
  return kExitDone;
}

}  // namespace korvel
