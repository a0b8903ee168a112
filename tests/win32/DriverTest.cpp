// The driver's own parts, before they are trusted to judge the window.
#include <gtest/gtest.h>

#include "Driver.h"
#include "platform/ProcessControl.h"
// clang-format off
#include <shellapi.h>
// clang-format on

namespace korvel::e2e {
namespace {

std::vector<std::wstring> Parsed(const std::wstring& line) {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(line.c_str(), &count);
  std::vector<std::wstring> args(argv, argv + count);
  LocalFree(argv);
  return args;
}

TEST(DriverCommandLine, EveryArgumentArrivesAsItWasGiven) {
  const std::vector<std::wstring> args = {
      L"plain",    L"two words", L"say \"hi\"", L"C:\\dir\\", L"C:\\dir with space\\",
      L"a\\\\\"b", L""};
  const std::vector<std::wstring> got = Parsed(CommandLine(L"C:\\Program Files\\k.exe", args));
  ASSERT_EQ(got.size(), args.size() + 1);
  EXPECT_EQ(got[0], L"C:\\Program Files\\k.exe");
  for (size_t i = 0; i < args.size(); ++i) EXPECT_EQ(got[i + 1], args[i]) << i;
}

TEST(DriverPaths, UnixPathsGoToTheZDrive) {
  EXPECT_EQ(WindowsPath("/work/build/app/demo.exe"), L"Z:\\work\\build\\app\\demo.exe");
  EXPECT_EQ(WindowsPath("C:\\already\\windows.exe"), L"C:\\already\\windows.exe");
  EXPECT_EQ(Utf8(Wide("\xE8\xA8\xAD\xE5\xAE\x9A")),
            "\xE8\xA8\xAD\xE5\xAE\x9A");  // two CJK characters
}

TEST(DriverWaits, ReturnsAsSoonAsDoneAndGivesUpAfterTheTime) {
  int polls = 0;
  EXPECT_TRUE(WaitUntil([&] { return ++polls == 3; }, 10000));
  EXPECT_EQ(polls, 3);
  polls = 0;
  EXPECT_FALSE(WaitUntil([&] { return ++polls < 0; }, 3 * kPollMs));
  EXPECT_GE(polls, 2);
}

TEST(DriverLoaderWindow, TakesTheTitleTheToolGivesIt) {
  LoaderWindow loader(L"KRVRF MFP Loader");
  ASSERT_TRUE(loader.Created());
  EXPECT_EQ(loader.Title(), "KRVRF MFP Loader");
  // The tool's own call, as it reports a unit's result.
  ASSERT_TRUE(RetitleWindow("TApplication", "KRVRF MFP Loader", "FAIL"));
  EXPECT_EQ(loader.Title(), "FAIL");
  EXPECT_FALSE(RetitleWindow("TApplication", "KRVRF MFP Loader", "PASS"));  // no longer its title
}

TEST(DriverFolders, AFreshFolderIsEmptyAndGoesWithEverythingInIt) {
  std::wstring path;
  {
    TempFolder folder(L"korvel-e2e-self-");
    path = folder.Path();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(folder.Files().empty());
    HANDLE f = CreateFileW((path + L"\\TX.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);
    EXPECT_TRUE(folder.Has(L"TX.ini"));
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"TX.ini"});
  }
  EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(DriverRegistry, KeepsAndForgetsAUserValue) {
  const std::wstring key = L"Software\\KORVEL\\e2e-self-test";
  ASSERT_TRUE(SetUserString(key, L"Value", L"lkChs"));
  EXPECT_EQ(UserString(key, L"Value"), "lkChs");
  EXPECT_TRUE(DeleteUserValue(key, L"Value"));
  EXPECT_EQ(UserString(key, L"Value"), "");
  EXPECT_TRUE(DeleteUserValue(key, L"Value"));  // already gone
  RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
}

}  // namespace
}  // namespace korvel::e2e
