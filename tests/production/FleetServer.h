// The private PostgreSQL cluster ctest starts for the fleet tests (tests/fleet/pg-cluster.sh),
// and a fresh database of it per test: made anew, dropped afterwards.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "production/FleetDatabase.h"
#include "production/FleetSchema.h"

namespace korvel::test {

struct FleetServer {
  std::string dir = std::getenv("KORVEL_TEST_PG_DIR") ? std::getenv("KORVEL_TEST_PG_DIR") : "";
  std::string script = KORVEL_PG_CTL;

  // Why the tests cannot run here; empty when the server is there.
  std::string Unavailable() const {
    if (dir.empty()) return "KORVEL_TEST_PG_DIR is not set (run the fleet tests through ctest)";
    std::ifstream reason(std::filesystem::path(dir) / "unavailable");
    std::string line;
    if (reason && std::getline(reason, line)) return line;
    if (!std::filesystem::exists(std::filesystem::path(dir) / ".s.PGSQL.5432"))
      return "the test cluster in " + dir + " is not running";
    return {};
  }
  std::string Url(const std::string& database, const std::string& user = "postgres") const {
    return "postgresql:///" + database + "?host=" + dir + "&user=" + user;
  }
  // The server as a power cut leaves it, and back.
  void Crash() const { Run("crash"); }
  void Restart() const { Run("restart"); }

 private:
  void Run(const char* action) const {
    const std::string command = script + " " + action + " " + dir;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
};

// A database of its own for one test, with the tables (unless asked not to).
class FleetTestDb {
 public:
  explicit FleetTestDb(bool init = true, const FleetInitOptions& options = {}) {
    static std::atomic<int> counter{0};
    name_ = "korvel_t" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
    Status connected = admin_.Connect(server_.Url("postgres"));
    if (!connected) {
      error_ = connected.failure.English();
      return;
    }
    (void)admin_.Exec(Phrase::Literal("drop"), "DROP DATABASE IF EXISTS " + name_);
    if (Status made = admin_.Exec(Phrase::Literal("create"), "CREATE DATABASE " + name_); !made) {
      error_ = made.failure.English();
      return;
    }
    if (Status c = db_.Connect(Url()); !c) {
      error_ = c.failure.English();
      return;
    }
    if (init) {
      const Result<FleetInitReport> done = InitFleetDatabase(db_, options);
      if (!done) error_ = done.status.failure.English();
    }
  }
  ~FleetTestDb() {
    db_.Disconnect();
    // The server may have been stopped and started again meanwhile.
    if (!admin_.Connected()) (void)admin_.Connect(server_.Url("postgres"));
    // Sessions a test left behind (a station it did not close) go with the database.
    (void)admin_.Exec(Phrase::Literal("drop"),
                      "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  }
  FleetTestDb(const FleetTestDb&) = delete;
  FleetTestDb& operator=(const FleetTestDb&) = delete;

  const std::string& Error() const { return error_; }
  std::string Url(const std::string& user = "postgres") const { return server_.Url(name_, user); }
  // The superuser's session on this database.
  PgSession& Admin() { return db_; }
  // Reconnects after the server came back.
  void Reconnect() { (void)db_.Connect(Url()); }
  int64_t Count(const std::string& sql) {
    const Result<PgRows> rows = db_.Query(Phrase::Literal("count"), sql);
    EXPECT_TRUE(rows) << sql << ": " << rows.status.failure;
    return rows ? rows->Int(0, 0) : -1;
  }
  const FleetServer& Server() const { return server_; }

 private:
  FleetServer server_;
  std::string name_;
  std::string error_;
  PgSession admin_;
  PgSession db_;
};

}  // namespace korvel::test

// Skips a test when the server is not there, with the reason; fails when the database could
// not be made.
#define KORVEL_NEED_FLEET(database)                                      \
  do {                                                                   \
    const std::string why = ::korvel::test::FleetServer().Unavailable(); \
    if (!why.empty()) GTEST_SKIP() << why;                               \
    ASSERT_TRUE((database).Error().empty()) << (database).Error();       \
  } while (false)
