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
  if (!record.OpenToRead(ResolveRecordPath(options.db, {}), error)) {
    err << "korvel-rf: " << error << "\n";
    return kExitRecord;
  }
  if (!options.csv) {
    const bool read = record.ForEachRow(
        options.since,
        [&out](const RecordRow& r) {
          out << r.id << " " << r.timeLocal << " " << r.station << " " << r.result << " ms=" << r.ms
              << " rxsn=" << Or(r.numbers.rxSerial) << " txsn=" << Or(r.numbers.txSerial)
              << " rxid=" << Or(r.numbers.rxId) << " txid=" << Or(r.numbers.txId);
          if (!r.failedStep.empty()) out << " reason=\"" << r.failedStep << "\"";
          out << "\n";
          return true;
        },
        error);
    if (!read) {
      err << "korvel-rf: " << error << "\n";
      return kExitRecord;
    }
    return kExitDone;
  }
  if (*options.csv == "-") {
    out << RecordCsvHeader();
    const bool read = record.ForEachRow(
        options.since,
        [&out](const RecordRow& r) {
          out << RecordCsvLine(r);
          return bool(out);
        },
        error);
    if (!read) {
      err << "korvel-rf: " << error << "\n";
      return kExitRecord;
    }
    return kExitDone;
  }
  // An export replaces an earlier export, never the record, a settings file or anything else,
  // and never writes through a link.
  const std::filesystem::path& path = *options.csv;
  if (const Phrase problem = ReplaceProblem(path, LinkPolicy::Refuse); !problem.empty()) {
    err << "korvel-rf: records: " << problem << "; not overwritten\n";
    return kExitUsage;
  }
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) {
    std::string ext = path.extension().string();
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext != ".csv") {
      err << "korvel-rf: records: " << path.string()
          << " exists and is not a .csv file; not overwritten\n";
      return kExitUsage;
    }
  }
  // Rows go to the file as they are read: memory stays flat however large the record.
  AtomicFileWriter file;
  std::string chunk = RecordCsvHeader();
  bool written = file.Open(path, LinkPolicy::Refuse, error);
  const bool read = written && record.ForEachRow(
                                   options.since,
                                   [&](const RecordRow& r) {
                                     chunk += RecordCsvLine(r);
                                     if (chunk.size() >= (1u << 16)) {
                                       written = file.Write(chunk, error);
                                       chunk.clear();
                                     }
                                     return written;
                                   },
                                   error);
  if (!read || !written || !file.Write(chunk, error) || !file.Commit(error)) {
    err << "korvel-rf: " << error << "\n";
    return kExitRecord;
  }
  return kExitDone;
}

}  // namespace korvel
