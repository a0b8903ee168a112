// The line's page in a real browser: a record made by `korvel-rf simulate`, served by
// `korvel-rf serve`, loaded by headless Chromium. The DOM after the page's scripts ran must
// hold the record's counts and charts with painted bars; screenshots are kept for people.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include "TempDir.h"
#include "production/ProductionRecord.h"

extern char** environ;

namespace korvel {
namespace {

namespace fs = std::filesystem;

// A child process with its standard output on a pipe.
struct Child {
  pid_t pid = -1;
  int out = -1;
};

Child Start(const std::vector<std::string>& argv, const std::string& errorLog = "") {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  // Chromium talks a lot on its error stream (no D-Bus here): kept aside, read on failure.
  if (!errorLog.empty())
    posix_spawn_file_actions_addopen(&actions, 2, errorLog.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  Child child;
  if (posix_spawnp(&child.pid, args[0], &actions, nullptr, args.data(), environ) != 0)
    child.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  child.out = pipeFds[0];
  return child;
}

std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

int Finish(Child& child, std::string* output = nullptr) {
  char buffer[65536];
  ssize_t n;
  while ((n = ::read(child.out, buffer, sizeof buffer)) > 0)
    if (output) output->append(buffer, size_t(n));
  ::close(child.out);
  int status = 0;
  if (::waitpid(child.pid, &status, 0) != child.pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr,
               const std::string& errorLog = "") {
  Child child = Start(argv, errorLog);
  if (child.pid < 0) return -1;
  return Finish(child, output);
}

class BrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(KORVEL_CHROMIUM))
        << KORVEL_CHROMIUM << " is missing: scripts/install-deps.sh installs it";
    const std::string rf = KORVEL_RF;
    const std::string ini = (dir.path / "TX.ini").string(),
                      db = (dir.path / "production.db").string();
    // Serials on: a unit is known by its RX serial.
    std::ofstream(ini, std::ios::binary)
        << "[TX]\r\n"
           "RXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  FixSN = "
           "19255;  IncSNByteCount = 2;  IsFixAscii = True;end;\r\n"
           "TXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  FixSN = "
           "19256;  IncSNByteCount = 2;  IsFixAscii = True;end;\r\n"
           "RXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 3289908;end;\r\n"
           "TXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 4342596;end;\r\n";
    // Good units, two that fail at one step (the second is the first one's retry: a failed
    // unit's numbers are offered again), then good units, the first of them that retry again.
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{"--units", "5"},
          std::vector<std::string>{"--units", "2", "--fault", "tx-eeprom-mismatch"},
          std::vector<std::string>{"--units", "3"}}) {
      std::vector<std::string> argv = {rf, "simulate",         "--ini", ini, "--db",
                                       db, "--operator-delay", "0"};
      argv.insert(argv.end(), extra.begin(), extra.end());
      std::string said;
      ASSERT_EQ(RunProgram(argv, &said), 0) << said;
    }
    ProductionRecord record;
    ASSERT_TRUE(record.OpenToRead(db));
    rows = *record.Rows("");
    ASSERT_EQ(rows.size(), 10u);
    day = rows.front().timeLocal.substr(0, 10);
    lastDay = rows.back().timeLocal.substr(0, 10);

