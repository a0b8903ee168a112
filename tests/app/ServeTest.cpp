// The server over real HTTP: what a browser or another tool gets, and that serving leaves the
// record as it was.
#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "../lineview/LineFixture.h"
#include "Serve.h"
#include "platform/AtomicFile.h"

namespace korvel {
namespace {

class ServeTest : public test::LineFixture {
 protected:
  void SetUp() override {
    LineFixture::SetUp();
    record.Close();
    ServeOptions options;
    options.db = Path().string();
    options.port = 0;
    server = std::make_unique<LineServer>(options);
    const Status bound = server->Bind();
    ASSERT_TRUE(bound) << bound.failure;
    running = std::thread([this] { server->Run(); });
    client = std::make_unique<httplib::Client>("127.0.0.1", server->Port());
  }
  void TearDown() override {
    if (server) server->Stop();
    if (running.joinable()) running.join();
  }
  std::unique_ptr<LineServer> server;
  std::thread running;
  std::unique_ptr<httplib::Client> client;
};

TEST_F(ServeTest, AnswersThePageItsDataAndRefusesWhatItDoesNotServe) {
  auto page = client->Get("/?lang=en");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  // Nothing inline runs on the page, whatever got into it.
  EXPECT_NE(page->get_header_value("Content-Security-Policy").find("script-src 'self'"),
            std::string::npos);
  EXPECT_EQ(page->get_header_value("X-Content-Type-Options"), "nosniff");

  auto summary = client->Get("/api/summary.json?since=2026-12-01&until=2026-12-08");
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->status, 200);
  const auto json = nlohmann::json::parse(summary->body);
  EXPECT_EQ(json["total"]["units"], 9);

  auto csv = client->Get("/units.csv?since=2026-12-07&until=2026-12-07");
  ASSERT_TRUE(csv);
  EXPECT_EQ(csv->status, 200);
  EXPECT_EQ(csv->get_header_value("Content-Type"), "text/csv; charset=utf-8");
  EXPECT_EQ(csv->get_header_value("Content-Disposition"),
            "attachment; filename=\"units-2026-12-07-2026-12-07.csv\"");
  EXPECT_EQ(csv->body.rfind(RecordCsvHeader(), 0), 0u);
  EXPECT_EQ(std::count(csv->body.begin(), csv->body.end(), '\n'), 3);

  const std::pair<const char*, int> refused[] = {
      {"/api/summary.json?since=2026-12-32", 400},
      {"/units.csv?lang=xx", 400},
      {"/?limit=abc", 400},
      {"/?foo=1", 400},
      {"/production.db", 404},
      {"/assets/nothing.js", 404},
  };
  for (const auto& [path, status] : refused) {
    auto reply = client->Get(path);
    ASSERT_TRUE(reply) << path;
    EXPECT_EQ(reply->status, status) << path;
    EXPECT_FALSE(reply->body.empty()) << path;
  }
  auto bad = client->Get("/units.csv?since=x", {{"Accept-Language", "zh-TW"}});
  ASSERT_TRUE(bad);
  EXPECT_NE(bad->body.find("須為 YYYY-MM-DD"), std::string::npos) << bad->body;
  auto post = client->Post("/api/summary.json", "", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_NE(post->status, 200);
}

TEST_F(ServeTest, ServingChangesNothingInTheRecord) {
  const std::string before = ReadWholeFile(Path())->bytes;
  for (const char* path : {"/", "/api/summary.json", "/api/units.json", "/units.csv"}) {
    auto reply = client->Get(path);
    ASSERT_TRUE(reply) << path;
    EXPECT_EQ(reply->status, 200) << path;
  }
  EXPECT_TRUE(before == ReadWholeFile(Path())->bytes);
  // No WAL, no journal: the reader never opened the file to write.
  for (const char* name : {"production.db-wal", "production.db-journal"})
    EXPECT_FALSE(std::filesystem::exists(dir.path / name) &&
                 std::filesystem::file_size(dir.path / name) > 0)
        << name;
}

TEST(ServeOptions, ThisPcOnlyUnlessToldOtherwise) {
  EXPECT_EQ(ServeOptions().bind, "127.0.0.1");
  ServeOptions options;
  options.port = 0;
  options.bind = "192.0.2.1";  // not an address of this PC
  LineServer server(options);
  const Status bound = server.Bind();
  EXPECT_NE(bound.failure.English().find("cannot listen on 192.0.2.1"), std::string::npos)
      << bound.failure;
}

}  // namespace
}  // namespace korvel
