// One connection to the fleet database (PostgreSQL, through libpq's C API). Every query is
// parameterised. A failure keeps apart the two things an operator must tell apart: the
// database could not be reached (Status::noAnswer, libpq's reason) or it answered and refused
// (the server's message and SQLSTATE). Builds without libpq (the Windows build) connect to
// nothing and say so.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Phrase.h"
#include "platform/Status.h"

namespace korvel {

// This build can talk to a fleet database.
bool FleetDatabaseAvailable();
// A libpq connection URI (postgresql:// or postgres://), as [Record] Url and --db take it.
bool IsFleetUrl(const std::string& text);
// Why this URI must not be used by a station (empty when it may): not a URI libpq reads, or a
// password inside it (it belongs in the password file, never in TX.ini or a command line).
Phrase FleetUrlProblem(const std::string& url);

// A query's rows, as text (NULL apart).
class PgRows {
 public:
  PgRows() = default;
  explicit PgRows(std::shared_ptr<void> result) : result_(std::move(result)) {}
  int Count() const;
  bool IsNull(int row, int column) const;
  std::string Text(int row, int column) const;
  int64_t Int(int row, int column) const;  // 0 for NULL
  // A PostgreSQL array of integers ("{1,2,3}").
  std::vector<int64_t> Ints(int row, int column) const;

 private:
  std::shared_ptr<void> result_;
};

using PgParam = std::optional<std::string>;  // nullopt: NULL
// An array parameter of integers.
std::string PgIntArray(const std::vector<int64_t>& values);
// An array parameter of texts, each quoted (a record's texts may hold anything).
std::string PgTextArray(const std::vector<std::string>& values);

class PgSession {
 public:
  PgSession();
  ~PgSession();
  PgSession(const PgSession&) = delete;
  PgSession& operator=(const PgSession&) = delete;

  // Connects (a connection held is closed first). A server that cannot be reached in
  // `timeoutSeconds` fails as noAnswer with libpq's reason.
  Status Connect(const std::string& url, int timeoutSeconds = 5);
  void Disconnect();
  bool Connected() const;

  // `what` names the query for the operator ("the lease of a block"). Failures: noAnswer when
  // the connection is gone (it is dropped), otherwise the server's refusal.
  Result<PgRows> Query(const Phrase& what, const std::string& sql,
                       const std::vector<PgParam>& params = {});
  Status Exec(const Phrase& what, const std::string& sql, const std::vector<PgParam>& params = {});
  // BEGIN, COMMIT; ROLLBACK ignores a failure (the transaction is gone either way).
  Status Begin();
  Status Commit();
  void Rollback();
  // The SQLSTATE of the last refusal ("23505" for a UNIQUE violation); empty otherwise.
  const std::string& LastState() const { return lastState_; }

 private:
  struct Connection;
  std::unique_ptr<Connection> connection_;
  std::string lastState_;
};

// SQLSTATEs the fleet code acts on.
constexpr const char* kPgUniqueViolation = "23505";
constexpr const char* kPgUndefinedTable = "42P01";
constexpr const char* kPgUndefinedFunction = "42883";
constexpr const char* kPgInvalidSchema = "3F000";
constexpr const char* kPgInsufficientPrivilege = "42501";
// Raised by the lease functions when a series has no numbers left.
constexpr const char* kPgSeriesExhausted = "KV001";

}  // namespace korvel
