// One holder per settings file, and saves that land where the settings really are.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "Isolation.h"
#include "TempDir.h"
#include "platform/AtomicFile.h"
#include "platform/FileLock.h"

namespace korvel {
namespace {

// A save or a lock as these tests read it: went through, or the words of why not.
[[maybe_unused]] bool SaveWhole(const std::filesystem::path& path, const std::string& bytes,
                                Phrase& error, LinkPolicy links = LinkPolicy::WriteThrough) {
  error = WriteFileAtomically(path, bytes, links).failure;
  return error.empty();
}
[[maybe_unused]] bool Take(FileLock& lock, const std::filesystem::path& path,
                           const std::string& holder, Phrase& error, bool& heldElsewhere) {
  error = lock.Acquire(path, holder).failure;
  heldElsewhere = lock.HeldElsewhere();
  return error.empty();
}

std::string Slurp(const std::filesystem::path& path) {
  const auto read = ReadWholeFile(path);
  return read ? read->bytes : std::string();
}

TEST(FileLock, ASecondHolderIsRefusedAndToldWhoHoldsIt) {
  test::TempDir dir;
  const auto path = dir.path / "TX.ini.lock";
  FileLock first, second;
  ASSERT_TRUE(first.Acquire(path, "station A, pid 1"));
  // Even within one process: the lock belongs to the open file.
  const Status refused = second.Acquire(path, "station B");
  EXPECT_TRUE(second.HeldElsewhere());
  EXPECT_NE(refused.failure.English().find("in use by another station (station A, pid 1)"),
            std::string::npos)
      << refused.failure;
  EXPECT_FALSE(second.Held());
  first.Release();
  EXPECT_TRUE(second.Acquire(path, "station B"));
  EXPECT_EQ(Slurp(path).substr(0, 9), "station B");
}

TEST(FileLock, AFolderThatIsNotThereIsAnErrorWithItsCause) {
  test::TempDir dir;
  FileLock lock;
  const Status failed = lock.Acquire(dir.path / "missing" / "TX.ini.lock", "x");
  EXPECT_FALSE(lock.HeldElsewhere());
  EXPECT_NE(failed.osError, 0);
  EXPECT_NE(failed.failure.English().find("cannot open"), std::string::npos) << failed.failure;
}

TEST(FileLock, AHolderLineThatIsNotTextIsShownAsHex) {
  test::TempDir dir;
  const auto path = dir.path / "TX.ini.lock";
  FileLock first, second;
  ASSERT_TRUE(first.Acquire(path, std::string("\x1b[2J\x01\xff", 6)));
  const Status refused = second.Acquire(path, "station B");
  EXPECT_NE(refused.failure.English().find("(unreadable holder: 1B 5B 32 4A 01 FF)"),
            std::string::npos)
      << refused.failure;
}

#ifndef _WIN32
// Whatever sits where the lock file goes, the station never writes into something that is not
// its own file: it refuses, names the path, and leaves the thing as it was.
TEST(FileLock, SomethingNotOursInTheLocksPlaceIsRefusedAndLeftAlone) {
  struct Case {
    const char* what;
    std::function<void(const std::filesystem::path& lock, const std::filesystem::path& decoy)>
        plant;
    const char* said;
  };
  const Case cases[] = {
      {"a symbolic link to another file",
       [](auto& lock, auto& decoy) { std::filesystem::create_symlink(decoy, lock); },
       "is a symbolic link"},
      {"a link that leads nowhere yet",
       [](auto& lock, auto& decoy) {
         std::filesystem::remove(decoy);
         std::filesystem::create_symlink(decoy, lock);
       },
       "is a symbolic link"},
      {"a hard link to another file",
       [](auto& lock, auto& decoy) { std::filesystem::create_hard_link(decoy, lock); },
       "has 2 hard links"},
      {"a folder", [](auto& lock, auto&) { std::filesystem::create_directory(lock); },
       "is a folder"},
      {"a FIFO (it must not hang the start)",
       [](auto& lock, auto&) { ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0); },
       "is a device or another special file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    const auto lock = dir.path / "TX.ini.lock";
    const auto decoy = dir.path / "decoy";
    std::ofstream(decoy) << "precious";
    c.plant(lock, decoy);
    FileLock station;
    Phrase error;
    bool heldElsewhere = true;
    EXPECT_FALSE(Take(station, lock, "korvel-rf simulate, pid 1", error, heldElsewhere));
    EXPECT_FALSE(heldElsewhere);
    EXPECT_NE(error.English().find(lock.string() + " " + c.said), std::string::npos) << error;
    EXPECT_NE(error.English().find("must be a file of the station's own"), std::string::npos);
    if (std::filesystem::exists(decoy))
      EXPECT_EQ(Slurp(decoy), "precious");
    else
      EXPECT_FALSE(std::filesystem::exists(decoy)) << "a dangling link was followed";
  }
}

TEST(FileLock, AnotherUsersLockFileIsLockedButNotWrittenInto) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a file of another user";
  test::TempDir dir;
  const auto lock = dir.path / "TX.ini.lock";
  std::ofstream(lock) << "theirs\n";
  ASSERT_EQ(::chown(lock.c_str(), 65534, 65534), 0);
  FileLock station;
  Phrase error;
  bool heldElsewhere = false;
  ASSERT_TRUE(Take(station, lock, "korvel-rf-tool, pid 7", error, heldElsewhere)) << error;
  EXPECT_EQ(Slurp(lock), "theirs\n");
}
#endif

#ifdef _WIN32
// The same on Windows: a reparse point where the lock goes is opened as itself and refused.
TEST(FileLock, ASymbolicLinkInTheLocksPlaceIsRefusedOnWindowsToo) {
  test::TempDir dir;
  const auto lock = dir.path / "TX.ini.lock";
  const auto decoy = dir.path / "decoy";
  std::ofstream(decoy) << "precious";
  const bool made = CreateSymbolicLinkW(lock.wstring().c_str(), decoy.wstring().c_str(),
                                        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  const DWORD attributes = GetFileAttributesW(lock.wstring().c_str());
  // Wine 8 answers yes and makes nothing.
  if (!made || attributes == INVALID_FILE_ATTRIBUTES ||
      !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    GTEST_SKIP() << "this system makes no symbolic links here (error " << GetLastError() << ")";
  FileLock station;
  Phrase error;
  bool heldElsewhere = true;
  EXPECT_FALSE(Take(station, lock, "korvel-rf-tool, pid 1", error, heldElsewhere));
  EXPECT_NE(error.English().find("is a symbolic link or junction"), std::string::npos) << error;
  EXPECT_EQ(Slurp(decoy), "precious");
}
#endif

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
  ASSERT_TRUE(SaveWhole(dir.path / "again.ini", "new", error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path / "TX.ini"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path / "again.ini"));
  EXPECT_EQ(Slurp(dir.path / "shared" / "TX.ini"), "new");
  EXPECT_FALSE(std::filesystem::exists(dir.path / "shared" / "TX.ini.tmp"));
}

// A save makes a new temporary of its own: names planted beside the file (the old fixed
// temporary name among them) are never opened, and the final name is replaced only when it
// is a regular file or absent.
TEST(AtomicFile, PlantedNamesNeverRedirectASave) {
  test::TempDir dir;
  const auto decoy = dir.path / "decoy";
  std::ofstream(decoy) << "precious";
  const auto out = dir.path / "out.csv";
  std::filesystem::create_symlink(decoy, dir.path / "out.csv.tmp");
  Phrase error;
  ASSERT_TRUE(SaveWhole(out, "rows", error, LinkPolicy::Refuse)) << error;
  EXPECT_EQ(Slurp(decoy), "precious");
  EXPECT_FALSE(std::filesystem::is_symlink(out));
  EXPECT_EQ(Slurp(out), "rows");

  // The final name itself a link, a folder or a device: refused, nothing written, no
  // temporary left behind.
  std::filesystem::remove(out);
  std::filesystem::create_symlink(decoy, out);
  EXPECT_FALSE(SaveWhole(out, "rows", error, LinkPolicy::Refuse));
  EXPECT_NE(error.English().find(out.string() + " is a symbolic link"), std::string::npos) << error;
  std::filesystem::create_directory(dir.path / "folder.csv");
  EXPECT_FALSE(SaveWhole(dir.path / "folder.csv", "rows", error));
  EXPECT_NE(error.English().find("is a folder, not a file"), std::string::npos) << error;
  EXPECT_FALSE(SaveWhole("/dev/null", "rows", error, LinkPolicy::Refuse));
  EXPECT_NE(error.English().find("/dev/null is a device"), std::string::npos) << error;
  EXPECT_EQ(Slurp(decoy), "precious");
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path)) ++files;
  EXPECT_EQ(files, 4u);  // decoy, out.csv.tmp, out.csv (the link), folder.csv
}

TEST(AtomicFile, AFullDiskFailsTheSaveWithItsCauseAndKeepsTheOldFile) {
  test::TempDir dir;
  const auto disk = dir.path / "disk";
  std::filesystem::create_directory(disk);
  KORVEL_EXPECT_CHILD(test::OnSmallDisk(disk, 64 * 1024, [&] {
    std::ofstream(disk / "TX.ini") << "old";
    test::FillDisk(disk, 0);
    Phrase error;
    EXPECT_FALSE(SaveWhole(disk / "TX.ini", std::string(8192, 'n'), error));
    EXPECT_NE(error.English().find("No space left on device"), std::string::npos) << error;
    EXPECT_EQ(Slurp(disk / "TX.ini"), "old");
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(disk)) ++files;
    EXPECT_EQ(files, 2u) << "a temporary was left behind";  // TX.ini and the filler
  }));
}
#endif

}  // namespace
}  // namespace korvel
