#include "Db.h"

#include <cctype>

#include "Next.h"
#include "production/FleetRecords.h"
#include "production/FleetSchema.h"

namespace korvel {

std::optional<int64_t> ParseDuration(const std::string& text) {
  if (text.empty()) return std::nullopt;
  size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  if (digits == 0 || digits > 9 || text.size() - digits > 1) return std::nullopt;
  const int64_t n = std::stoll(text.substr(0, digits));
  const char unit = digits < text.size() ? text[digits] : 's';
  const int64_t scale = unit == 's'   ? 1
                        : unit == 'm' ? 60
                        : unit == 'h' ? 3600
                        : unit == 'd' ? 86400
                                      : 0;
  if (scale == 0 || n == 0) return std::nullopt;
  return n * scale;
}

namespace {
int Connect(PgSession& db, const std::string& url, std::ostream& err) {
  if (const Phrase problem = FleetUrlProblem(url); !problem.empty()) {
    err << "korvel-rf: " << problem << "\n";
    return kExitUsage;
  }
  if (const Status connected = db.Connect(url); !connected) {
    err << "korvel-rf: " << connected.failure << "\n";
    return kExitFleet;
  }
  return kExitDone;
}
}  // namespace

int RunDb(const DbOptions& options, std::ostream& out, std::ostream& err) {
  PgSession db;
  if (const int connected = Connect(db, options.url, err); connected != kExitDone) return connected;
  if (options.verb == "init") {
    const Result<FleetInitReport> done =
        InitFleetDatabase(db, FleetInitOptions{options.leaseExpirySeconds});
    if (!done) {
      err << "korvel-rf: " << done.status.failure << "\n";
      return kExitFleet;
    }
    out << "fleet database: schema version " << done->fromVersion << " -> " << done->toVersion
        << "; roles " << kFleetStationRole << " (lease, insert rows, read), " << kFleetReaderRole
        << " (read), " << kFleetAdminRole << " (change and delete)\n";
    return kExitDone;
  }
  if (const Result<FleetIdentity> schema = CheckFleetSchema(db); !schema) {
    err << "korvel-rf: " << schema.status.failure << "\n";
    return kExitFleet;
  }
  Status read = ForEachSeries(db, [&](const SeriesUsage& s) {
    out << "series " << s.key << " first=" << s.firstValue << " next=" << s.nextValue
        << " last=" << s.maxValue << " leased=" << s.leased << " holes=" << s.holes << "\n";
  });
  if (read)
    read = ForEachLease(db, options.station, [&](const LeaseUsage& l) {
      out << "lease " << l.id << " " << l.series << " station=" << l.station << " " << l.kind << " "
          << l.lo << ".." << l.hi << " size=" << l.size << " " << l.state << " used=" << l.used;
      if (const Phrase why = UnusedReason(l); !why.empty()) out << " unused=\"" << why << "\"";
      out << "\n";
    });
  if (!read) {
    err << "korvel-rf: " << read.failure << "\n";
    return kExitFleet;
  }
  return kExitDone;
}

}  // namespace korvel
