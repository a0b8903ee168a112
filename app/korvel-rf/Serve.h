// korvel-rf serve: the line's page over HTTP (Linux: the HTTP library is Debian's build).
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "platform/Phrase.h"
#include "platform/Status.h"

namespace korvel {

struct ServeOptions {
  std::string db;                  // a record file, a fleet database URI; empty: production.db here
  std::string bind = "127.0.0.1";  // only this PC, unless told otherwise
  int port = 8080;                 // 0: any free port (printed)
  int64_t stopAfterSeconds = 600;  // a station this long without a run counts as stopped
};

// The server itself, for the verb and for tests. Read-only: each request opens the record to
// read it and closes it after.
class LineServer {
 public:
  explicit LineServer(ServeOptions options);
  ~LineServer();
  LineServer(const LineServer&) = delete;
  LineServer& operator=(const LineServer&) = delete;

  // Takes the address and port; false and why when they cannot be had.
  Status Bind();
  int Port() const { return port_; }
  // Answers until Stop (from another thread).
  void Run();
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  ServeOptions options_;
  int port_ = 0;
};

// Checks the record, binds, says where it serves, and answers until SIGINT or SIGTERM.
// Returns the exit code (ExitCode).
int RunServe(const ServeOptions& options, std::ostream& out, std::ostream& err);

}  // namespace korvel