    server = Start({rf, "serve", "--db", db, "--port", "0"});
    ASSERT_GT(server.pid, 0);
    const std::string line = ReadLine(server.out);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(line, m, std::regex("http://127\\.0\\.0\\.1:([0-9]+)/"))) << line;
    url = "http://127.0.0.1:" + m[1].str() + "/?since=" + day + "&until=" + lastDay;
  }
  void TearDown() override {
    if (server.pid > 0) {
      ::kill(server.pid, SIGTERM);
      // A stop signal ends the server cleanly.
      EXPECT_EQ(Finish(server), 0);
    }
  }

  // Chromium as these machines need it: no sandbox as root, nothing that reaches outside.
  std::vector<std::string> Browser(const std::string& profile) {
    return {"timeout",
            "60",
            KORVEL_CHROMIUM,
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--no-first-run",
            "--disable-quic",
            "--user-data-dir=" + (dir.path / profile).string(),
            "--window-size=1280,1000",
            "--virtual-time-budget=3000"};
  }
  std::string Dom(const std::string& address, const std::string& acceptLanguage = "") {
    std::vector<std::string> argv = Browser("dom-profile");
    if (!acceptLanguage.empty()) argv.push_back("--accept-lang=" + acceptLanguage);
    argv.push_back("--dump-dom");
    argv.push_back(address);
    std::string dom;
    EXPECT_EQ(RunProgram(argv, &dom, Log()), 0) << Bytes(Log());
    return dom;
  }
  void Screenshot(const std::string& address, const std::string& name) {
    const fs::path file = fs::path(KORVEL_SCREENSHOTS) / name;
    fs::create_directories(file.parent_path());
    fs::remove(file);
    std::vector<std::string> argv = Browser("shot-profile");
    argv.push_back("--screenshot=" + file.string());
    argv.push_back(address);
    EXPECT_EQ(RunProgram(argv, nullptr, Log()), 0) << Bytes(Log());
    std::ifstream in(file, std::ios::binary);
    std::string head(8, '\0');
    in.read(head.data(), 8);
    EXPECT_EQ(head, std::string("\x89PNG\r\n\x1a\n", 8)) << file;
    EXPECT_GT(fs::exists(file) ? fs::file_size(file) : 0, 20000u) << file;
  }
  std::string Log() const { return (dir.path / "chromium.log").string(); }
  static std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static std::string Cell(const std::string& dom, const std::string& rowClass,
                          const std::string& cell) {
    std::smatch m;
    const std::regex pattern("<tr class=\"" + rowClass + "[^\"]*\"[^>]*>.*?<td class=\"" + cell +
                             "\">([^<]*)</td>");
    return std::regex_search(dom, m, pattern) ? m[1].str() : "(no cell)";
  }
  static long Attribute(const std::string& dom, const std::string& id, const std::string& name) {
    std::smatch m;
    const std::regex pattern("<canvas id=\"" + id + "\"[^>]*" + name + "=\"([0-9]+)\"");
    return std::regex_search(dom, m, pattern) ? std::stol(m[1].str()) : -1;
  }

  test::TempDir dir;
  std::vector<RecordRow> rows;
  std::string day, lastDay, url;
  Child server;
};

TEST_F(BrowserTest, ThePageShowsTheRecordsCountsAndDrawsItsCharts) {
  // The record's own counts, by the definitions: a unit by its RX serial, first-pass when its
  // earliest row passed.
  int pass = 0, fail = 0;
  std::map<std::string, std::string> firstResult;
  for (const RecordRow& r : rows) {
    (r.result == "PASS" ? pass : fail) += 1;
    firstResult.emplace(r.numbers.rxSerial, r.result);
  }
  int firstPass = 0;
  for (const auto& [serial, result] : firstResult) firstPass += result == "PASS";
  ASSERT_EQ(fail, 2);
  ASSERT_EQ(firstResult.size(), 8u);  // the failed unit failed again, then passed

  const std::string dom = Dom(url);
  EXPECT_NE(dom.find("data-ready=\"yes\""), std::string::npos) << dom.substr(0, 2000);
  EXPECT_EQ(Cell(dom, "total", "units"), std::to_string(firstResult.size()));
  EXPECT_EQ(Cell(dom, "total", "pass"), std::to_string(pass));
  EXPECT_EQ(Cell(dom, "total", "fail"), std::to_string(fail));
  char fpy[32];
  std::snprintf(fpy, sizeof fpy, "%.1f %%", 100.0 * firstPass / double(firstResult.size()));
  EXPECT_EQ(Cell(dom, "total", "fpy"), fpy);
  EXPECT_EQ(Cell(dom, "total", "fy"), "100.0 %");
  // Bars in each chart's own colours, not only a frame and axes.
  EXPECT_GT(Attribute(dom, "hourly-chart", "data-bar-pixels"), 50);
  EXPECT_EQ(Attribute(dom, "pareto-chart", "data-points"), 1);
  EXPECT_GT(Attribute(dom, "pareto-chart", "data-bar-pixels"), 50);
  const std::regex unitRow("<tr data-id=\"[0-9]+\">");
  EXPECT_EQ(
      std::distance(std::sregex_iterator(dom.begin(), dom.end(), unitRow), std::sregex_iterator()),
      long(rows.size()));
  EXPECT_NE(dom.find(">" + rows.back().numbers.rxSerial + "<"), std::string::npos);
  Screenshot(url + "&lang=en", "line-page-en.png");
}

TEST_F(BrowserTest, TheBrowsersLanguageOrTheChoiceOnThePage) {
  const std::string base = url.substr(0, url.find('?'));
  // No choice made: the browser's language.
  const std::string dom = Dom(base + "?since=" + day + "&until=" + lastDay, "zh-TW,en;q=0.5");
  EXPECT_NE(dom.find("<html lang=\"zh-TW\">"), std::string::npos);
  EXPECT_NE(dom.find("首次通過率"), std::string::npos);
  const std::string simplified = Dom(url + "&lang=zh-CN");
  EXPECT_NE(simplified.find("首次通过率"), std::string::npos);
  Screenshot(url + "&lang=zh-TW", "line-page-zh-tw.png");
}

}  // namespace
}  // namespace korvel
