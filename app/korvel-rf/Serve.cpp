#include "Serve.h"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Next.h"
#include "lineview/LinePage.h"

namespace korvel {

namespace {

constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'";

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

WebParams ParamsOf(const httplib::Request& request) {
  return {request.params.begin(), request.params.end()};
}

void Send(httplib::Response& response, const WebReply& reply) {
  response.status = reply.status;
  response.set_content(reply.body, reply.contentType.c_str());
}

}  // namespace

struct LineServer::Impl {
  explicit Impl(const ServeOptions& options)
      : site([db = options.db] { return OpenLineRecord(db); }, Now, options.stopAfterSeconds) {}
  LineSite site;
  httplib::Server server;
};

LineServer::LineServer(ServeOptions options)
    : impl_(std::make_unique<Impl>(options)), options_(std::move(options)) {
  httplib::Server& server = impl_->server;
  const LineSite& site = impl_->site;
  // Two cores, shared: a few workers are plenty for a page that a handful of people watch.
  server.new_task_queue = [] { return new httplib::ThreadPool(4); };
  server.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                              {"Cache-Control", "no-store"},
                              {"Referrer-Policy", "no-referrer"}});

  // The rows go out as they are read: a year of a line is a long file, never all in memory.
  server.Get("/units.csv", [&site](const httplib::Request& request, httplib::Response& response) {
    const std::string language = request.get_header_value("Accept-Language");
    WebReply refusal;
    const auto query = site.CsvQuery(ParamsOf(request), language, refusal);
    if (!query) return Send(response, refusal);
    std::shared_ptr<LineRecordReader> reader = site.OpenForCsv(refusal);
    if (!reader) return Send(response, refusal);
    const std::string name = "units-" + IsoDateText(query->period.since) + "-" +
                             IsoDateText(query->period.until) + ".csv";
    response.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
    response.set_chunked_content_provider(
        "text/csv; charset=utf-8", [reader, q = *query](size_t, httplib::DataSink& sink) {
          const Status written = WriteUnitsCsv(*reader, q, [&sink](const std::string& piece) {
            return sink.write(piece.data(), piece.size());
          });
          // A read that failed half way ends the answer short; the client sees it cut.
          if (written) sink.done();
          return written.Ok();
        });
  });
  server.Get(R"(/.*)", [&site](const httplib::Request& request, httplib::Response& response) {
    const WebReply reply =
        site.Get(request.path, ParamsOf(request), request.get_header_value("Accept-Language"));
    if (reply.contentType.rfind("text/html", 0) == 0)
      response.set_header("Content-Security-Policy", kPagePolicy);
    // The library and the page's own files change only with the program.
    if (request.path.rfind("/assets/", 0) == 0 && reply.status == 200)
      response.set_header("Cache-Control", "max-age=3600");
    Send(response, reply);
  });
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        Send(response, {500, "text/plain; charset=utf-8", "internal error\n"});
      });
}

LineServer::~LineServer() {
  Stop();
}

Status LineServer::Bind() {
  httplib::Server& server = impl_->server;
  port_ = options_.port == 0
              ? server.bind_to_any_port(options_.bind)
              : (server.bind_to_port(options_.bind, options_.port) ? options_.port : -1);
  if (port_ > 0) return {};
  return Status::Failed(
      Say("cannot listen on {0} port {1} (another program uses it, or the address is not "
          "this PC's)",
          options_.bind, options_.port));
}

void LineServer::Run() {
  impl_->server.listen_after_bind();
}

void LineServer::Stop() {
  impl_->server.stop();
}

int RunServe(const ServeOptions& options, std::ostream& out, std::ostream& err) {
  {
    // Said now, not at the first request: a wrong path is found at the start.
    const Result<std::unique_ptr<LineRecordReader>> reader = OpenLineRecord(options.db);
    if (!reader) {
      err << "korvel-rf: " << reader.status.failure << "\n";
      return RecordFailureExit(options.db);
    }
    if (const Phrase note = (*reader)->SlowRecordNote(); !note.empty())
      err << "korvel-rf: " << note << "\n";
  }
  // The workers must not take the stop signals: one thread waits for them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  LineServer server(options);
  if (const Status bound = server.Bind(); !bound) {
    err << "korvel-rf: " << bound.failure << "\n";
    return kExitListen;
  }
  const std::string host =
      options.bind.find(':') != std::string::npos ? "[" + options.bind + "]" : options.bind;
  out << Say("serving http://{0}:{1}/ from {2}, read-only; Ctrl+C stops", host, server.Port(),
             options.db.empty() ? std::string("production.db") : options.db)
      << std::endl;

  std::atomic<bool> running{true};
  std::thread waiter([&] {
    const timespec tick{0, 200 * 1000 * 1000};
    while (running) {
      if (sigtimedwait(&stopSignals, nullptr, &tick) > 0) {
        server.Stop();
        return;
      }
    }
  });
  server.Run();
  running = false;
  waiter.join();
  return kExitDone;
}

}  // namespace korvel
