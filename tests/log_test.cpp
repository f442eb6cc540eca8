#include "support/log.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace {

class Log : public ::testing::Test {
 protected:
  void SetUp() override { logPath = scratch.Path() + L"kv-out.txt"; }
  void TearDown() override {
    if (LogHandle != nullptr && LogHandle != INVALID_HANDLE_VALUE) {
      CloseHandle(LogHandle);
    }
    LogHandle = nullptr;
  }
  void Reopen() {
    TearDown();
    OpenLog(scratch.Path().c_str());
  }
  ScratchDirectory scratch;
  std::wstring logPath;
};

}  // namespace

TEST_F(Log, IsCreatedThenAppendedToAcrossOpens) {
  OpenLog(scratch.Path().c_str());
  ASSERT_NE(LogHandle, INVALID_HANDLE_VALUE);
  LogText(L"first\n");
  Reopen();
  LogText(L"second\n");
  EXPECT_EQ(ReadBytes(logPath), "first\nsecond\n");
}

TEST_F(Log, WritesUtf8WithoutAByteOrderMarkAndNothingForAnEmptyText) {
  OpenLog(scratch.Path().c_str());
  LogText(L"");
  LogText(L"C:\\\u00e9\u4e2d\U0001F600\n");
  EXPECT_EQ(ReadBytes(logPath), "C:\\\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\n");
}

TEST_F(Log, FormatsErrorLinesInTheirShape) {
  OpenLog(scratch.Path().c_str());
  LogFormat("Error: CreateProcessW: 0x%08X\n", 2u);
  LogFormat("Starting %S:\n", L"updater");
  std::string log = ReadBytes(logPath);
  EXPECT_EQ(log, "Error: CreateProcessW: 0x00000002\nStarting updater:\n");
  EXPECT_EQ(log.find('\n') + 1, 34u);
}

TEST_F(Log, LandsAtTheEndAfterAnotherWriter) {
  OpenLog(scratch.Path().c_str());
  LogText(L"mine\n");
  HANDLE other = CreateFileW(
      logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  SetFilePointer(other, 0, nullptr, FILE_END);
  DWORD written = 0;
  WriteFile(other, "theirs, longer\n", 15, &written, nullptr);
  CloseHandle(other);
  LogText(L"mine again\n");
  EXPECT_EQ(ReadBytes(logPath), "mine\ntheirs, longer\nmine again\n");
}

TEST_F(Log, AnUnwritableLogIsSilentlyLost) {
  CreateDirectoryW(logPath.c_str(), nullptr);  // kv-out.txt cannot be opened as a file
  OpenLog(scratch.Path().c_str());
  EXPECT_EQ(LogHandle, INVALID_HANDLE_VALUE);
  LogText(L"lost\n");
  LogFormat("Error: %s: 0x%08X\n", "x", 1u);
  EXPECT_TRUE(GetFileAttributesW(logPath.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}
