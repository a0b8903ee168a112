#include "Records.h"

#include <fstream>

#include "Next.h"
#include "production/ProductionRecord.h"

namespace korvel {

namespace {
std::string Or(const std::string& text) {
  return text.empty() ? "-" : text;
}
}  // namespace

int RunRecords(const RecordsOptions& options, std::ostream& out, std::ostream& err) {
  ProductionRecord record;
  std::string error;
  std::vector<RecordRow> rows;
  if (!record.Open(options.db, error, false) || !record.Rows(options.since, rows, error)) {
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
  std::ofstream file(*options.csv, std::ios::binary);
  file << csv;
  if (!file.flush()) {
    err << "korvel-rf: cannot write " << options.csv->string() << "\n";
    return kExitRecord;
  }
  return kExitDone;
}

}  // namespace korvel
