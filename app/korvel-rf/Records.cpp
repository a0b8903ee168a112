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
  if (const Status opened = record.OpenToRead(ResolveRecordPath(options.db, {})); !opened) {
    err << "korvel-rf: " << opened.failure << "\n";
    return kExitRecord;
  }
  if (!options.csv) {
    const Status read = record.ForEachRow(options.since, [&out](const RecordRow& r) {
      out << r.id << " " << r.timeLocal << " " << r.station << " " << r.result << " ms=" << r.ms
          << " rxsn=" << Or(r.numbers.rxSerial) << " txsn=" << Or(r.numbers.txSerial)
          << " rxid=" << Or(r.numbers.rxId) << " txid=" << Or(r.numbers.txId);
      if (!r.failedStep.empty()) out << " reason=\"" << r.failedStep << "\"";
      out << "\n";
      return true;
    });
    if (!read) {
      err << "korvel-rf: " << read.failure << "\n";
      return kExitRecord;
    }
    return kExitDone;
  }
  if (*options.csv == "-") {
    out << RecordCsvHeader();
    const Status read = record.ForEachRow(options.since, [&out](const RecordRow& r) {
      out << RecordCsvLine(r);
      return bool(out);
    });
    if (!read) {
      err << "korvel-rf: " << read.failure << "\n";
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
  Status written = file.Open(path, LinkPolicy::Refuse);
  if (written) {
    const Status read = record.ForEachRow(options.since, [&](const RecordRow& r) {
      chunk += RecordCsvLine(r);
      if (chunk.size() >= (1u << 16)) {
        written = file.Write(chunk);
        chunk.clear();
      }
      return written.Ok();
    });
    if (!read) written = read;
  }
  if (written) written = file.Write(chunk);
  if (written) written = file.Commit();
  if (!written) {
    err << "korvel-rf: " << written.failure << "\n";
    return kExitRecord;
  }
  return kExitDone;
}

}  // namespace korvel
