#include "launcher/protocol.h"
#include "launcher/run_launcher.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Cut(const wchar_t* path) {
  std::wstring copy = path;
  CutToDirectory(copy.data());
  return copy.c_str();
}

}  // namespace

TEST(CutToDirectory, KeepsEverythingUpToTheLastSeparatorOfEitherKind) {
  EXPECT_EQ(Cut(L"C:\\dir\\sub\\lindquay-updater.exe"), L"C:\\dir\\sub\\");
  EXPECT_EQ(Cut(L"C:/dir/sub/lindquay-updater.exe"), L"C:/dir/sub/");
  EXPECT_EQ(Cut(L"C:\\dir/sub\\x.exe"), L"C:\\dir/sub\\");
  EXPECT_EQ(Cut(L"C:\\dir\\sub/x.exe"), L"C:\\dir\\sub/");
  EXPECT_EQ(Cut(L"\\\\server\\share\\x.exe"), L"\\\\server\\share\\");
  EXPECT_EQ(Cut(L"C:\\dir\\"), L"C:\\dir\\");
}

TEST(CutToDirectory, LeavesAPathWithoutSeparatorAndIndexZeroAlone) {
  EXPECT_EQ(Cut(L"lindquay-updater.exe"), L"lindquay-updater.exe");
  EXPECT_EQ(Cut(L"\\x.exe"), L"\\x.exe");  // index 0 is never examined
  EXPECT_EQ(Cut(L""), L"");
}

TEST(LoadExePaths, FillsBothPathsWhole) {
  ASSERT_EQ(LoadExePaths(ExePathCapacity), 0u);
  wchar_t expected[MAX_PATH];
  GetModuleFileNameW(nullptr, expected, MAX_PATH);
  EXPECT_STREQ(ExePath, expected);
  std::wstring directory = expected;
  directory.resize(directory.find_last_of(L'\\') + 1);
  EXPECT_EQ(std::wstring(ExeDirectory), directory);
}

TEST(LoadExePaths, RefusesAPathThatDoesNotFitRatherThanCutIt) {
  LoadExePaths(ExePathCapacity);
  DWORD length = static_cast<DWORD>(lstrlenW(ExePath));
  // One character short of the path and its terminator: the system cuts it.
  EXPECT_EQ(LoadExePaths(length), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(LoadExePaths(length + 1), 0u);
  LoadExePaths(ExePathCapacity);
}

TEST(IsExactly, MatchesOnlyTheExactCodeUnits) {
  EXPECT_TRUE(IsExactly(L"--direct", ModeDirect));
  EXPECT_TRUE(IsExactly(L"1", ProtocolVersion));
  const wchar_t* nearMisses[] = {
      L"--Direct", L"--DIRECT", L" --direct", L"--direct ", L"--dir\u00adect", L"--direct\u200b",
      L"\uff11", L"01", L"1 ", L"", L"--direc", L"--directx", L"\u2010-direct"};
  for (const wchar_t* value : nearMisses) {
    EXPECT_FALSE(IsExactly(value, ModeDirect) || IsExactly(value, ProtocolVersion)) << ::testing::PrintToString(std::wstring(value));
  }
}
