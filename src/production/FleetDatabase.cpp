#include "production/FleetDatabase.h"

#include <algorithm>
#include <cstdlib>

#ifdef KORVEL_WITH_LIBPQ
#include <libpq-fe.h>
#endif

namespace korvel {

namespace {
// libpq's messages end in a newline, may run over several lines (indented with tabs) and
// may say the same line twice: one line for the record, each thing said once.
[[maybe_unused]] std::string OneLine(const char* text) {
  std::vector<std::string> parts;
  std::string part;
  const auto flush = [&] {
    while (!part.empty() && part.back() == ' ') part.pop_back();
    if (!part.empty() && std::find(parts.begin(), parts.end(), part) == parts.end())
      parts.push_back(part);
    part.clear();
  };
  for (const char* c = text ? text : ""; *c; ++c) {
    if (*c == '\n' || *c == '\r') {
      flush();
    } else if (*c == '\t' || *c == ' ') {
      if (!part.empty()) part += ' ';
      while (c[1] == '\t' || c[1] == ' ') ++c;
    } else {
      part += *c;
    }
  }
  flush();
  std::string line;
  for (const std::string& p : parts) line += (line.empty() ? "" : "; ") + p;
  return line;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}
}  // namespace

bool IsFleetUrl(const std::string& text) {
  return StartsWith(text, "postgresql://") || StartsWith(text, "postgres://");
}

Phrase FleetUrlProblem(const std::string& url) {
  if (!IsFleetUrl(url)) return Say("{0} is not a fleet database URL (postgresql://...)", url);
  // user:password@ in the authority, or password= among the parameters.
  const size_t from = url.find("://") + 3;
  const size_t end = url.find_first_of("/?", from);
  const std::string authority = url.substr(from, end == std::string::npos ? end : end - from);
  const size_t at = authority.rfind('@');
  const bool inAuthority =
      at != std::string::npos && authority.substr(0, at).find(':') != std::string::npos;
  const size_t query = url.find('?');
  const bool inQuery =
      query != std::string::npos && (url.find("?password=", query) == query ||
                                     url.find("&password=", query) != std::string::npos);
  if (inAuthority || inQuery)
    return Say(
        "the fleet database URL holds a password; keep it in the password file (PGPASSFILE or "
        "~/.pgpass) or a service file, never in TX.ini or on a command line");
#ifdef KORVEL_WITH_LIBPQ
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(url.c_str(), &error);
  if (!options) {
    const std::string said = OneLine(error);
    PQfreemem(error);
    return Say("{0} is not a fleet database URL libpq can read: {1}", url, said);
  }
  PQconninfoFree(options);
#endif
  return {};
}

std::string PgIntArray(const std::vector<int64_t>& values) {
  std::string text = "{";
  for (size_t i = 0; i < values.size(); ++i) text += (i ? "," : "") + std::to_string(values[i]);
  return text + "}";
}

std::string PgTextArray(const std::vector<std::string>& values) {
  std::string text = "{";
  for (size_t i = 0; i < values.size(); ++i) {
    text += i ? ",\"" : "\"";
    for (char c : values[i]) {
      if (c == '"' || c == '\\') text += '\\';
      text += c;
    }
    text += '"';
  }
  return text + "}";
}

#ifdef KORVEL_WITH_LIBPQ

bool FleetDatabaseAvailable() {
  return true;
}

namespace {
const PGresult* R(const std::shared_ptr<void>& r) {
  return static_cast<const PGresult*>(r.get());
}
}  // namespace

int PgRows::Count() const {
  return result_ ? PQntuples(R(result_)) : 0;
}

bool PgRows::IsNull(int row, int column) const {
  return !result_ || PQgetisnull(R(result_), row, column);
}

std::string PgRows::Text(int row, int column) const {
  if (IsNull(row, column)) return {};
  return std::string(PQgetvalue(R(result_), row, column),
                     size_t(PQgetlength(R(result_), row, column)));
}

int64_t PgRows::Int(int row, int column) const {
  return IsNull(row, column) ? 0 : std::strtoll(PQgetvalue(R(result_), row, column), nullptr, 10);
}

std::vector<int64_t> PgRows::Ints(int row, int column) const {
  std::vector<int64_t> values;
  const std::string text = Text(row, column);
  size_t at = 0;
  while (at < text.size()) {
    const size_t digit = text.find_first_of("-0123456789", at);
    if (digit == std::string::npos) break;
    char* end = nullptr;
    values.push_back(std::strtoll(text.c_str() + digit, &end, 10));
    at = size_t(end - text.c_str());
  }
  return values;
}

struct PgSession::Connection {
  PGconn* conn = nullptr;
  ~Connection() {
    if (conn) PQfinish(conn);
  }
};

PgSession::PgSession() = default;
PgSession::~PgSession() = default;

Status PgSession::Connect(const std::string& url, int timeoutSeconds) {
  Disconnect();
  // Ours first: whatever the URI says wins (expand_dbname reads it in dbname's place).
  // Keepalives and the TCP user timeout end a query on a network that went away, instead of
  // leaving the station waiting for the system's own timeout.
  const std::string timeout = std::to_string(timeoutSeconds);
  const char* keys[] = {"connect_timeout",
                        "application_name",
                        "keepalives",
                        "keepalives_idle",
                        "keepalives_interval",
                        "keepalives_count",
                        "tcp_user_timeout",
                        "dbname",
                        nullptr};
  const char* values[] = {timeout.c_str(), "korvel-rf", "1",    "5", "2", "3",
                          "10000",         url.c_str(), nullptr};
  auto connection = std::make_unique<Connection>();
  connection->conn = PQconnectdbParams(keys, values, 1);
  if (!connection->conn)
    return Status::NoAnswer(Say("cannot reach the fleet database: {0}", "out of memory"));
  if (PQstatus(connection->conn) != CONNECTION_OK)
    return Status::NoAnswer(
        Say("cannot reach the fleet database: {0}", OneLine(PQerrorMessage(connection->conn))));
  // Server notices (a NOTICE from an idempotent DDL) are not the operator's business.
  PQsetNoticeProcessor(
      connection->conn, [](void*, const char*) {}, nullptr);
  connection_ = std::move(connection);
  return {};
}

void PgSession::Disconnect() {
  connection_.reset();
}

bool PgSession::Connected() const {
  return connection_ && PQstatus(connection_->conn) == CONNECTION_OK;
}

Result<PgRows> PgSession::Query(const Phrase& what, const std::string& sql,
                                const std::vector<PgParam>& params) {
  lastState_.clear();
  if (!connection_)
    return Status::NoAnswer(Say("cannot reach the fleet database: {0}", "not connected"));
  std::vector<const char*> values;
  for (const PgParam& p : params) values.push_back(p ? p->c_str() : nullptr);
  // Without parameters the text may hold several statements (a schema upgrade).
  PGresult* raw = params.empty() ? PQexec(connection_->conn, sql.c_str())
                                 : PQexecParams(connection_->conn, sql.c_str(), int(values.size()),
                                                nullptr, values.data(), nullptr, nullptr, 0);
  std::shared_ptr<void> result(raw, [](void* r) { PQclear(static_cast<PGresult*>(r)); });
  const ExecStatusType status = raw ? PQresultStatus(raw) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return PgRows(result);
  const char* state = raw ? PQresultErrorField(raw, PG_DIAG_SQLSTATE) : nullptr;
  lastState_ = state ? state : "";
  // Class 08 (connection exception), 57P0x (the server shutting down) and errors of libpq's
  // own (no SQLSTATE: the server never answered) end the session: the database was lost, not
  // asked and refused.
  const bool lost = PQstatus(connection_->conn) != CONNECTION_OK || lastState_.empty() ||
                    StartsWith(lastState_, "08") || StartsWith(lastState_, "57P0");
  if (lost) {
    const std::string said = OneLine(PQerrorMessage(connection_->conn));
    Disconnect();
    return Status::NoAnswer(Say("cannot reach the fleet database: {0}", said));
  }
  const char* primary = raw ? PQresultErrorField(raw, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  return Status::Failed(Say("the fleet database refused {0}: {1} (SQLSTATE {2})", what,
                            OneLine(primary ? primary : PQerrorMessage(connection_->conn)),
                            lastState_));
}

#else  // no libpq in this build

bool FleetDatabaseAvailable() {
  return false;
}

int PgRows::Count() const {
  return 0;
}
bool PgRows::IsNull(int, int) const {
  return true;
}
std::string PgRows::Text(int, int) const {
  return {};
}
int64_t PgRows::Int(int, int) const {
  return 0;
}
std::vector<int64_t> PgRows::Ints(int, int) const {
  return {};
}

struct PgSession::Connection {};
PgSession::PgSession() = default;
PgSession::~PgSession() = default;

Status PgSession::Connect(const std::string&, int) {
  return Status::Failed(Say("fleet database not available in this build"));
}
void PgSession::Disconnect() {}
bool PgSession::Connected() const {
  return false;
}
Result<PgRows> PgSession::Query(const Phrase&, const std::string&, const std::vector<PgParam>&) {
  return Status::Failed(Say("fleet database not available in this build"));
}

#endif

Status PgSession::Exec(const Phrase& what, const std::string& sql,
                       const std::vector<PgParam>& params) {
  const Result<PgRows> done = Query(what, sql, params);
  return done ? Status() : done.status;
}

Status PgSession::Begin() {
  return Exec(Phrase::Literal("BEGIN"), "BEGIN");
}

Status PgSession::Commit() {
  return Exec(Phrase::Literal("COMMIT"), "COMMIT");
}

void PgSession::Rollback() {
  if (Connected()) (void)Exec(Phrase::Literal("ROLLBACK"), "ROLLBACK");
}

}  // namespace korvel
