#include "Records.h"

#include <cctype>
#include <functional>

#include "Next.h"
#include "platform/AtomicFile.h"
#include "production/FleetDatabase.h"
#include "production/FleetRecords.h"
#include "production/FleetSchema.h"
#include "production/ProductionRecord.h"

namespace korvel {

namespace {
std::string Or(const std::string& text) {
  return text.empty() ? "-" : text;
}

void PrintRow(std::ostream& out, const RecordRow& r, const std::string& pc) {
  out << r.id << " " << r.timeLocal << " " << r.station << " " << r.result << " ms=" << r.ms
      << " rxsn=" << Or(r.numbers.rxSerial) << " txsn=" << Or(r.numbers.txSerial)
      << " rxid=" << Or(r.numbers.rxId) << " txid=" << Or(r.numbers.txId);
  if (!pc.empty()) out << " pc=" << pc;
  if (!r.failedStep.empty()) out << " reason=\"" << r.failedStep << "\"";
  out << "\n";
}

// The TX.ini keys of a unit, one a line, indented under it.
void PrintSettings(std::ostream& out, const std::string& fingerprint,
                   const std::optional<std::string>& keys) {
  if (!keys) {
    out << "  settings " << fingerprint << ": not kept in this record\n";
    return;
  }
  out << "  settings " << fingerprint << ":\n";
  std::string line;
  for (char c : *keys) {
    if (c == '\r') continue;
    if (c == '\n') {
      if (!line.empty()) out << "    " << line << "\n";
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) out << "    " << line << "\n";
}

using RowSource = std::function<Status(const std::function<bool(const std::string&)>& line)>;

// CSV to a file or the standard output, written as the rows are read.
int WriteCsv(const RecordsOptions& options, const std::string& header, const RowSource& rows,
             int readFailure, std::ostream& out, std::ostream& err) {
  if (*options.csv == "-") {
    out << header;
    const Status read = rows([&out](const std::string& line) {
      out << line;
      return bool(out);
    });
    if (!read) {
      err << "korvel-rf: " << read.failure << "\n";
      return readFailure;
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
  std::string chunk = header;
  Status written = file.Open(path, LinkPolicy::Refuse);
  Status read;
  if (written) {
    read = rows([&](const std::string& line) {
      chunk += line;
      if (chunk.size() >= (1u << 16)) {
        written = file.Write(chunk);
        chunk.clear();
      }
      return written.Ok();
    });
  }
  if (!read) {
    err << "korvel-rf: " << read.failure << "\n";
    return readFailure;
  }
  if (written) written = file.Write(chunk);
  if (written) written = file.Commit();
  if (!written) {
    err << "korvel-rf: " << written.failure << "\n";
    return kExitRecord;
  }
  return kExitDone;
}

int FleetRecords(const RecordsOptions& options, std::ostream& out, std::ostream& err) {
  const std::string url = options.db.string();
  if (const Phrase problem = FleetUrlProblem(url); !problem.empty()) {
    err << "korvel-rf: " << problem << "\n";
    return kExitUsage;
  }
  PgSession db;
  if (const Status connected = db.Connect(url); !connected) {
    err << "korvel-rf: " << connected.failure << "\n";
    return kExitFleet;
  }
  if (const Result<FleetIdentity> schema = CheckFleetSchema(db); !schema) {
    err << "korvel-rf: " << schema.status.failure << "\n";
    return kExitFleet;
  }
  const FleetRowFilter filter{options.since, options.station, options.serial};
  if (options.csv)
    return WriteCsv(
        options, FleetCsvHeader(),
        [&](const std::function<bool(const std::string&)>& line) {
          return ForEachFleetRow(db, filter,
                                 [&](const FleetRow& f) { return line(FleetCsvLine(f)); });
        },
        kExitFleet, out, err);
  std::vector<FleetRow> units;
  const Status read = ForEachFleetRow(db, filter, [&](const FleetRow& f) {
    if (!options.serial.empty()) {
      units.push_back(f);
      return true;
    }
    PrintRow(out, f.row, f.pc);
    return bool(out);
  });
  if (!read) {
    err << "korvel-rf: " << read.failure << "\n";
    return kExitFleet;
  }
  for (const FleetRow& f : units) {
    PrintRow(out, f.row, f.pc);
    const Result<std::optional<std::string>> keys = FleetSettingsKeys(db, f.row.settingsHash);
    if (!keys) {
      err << "korvel-rf: " << keys.status.failure << "\n";
      return kExitFleet;
    }
    PrintSettings(out, f.row.settingsHash, *keys);
  }
  if (!options.serial.empty() && units.empty()) {
    err << "korvel-rf: no unit with serial " << options.serial << " in the fleet database\n";
    return kExitRecord;
  }
  return kExitDone;
}
}  // namespace

std::string SerialKey(const std::string& typed) {
  std::string key;
  for (char c : typed) {
    if (c == '-' || c == ' ') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    key += char(std::toupper(static_cast<unsigned char>(c)));
  }
  return key.size() == 12 ? key : std::string();
}

int RunRecords(const RecordsOptions& options, std::ostream& out, std::ostream& err) {
  if (IsFleetUrl(options.db.string())) return FleetRecords(options, out, err);
  ProductionRecord record;
  if (const Status opened = record.OpenToRead(ResolveRecordPath(options.db, {})); !opened) {
    err << "korvel-rf: " << opened.failure << "\n";
    return kExitRecord;
  }
  if (!options.serial.empty()) {
    const Result<std::vector<RecordRow>> rows = record.RowsWithSerial(options.serial);
    if (!rows) {
      err << "korvel-rf: " << rows.status.failure << "\n";
      return kExitRecord;
    }
    for (const RecordRow& r : *rows) {
      if (!options.station.empty() && r.station != options.station) continue;
      PrintRow(out, r, "");
      const Result<std::optional<std::string>> keys = record.SettingsKeysOf(r.settingsHash);
      if (!keys) {
        err << "korvel-rf: " << keys.status.failure << "\n";
        return kExitRecord;
      }
      PrintSettings(out, r.settingsHash, *keys);
    }
    if (rows->empty()) {
      err << "korvel-rf: no unit with serial " << options.serial << " in " << record.Path().string()
          << "\n";
      return kExitRecord;
    }
    return kExitDone;
  }
  const auto wanted = [&options](const RecordRow& r) {
    return options.station.empty() || r.station == options.station;
  };
  if (options.csv)
    return WriteCsv(
        options, RecordCsvHeader(),
        [&](const std::function<bool(const std::string&)>& line) {
          return record.ForEachRow(options.since, [&](const RecordRow& r) {
            return !wanted(r) || line(RecordCsvLine(r));
          });
        },
        kExitRecord, out, err);
  const Status read = record.ForEachRow(options.since, [&](const RecordRow& r) {
    if (wanted(r)) PrintRow(out, r, "");
    return true;
  });
  if (!read) {
    err << "korvel-rf: " << read.failure << "\n";
    return kExitRecord;
  }
  return kExitDone;
}

}  // namespace korvel
