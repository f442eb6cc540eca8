#include "process/starters.h"

#include <gtest/gtest.h>

#include <string>

#include "support/log.h"
#include "tests/child_in_scratch.h"
#include "tests/expected_log.h"
#include "tests/test_support.h"

namespace {

using Starters = ChildInScratch;

}  // namespace

TEST_F(Starters, AProgramThatIsMissingIsLoggedAndItsCodeReturned) {
  std::wstring line = L"\"" + scratch.Path() + L"missing.exe\" -x";
  UniqueHandle handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));  // must be let go
  DWORD code = StartProcess(line.data(), L"updater", ShowDefault, /* redirectToLog */ true, /* currentDirectory */ nullptr, handle);
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(handle.Get(), nullptr);
  EXPECT_EQ(Log(), LoggedStart("updater", line, true) + LoggedError("CreateProcessW", ERROR_FILE_NOT_FOUND));
}

TEST_F(Starters, ARedirectedChildWritesIntoTheLogAndItsCodeIsReturned) {
  StandinSetting output(scratch.Path(), L"STANDIN_STDOUT", L"to stdout\n");
  StandinSetting error(scratch.Path(), L"STANDIN_STDERR", L"to stderr");
  StandinSetting exitCode(scratch.Path(), L"STANDIN_EXIT_CODE", L"3");
  std::wstring line = L"\"" + child + L"\"";
  UniqueHandle handle;
  ASSERT_EQ(StartProcess(line.data(), L"updater", ShowDefault, /* redirectToLog */ true, /* currentDirectory */ nullptr, handle), 0u);
  ASSERT_TRUE(handle.IsValid());
  DWORD code = 0;
  EXPECT_EQ(WaitForChild(handle.Get(), &code), 0u);
  EXPECT_EQ(code, 3u);
  EXPECT_EQ(Log(), LoggedStart("updater", line, true) + "to stdout\nto stderr" + LoggedExit(3));
}

TEST_F(Starters, AChildWithoutRedirectionGetsNoBannerAndLeavesTheLogAlone) {
  StandinSetting output(scratch.Path(), L"STANDIN_STDOUT", L"not in the log\n");
  std::wstring line = L"\"" + child + L"\"";
  UniqueHandle handle;
  ASSERT_EQ(StartProcess(line.data(), L"product", ShowDefault, /* redirectToLog */ false, /* currentDirectory */ nullptr, handle), 0u);
  WaitForSingleObject(handle.Get(), INFINITE);
  EXPECT_EQ(Log(), LoggedStart("product", line, false));
}

TEST_F(Starters, AWaitOrQueryThatFailsIsNeverASuccess) {
  DWORD code = 0;
  EXPECT_EQ(WaitForChild(nullptr, &code), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  // An event can be waited for but has no exit code to query.
  HANDLE signalled = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  EXPECT_EQ(WaitForChild(signalled, &code), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseHandle(signalled);
  EXPECT_EQ(
      Log(), "\n" + LoggedError("WaitForSingleObject", ERROR_INVALID_HANDLE) + "\n" +
                 LoggedError("GetExitCodeProcess", ERROR_INVALID_HANDLE));
}

TEST(FailureCode, IsNeverZero) {
  EXPECT_EQ(FailureCode(0), ErrorWithoutCode);
  EXPECT_NE(ErrorWithoutCode, 0u);
  EXPECT_EQ(FailureCode(ERROR_CANCELLED), static_cast<DWORD>(ERROR_CANCELLED));
}
