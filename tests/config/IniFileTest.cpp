#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "TempDir.h"
#include "config/IniFile.h"

namespace korvel {
namespace {

TEST(IniFile, CaseFirstOccurrenceAndTrimming) {
  const IniFile ini = IniFile::FromBytes(
      "[tx]\r\nSleep = 40 \r\n sleep=41\r\n[Other]\r\nSleep=1\r\n[TX]\r\nSleep=42\r\nPName=  a b  "
      "\r\n");
  EXPECT_EQ(ini.ReadInteger("TX", "SLEEP", 0), 40);
  EXPECT_EQ(ini.ReadString("Tx", "PName", "x"), "x");  // only in the second [TX]: not seen
  EXPECT_EQ(ini.ReadString("Other", "sleep", ""), "1");
  EXPECT_FALSE(ini.ReadValue("Missing", "Sleep"));
}

TEST(IniFile, IntegersThatAreNotWholeGiveTheDefault) {
  const IniFile ini = IniFile::FromBytes(
      "[TX]\nA=12x\nB=\nC=2147483648\nD=-2147483648\nE=$10\nF=0x1F\nG=2\nH=0\nI=1.5\nJ=$"
      "FFFFFFFF\n");
  EXPECT_EQ(ini.ReadInteger("TX", "A", 7), 7);
  EXPECT_EQ(ini.ReadInteger("TX", "B", 7), 7);
  EXPECT_EQ(ini.ReadInteger("TX", "C", 7), 7);
  EXPECT_EQ(ini.ReadInteger("TX", "D", 7), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ini.ReadInteger("TX", "E", 7), 16);
  EXPECT_EQ(ini.ReadInteger("TX", "F", 7), 31);
  EXPECT_EQ(ini.ReadInteger("TX", "I", 7), 7);
  EXPECT_EQ(ini.ReadInteger("TX", "J", 7), -1);
  EXPECT_TRUE(ini.ReadBool("TX", "G", false));
  EXPECT_FALSE(ini.ReadBool("TX", "H", true));
  EXPECT_TRUE(ini.ReadBool("TX", "Missing", true));
}

TEST(IniFile, WritesInPlaceAndKeepsEveryOtherByte) {
  const std::string original =
      "; written by hand\r\n[TX]\r\nSleep = "
      "40\r\nUnknownKey=\xB2\xE2\xCA\xD4\r\n\r\n[Extra]\r\nX=1\r\n";
  IniFile ini = IniFile::FromBytes(original);
  EXPECT_EQ(ini.Bytes(), original);
  ini.WriteInteger("TX", "Sleep", 56);
  ini.WriteString("tx", "PName", "Mouse");
  ini.WriteString("New", "K", "v");
  EXPECT_EQ(
      ini.Bytes(),
      "; written by hand\r\n[TX]\r\nSleep =56\r\nUnknownKey=\xB2\xE2\xCA\xD4\r\nPName=Mouse\r\n\r\n"
      "[Extra]\r\nX=1\r\n[New]\r\nK=v\r\n");
  ini.DeleteKey("TX", "unknownkey");
  EXPECT_FALSE(ini.ReadValue("TX", "UnknownKey"));
  EXPECT_EQ(ini.ReadString("Extra", "X", ""), "1");
}

TEST(IniFile, LineEndingsAndAMissingLastNewline) {
  IniFile lf = IniFile::FromBytes("[TX]\nA=1");
  lf.WriteString("TX", "B", "2");
  EXPECT_EQ(lf.Bytes(), "[TX]\nA=1\nB=2\n");
  // A lone CR ends a line as the system's profile functions read it, and new lines take it.
  IniFile cr = IniFile::FromBytes("[TX]\rA=1\r\rB=2");
  EXPECT_EQ(cr.ReadInteger("TX", "A", 0), 1);
  EXPECT_EQ(cr.ReadInteger("TX", "B", 0), 2);
  cr.WriteString("TX", "C", "3");
  EXPECT_EQ(cr.Bytes(), "[TX]\rA=1\r\rB=2\rC=3\r");
  IniFile empty = IniFile::FromBytes("");
  empty.WriteString("TX", "A", "1");
  EXPECT_EQ(empty.Bytes(), "[TX]\r\nA=1\r\n");
  IniFile bom = IniFile::FromBytes("\xEF\xBB\xBF[TX]\r\nA=5\r\n");
  EXPECT_EQ(bom.ReadInteger("TX", "A", 0), 5);
  bom.WriteString("TX", "A", "6");
  EXPECT_EQ(bom.Bytes(), "\xEF\xBB\xBF[TX]\r\nA=6\r\n");
}

TEST(IniFile, SaveReplacesTheFileWholeAndLeavesNoTemporary) {
  test::TempDir dir;
  const auto path = dir.path / "TX.ini";
  std::ofstream(path, std::ios::binary) << "[TX]\r\nA=1\r\n";
  IniFile ini = IniFile::FromBytes("[TX]\r\nA=2\r\n");
  ASSERT_TRUE(ini.Save(path));
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "[TX]\r\nA=2\r\n");
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path)) ++files;
  EXPECT_EQ(files, 1u);
  const Status lost = ini.Save(dir.path / "no-such-folder" / "TX.ini");
  EXPECT_FALSE(lost);
  EXPECT_FALSE(lost.failure.empty());
}

}  // namespace
}  // namespace korvel
