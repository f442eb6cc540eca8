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
  const struct {
    const wchar_t* text;
    const char* bytes;
  } rows[] = {
      {L"", ""},
      {L"C:\\\u00e9\u4e2d\U0001F600\n", "C:\\\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\n"},
      // Three bytes for most units: the most a UTF-16 unit takes.
      {L"\u5f20\u4f1f\u7684\u66f4\u65b0\n", "\xE5\xBC\xA0\xE4\xBC\x9F\xE7\x9A\x84\xE6\x9B\xB4\xE6\x96\xB0\n"},
  };
  for (const auto& row : rows) {
    TearDown();
    DeleteFileW(logPath.c_str());
    OpenLog(scratch.Path().c_str());
    LogText(row.text);
    EXPECT_EQ(ReadBytes(logPath), row.bytes) << Utf8(row.text);
  }
}

TEST_F(Log, FormatsNarrowAndWideArguments) {
  OpenLog(scratch.Path().c_str());
  LogFormat("%s: 0x%08X\n", "Call", 2u);
  LogFormat("Starting %S:\n", L"updater");
  std::string log = ReadBytes(logPath);
  EXPECT_EQ(log, "Call: 0x00000002\nStarting updater:\n");
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
  LogFormat("%s: 0x%08X\n", "x", 1u);
  EXPECT_TRUE(GetFileAttributesW(logPath.c_str()) & FILE_ATTRIBUTE_DIRECTORY);

  // A log with another name would write into a file elsewhere.
  RemoveDirectoryW(logPath.c_str());
  const std::wstring other = scratch.Path() + L"elsewhere.txt";
  WriteBytes(other, "kept");
  ASSERT_TRUE(CreateHardLinkW(logPath.c_str(), other.c_str(), nullptr));
  OpenLog(scratch.Path().c_str());
  EXPECT_EQ(LogHandle, INVALID_HANDLE_VALUE);
  LogText(L"lost\n");
  EXPECT_EQ(ReadBytes(other), "kept");

  // So would a file link, which only Windows makes: Wine shows a host link to
  // a file as that file.
  if (!UnderWine()) {
    ASSERT_TRUE(DeleteFileW(logPath.c_str()));
    ASSERT_TRUE(CreateSymbolicLinkW(logPath.c_str(), other.c_str(), /* dwFlags: a file */ 0));
    OpenLog(scratch.Path().c_str());
    EXPECT_EQ(LogHandle, INVALID_HANDLE_VALUE);
    LogText(L"lost\n");
    EXPECT_EQ(ReadBytes(other), "kept");
  }
}
