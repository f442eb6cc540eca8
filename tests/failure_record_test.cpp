#include <gtest/gtest.h>

#include <string>

#include "launcher/protocol.h"
#include "launcher/update_run.h"
#include "tests/test_support.h"

namespace {

constexpr UpdateMode Direct = UpdateMode::Direct;
constexpr UpdateMode Child = UpdateMode::Child;

std::string Record(DWORD exitCode, UpdateMode mode, const std::wstring& passThroughA) {
  ByteBuffer record;
  FormatFailureRecord(record, exitCode, mode, passThroughA.c_str());
  return std::string(record.Bytes(), record.Length());
}

// What the platform's own "%S" gives, for values that fit its 1024 bytes.
std::string ByWsprintf(DWORD exitCode, UpdateMode mode, const std::wstring& passThroughA) {
  char buffer[1025];
  int length = wsprintfA(buffer, "java,0x%08X,%s,%S", exitCode, FailureRecordWord(mode), passThroughA.c_str());
  return std::string(buffer, static_cast<size_t>(length));
}

class FailureRecordFile : public ::testing::Test {
 protected:
  void SetUp() override { recordPath = scratch.Path() + L"kv-failure-launcher.txt"; }
  void Write(DWORD exitCode, UpdateMode mode, const wchar_t* passThroughA) {
    WriteFailureRecord(scratch.Path().c_str(), exitCode, mode, passThroughA);
  }
  ScratchDirectory scratch;
  std::wstring recordPath;
};

}  // namespace

TEST(FailureRecordText, NamesCodeModeAndPassThroughA) {
  EXPECT_EQ(Record(1, Direct, L"abc"), "java,0x00000001,direct,abc");
  EXPECT_EQ(Record(0xC0000005, Child, L"x y"), "java,0xC0000005,elevated,x y");
  EXPECT_EQ(Record(0xFFFFFFFF, Direct, L""), "java,0xFFFFFFFF,direct,");
}

TEST(FailureRecordText, ConvertsExactlyAsThePlatformsPercentS) {
  ASSERT_EQ(GetACP(), 1252u) << "the test run pins the locale, and with it the ANSI code page";
  EXPECT_EQ(Record(1, Direct, L"\u00e9"), "java,0x00000001,direct,\xE9");
  const std::wstring values[] = {
      L"C:\\Users\\\u00e9l\u00e8ve",                       // in the code page
      L"\u0101\u4e2d\u0416",                               // best fit or replacement
      L"\U0001F600 outside the BMP",                       // a surrogate pair
      std::wstring(255, L'x') + L"\U0001F600" + L"tail",   // a pair across a chunk boundary
      std::wstring(900, L'\u00e9') + L"%s%S%08X",          // long, with format characters
  };
  for (const std::wstring& value : values) {
    EXPECT_EQ(Record(2, Child, value), ByWsprintf(2, Child, value)) << ::testing::PrintToString(value);
  }
}

TEST(FailureRecordText, HoldsAPassThroughOfAnyLengthWhole) {
  std::wstring value;
  for (int index = 0; index < 6000; ++index) {
    value += static_cast<wchar_t>(L'A' + index % 26);
  }
  value += L"\u00e9";
  std::string record = Record(7, Direct, value);
  ASSERT_EQ(record.size(), 23u + 6001u);
  EXPECT_EQ(record.substr(0, 23), "java,0x00000007,direct,");
  EXPECT_EQ(record.substr(23, 6000), std::string(value.begin(), value.end() - 1));
  EXPECT_EQ(record.back(), '\xE9');

  // Under a double-byte or UTF-8 ANSI code page a CJK character takes up to
  // three bytes: the buffer must have room for that, whatever this run's
  // code page makes of it.
  const std::wstring cjk(400, L'\u5f20');
  ByteBuffer buffer;
  FormatFailureRecord(buffer, 7, Direct, cjk.c_str());
  EXPECT_GE(buffer.Capacity(), 23u + Narrow(cjk, CP_UTF8).size());
}

TEST_F(FailureRecordFile, IsWrittenAndThenReplacedNotAppended) {
  Write(1, Direct, L"first value that is long");
  EXPECT_EQ(ReadBytes(recordPath), "java,0x00000001,direct,first value that is long");
  Write(0xC0000005, Child, L"2nd");
  EXPECT_EQ(ReadBytes(recordPath), "java,0xC0000005,elevated,2nd");

  // A record with another name is left alone, and so is that other name.
  const std::wstring other = scratch.Path() + L"elsewhere.txt";
  ASSERT_TRUE(CreateHardLinkW(other.c_str(), recordPath.c_str(), nullptr));
  Write(2, Direct, L"A");
  EXPECT_EQ(ReadBytes(other), "java,0xC0000005,elevated,2nd");
}

TEST_F(FailureRecordFile, IsSuppressedByASemaphoreFileOrDirectory) {
  std::wstring semaphore = scratch.Path() + L"kv-javaSemaphore";
  WriteBytes(semaphore, "");
  Write(1, Direct, L"A");
  EXPECT_FALSE(FileExists(recordPath));
  DeleteFileW(semaphore.c_str());

  CreateDirectoryW(semaphore.c_str(), nullptr);
  Write(1, Child, L"A");
  EXPECT_FALSE(FileExists(recordPath));
  RemoveDirectoryW(semaphore.c_str());

  Write(1, Child, L"A");
  EXPECT_TRUE(FileExists(recordPath));
}
