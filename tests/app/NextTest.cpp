#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Next.h"
#include "TempDir.h"

namespace korvel {
namespace {

class NextTest : public ::testing::Test {
 protected:
  void WriteFile(const std::string& text) {
    std::ofstream(dir.path / "TX.ini", std::ios::binary) << text;
  }
  int Run(int count, bool commit = false) {
    out.str("");
    err.str("");
    NextOptions options;
    options.ini = dir.path / "TX.ini";
    options.count = count;
    options.date = LocalDate{2026, 12, 7};
    options.commit = commit;
    return RunNext(options, out, err);
  }
  test::TempDir dir;
  std::ostringstream out, err;
};

TEST_F(NextTest, PrintsConsecutiveUnitsAndCommitsOnlyWhenAsked) {
  WriteFile(
      "[TX]\r\n"
      "RXSNINFO=object TProdSN;  IsSN = True;  IsDate = True;  FixSNByteCount = 2;  FixSN = 16706; "
      " "
      "IncSNByteCount = 2;  IncInitSN = 1;  IncPrevSN = 0;  IsFixAscii = True;end;\r\n"
      "TXSNINFO=object TProdSN;  IsSN = True;  IsDate = False;  FixSNByteCount = 3;  FixSN = "
      "4276803;  "
      "IncSNByteCount = 3;  IncInitSN = 255;  IncPrevSN = 254;  IsFixAscii = True;end;\r\n"
      "RXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 1193214;  IncPrevRFID = "
      "1193213;  "
      "IncCurrentRFID = 0;end;\r\n"
      "TXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 1193214;  IncPrevRFID = "
      "1193213;  "
      "IncCurrentRFID = 0;end;\r\n");
  ASSERT_EQ(Run(3), 0) << err.str();
  // 0x1234FE clashes on both sides: the TX side moves past 0x1234FF to 0x123501.
  EXPECT_EQ(out.str(),
            "unit=1 rxsn=3555-4142-0001 txsn=414243-0000FF rxid=1234FE txid=123501\n"
            "unit=2 rxsn=3555-4142-0002 txsn=414243-000100 rxid=123501 txid=123502\n"
            "unit=3 rxsn=3555-4142-0003 txsn=414243-000101 rxid=123502 txid=123503\n");
  ASSERT_EQ(Run(1), 0);
  EXPECT_EQ(out.str().substr(0, 30), "unit=1 rxsn=3555-4142-0001 txs");  // nothing was saved
  ASSERT_EQ(Run(2, true), 0);
  ASSERT_EQ(Run(1), 0);
  EXPECT_EQ(out.str(), "unit=1 rxsn=3555-4142-0003 txsn=414243-000101 rxid=123502 txid=123503\n");
}

// The same settings with CR LF, LF or CR-only line ends number alike and keep their style;
// a file whose keys run together inside one line is no settings file, never the defaults.
TEST_F(NextTest, EveryKindOfLineEndReadsAlikeAndKeysRunTogetherAreRefused) {
  const std::string lines[] = {
      "[TX]",
      "TXSNINFO=object TProdSN;  IsSN = True;  IsDate = False;  FixSNByteCount = 3;  FixSN = "
      "4276803;  IncSNByteCount = 3;  IncInitSN = 255;  IncPrevSN = 254;  IsFixAscii = True;end;",
      "RXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 1193214;end;",
      "TXRFIDINFO=object TProdRFID;  IsRandom = False;  IncInitRFID = 2293214;end;"};
  auto joined = [&](const std::string& eol) {
    std::string text;
    for (const std::string& line : lines) text += line + eol;
    return text;
  };
  const std::string expected =
      "unit=1 rxsn=- txsn=414243-0000FF rxid=1234FE txid=22FDDE\n"
      "unit=2 rxsn=- txsn=414243-000100 rxid=123501 txid=22FDDF\n";
  for (const std::string eol : {"\r\n", "\n", "\r"}) {
    SCOPED_TRACE(testing::PrintToString(eol));
    WriteFile(joined(eol));
    ASSERT_EQ(Run(2, true), 0) << err.str();
    EXPECT_EQ(out.str(), expected);
    std::ifstream in(dir.path / "TX.ini", std::ios::binary);
    const std::string saved(std::istreambuf_iterator<char>(in), {});
    EXPECT_NE(saved.find("IncCurrentSN = 256;  IsFixAscii = True;end;" + eol + "RXRFIDINFO"),
              std::string::npos)
        << saved;
    EXPECT_EQ(saved.find(eol == "\r" ? "\n" : "\r\r"), std::string::npos) << "mixed line ends";
    EXPECT_EQ(saved.find("TXSNINFO=", saved.find("TXSNINFO=") + 1), std::string::npos)
        << "the keys were appended again";
  }
  for (const std::string sep : {"\v", "\f", "\x1c"}) {
    SCOPED_TRACE(testing::PrintToString(sep));
    WriteFile(joined(sep));
    EXPECT_EQ(Run(1), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find("is not a settings file (line 1 holds several keys"),
              std::string::npos)
        << err.str();
  }
}

TEST_F(NextTest, NoFileMeansDefaults) {
  ASSERT_EQ(Run(2), 0);
  EXPECT_EQ(out.str(),
            "unit=1 rxsn=- txsn=- rxid=random txid=random\nunit=2 rxsn=- txsn=- rxid=random "
            "txid=random\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path / "TX.ini"));
}

TEST_F(NextTest, AGeneratorThatCannotBeReadIsAnError) {
  WriteFile("[TX]\r\nTXSNINFO=object TProdSN;  IsSN = Maybe;end;\r\n");
  EXPECT_EQ(Run(1), 1);
  EXPECT_EQ(out.str(), "");
  const std::string message = err.str();
  EXPECT_NE(message.find("TXSNINFO"), std::string::npos);
  EXPECT_EQ(message.find('\n'), message.size() - 1);  // one line
}

}  // namespace
}  // namespace korvel
