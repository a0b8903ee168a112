// One holder per settings file, and saves that land where the settings really are.
#include <gtest/gtest.h>

#include <fstream>

#include "TempDir.h"
#include "platform/AtomicFile.h"
#include "platform/FileLock.h"

namespace korvel {
namespace {

std::string Slurp(const std::filesystem::path& path) {
  std::string bytes;
  Phrase error;
  bool missing = false;
  ReadWholeFile(path, bytes, missing, error);
  return bytes;
}

TEST(FileLock, ASecondHolderIsRefusedAndToldWhoHoldsIt) {
  test::TempDir dir;
  const auto path = dir.path / "TX.ini.lock";
  FileLock first, second;
  Phrase error;
  bool heldElsewhere = false;
  ASSERT_TRUE(first.Acquire(path, "station A, pid 1", error, heldElsewhere)) << error;
  // Even within one process: the lock belongs to the open file.
  EXPECT_FALSE(second.Acquire(path, "station B", error, heldElsewhere));
  EXPECT_TRUE(heldElsewhere);
  EXPECT_NE(error.English().find("in use by another station (station A, pid 1)"), std::string::npos)
      << error;
  EXPECT_FALSE(second.Held());
  first.Release();
  error = {};
  EXPECT_TRUE(second.Acquire(path, "station B", error, heldElsewhere)) << error;
  EXPECT_EQ(Slurp(path).substr(0, 9), "station B");
}

TEST(FileLock, AFolderThatIsNotThereIsAnErrorWithItsCause) {
  test::TempDir dir;
  FileLock lock;
  Phrase error;
  bool heldElsewhere = true;
  EXPECT_FALSE(lock.Acquire(dir.path / "missing" / "TX.ini.lock", "x", error, heldElsewhere));
  EXPECT_FALSE(heldElsewhere);
  EXPECT_NE(error.English().find("cannot open"), std::string::npos) << error;
}

TEST(AtomicFile, StaleTemporariesOfKilledSavesGoAndNothingElse) {
  test::TempDir dir;
  const auto target = dir.path / "TX.ini";
  for (const char* name :
       {"TX.ini", "TX.ini.tmp", "TX.ini.tmp4242", "TX.ini.tmpkeep", "TX.ini.bak", "other.ini.tmp1"})
    std::ofstream(dir.path / name) << "x";
  RemoveStaleTemporaries(target);
  for (const char* gone : {"TX.ini.tmp", "TX.ini.tmp4242"})
    EXPECT_FALSE(std::filesystem::exists(dir.path / gone)) << gone;
  for (const char* kept : {"TX.ini", "TX.ini.tmpkeep", "TX.ini.bak", "other.ini.tmp1"})
    EXPECT_TRUE(std::filesystem::exists(dir.path / kept)) << kept;
}

#ifndef _WIN32
TEST(AtomicFile, ASaveThroughALinkReplacesTheTargetAndKeepsTheLink) {
  test::TempDir dir;
  std::filesystem::create_directory(dir.path / "shared");
  std::ofstream(dir.path / "shared" / "TX.ini") << "old";
  std::filesystem::create_symlink("shared/TX.ini", dir.path / "TX.ini");
  std::filesystem::create_symlink(dir.path / "TX.ini", dir.path / "again.ini");  // a chain
  EXPECT_EQ(WriteTarget(dir.path / "again.ini"), dir.path / "shared" / "TX.ini");
  Phrase error;
  ASSERT_TRUE(WriteFileAtomically(dir.path / "again.ini", "new", error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path / "TX.ini"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path / "again.ini"));
  EXPECT_EQ(Slurp(dir.path / "shared" / "TX.ini"), "new");
  EXPECT_FALSE(std::filesystem::exists(dir.path / "shared" / "TX.ini.tmp"));
}
#endif

}  // namespace
}  // namespace korvel
