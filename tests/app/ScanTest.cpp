#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "EmulatedBench.h"
#include "Scan.h"
#include "TempDir.h"

namespace korvel {
namespace {

using test::EmulatedBench;

// The scan as the companion runs it with no TX.ini: the built-in table only.
void Scan(HidAccess& hid, std::ostream& out) {
  ReceiverFinder finder(hid);
  ScanInterfaces(hid, finder, std::nullopt, out);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(Scan, MarksTheVendorCollectionOfTheRxOnly) {
  EmulatedBench b;
  std::ostringstream out;
  Scan(b.hid, out);
  const auto lines = Lines(out.str());
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3], "  emu://rx0/mouse  1BCF:053A  0100  0");
  EXPECT_EQ(lines[4], "  emu://rx0/keyboard  1BCF:053A  0100  0");
  EXPECT_EQ(lines[5], "* emu://rx0/vendor  1BCF:053A  0100  9");
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(lines[i].rfind("  ", 0), 0u) << lines[i];
  EXPECT_EQ(b.platform.OpenHandleCount(), 0u);
}

TEST(Scan, FollowsTableOrderNotEnumerationOrder) {
  EmulatedBench b;
  EmulatedRx::Config other;
  other.pid = 0x05CA;  // entry 1
  other.instance = 7;
  b.platform.Attach(std::make_shared<EmulatedRx>(b.host, other));
  b.rx->Unplug();
  b.rx->Plug();
  std::ostringstream out;
  Scan(b.hid, out);
  const std::string text = out.str();
  EXPECT_NE(text.find("* emu://rx0/vendor"), std::string::npos) << text;
  EXPECT_NE(text.find("  emu://rx7/vendor  1BCF:05CA"), std::string::npos) << text;
  b.rx->Unplug();
  std::ostringstream again;
  Scan(b.hid, again);
  EXPECT_NE(again.str().find("* emu://rx7/vendor"), std::string::npos) << again.str();
}

TEST(Scan, SearchesTxIniAsTheToolDoes) {
  test::TempDir dir;
  EmulatedBench b;
  b.rx->Unplug();
  EmulatedRx::Config config;
  config.pid = 0x1234;  // in no built-in entry
  b.platform.Attach(std::make_shared<EmulatedRx>(b.host, config));
  std::ostringstream out, err;
  const std::filesystem::path ini = dir.path / "TX.ini";
  ASSERT_EQ(RunScan(b.platform, b.host, ini, out, err), 0);  // no file: the built-in table
  EXPECT_EQ(out.str().find("* "), std::string::npos) << out.str();
  std::ofstream(ini, std::ios::binary) << "[Device]\r\n0=1BCF1234\r\n";
  out.str("");
  ASSERT_EQ(RunScan(b.platform, b.host, ini, out, err), 0);
  EXPECT_NE(out.str().find("* emu://rx0/vendor  1BCF:1234"), std::string::npos) << out.str();
  // The VID and PID typed into the settings count as well.
  std::ofstream(ini, std::ios::binary) << "[TX]\r\nVID=7119\r\nPID=4660\r\n";
  out.str("");
  ASSERT_EQ(RunScan(b.platform, b.host, ini, out, err), 0);
  EXPECT_NE(out.str().find("* emu://rx0/vendor  1BCF:1234"), std::string::npos) << out.str();
  EXPECT_EQ(b.platform.OpenHandleCount(), 0u);
  // A file that cannot be read (here a folder) is a warning: the diagnosis still lists.
  std::filesystem::remove(ini);
  std::filesystem::create_directory(ini);
  out.str("");
  ASSERT_EQ(RunScan(b.platform, b.host, ini, out, err), 0);
  // Six interfaces, none marked, and why: the dongle's identity came from the file only.
  EXPECT_EQ(Lines(out.str()).size(), 7u);
  EXPECT_NE(out.str().find("(none marked: no receiver dongle is plugged in (8 identities "
                           "searched))"),
            std::string::npos)
      << out.str();
  EXPECT_NE(err.str().find("warning"), std::string::npos);
}

TEST(Scan, SaysSoWhenThereIsNothing) {
  VirtualHost host;
  EmulatedHidPlatform platform(host);
  HidAccess hid(platform, host);
  std::ostringstream out;
  Scan(hid, out);
  EXPECT_EQ(out.str(), "no HID interfaces\n");
}

}  // namespace
}  // namespace korvel
