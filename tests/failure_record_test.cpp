#include <gtest/gtest.h>

#include <string>

#include "launcher/protocol.h"
#include "launcher/update_run.h"
#include "tests/test_support.h"

namespace {

std::string Record(DWORD exitCode, bool isDirect, const std::wstring& passThroughA) {
  DWORD length = 0;
  char* record = FormatFailureRecord(exitCode, isDirect, passThroughA.c_str(), &length);
  std::string bytes(record, length);
  HeapFree(GetProcessHeap(), 0, record);
  return bytes;
}

// What the platform's own "%S" gives, for values that fit its 1024 bytes.
std::string ByWsprintf(DWORD exitCode, bool isDirect, const std::wstring& passThroughA) {
  char buffer[1025];
  int length = wsprintfA(buffer, "java,0x%08X,%s,%S", exitCode, isDirect ? "direct" : "elevated", passThroughA.c_str());
  return std::string(buffer, static_cast<size_t>(length));
}

class FailureRecordFile : public ::testing::Test {
 protected:
  void SetUp() override {
    lstrcpyW(ExeDirectory, scratch.Path().c_str());
    recordPath = scratch.Path() + L"kv-failure-launcher.txt";
  }
  ScratchDirectory scratch;
  std::wstring recordPath;
};

}  // namespace

TEST(FailureRecordText, NamesCodeModeAndPassThroughA) {
  EXPECT_EQ(Record(1, true, L"abc"), "java,0x00000001,direct,abc");
  EXPECT_EQ(Record(0xC0000005, false, L"x y"), "java,0xC0000005,elevated,x y");
  EXPECT_EQ(Record(0xFFFFFFFF, true, L""), "java,0xFFFFFFFF,direct,");
}

TEST(FailureRecordText, ConvertsExactlyAsThePlatformsPercentS) {
  ASSERT_EQ(GetACP(), 1252u) << "the test run pins the locale, and with it the ANSI code page";
  EXPECT_EQ(Record(1, true, L"\u00e9"), "java,0x00000001,direct,\xE9");
  const std::wstring values[] = {
      L"C:\\Users\\\u00e9l\u00e8ve",                       // in the code page
      L"\u0101\u4e2d\u0416",                               // best fit or replacement
      L"\U0001F600 outside the BMP",                       // a surrogate pair
      std::wstring(255, L'x') + L"\U0001F600" + L"tail",   // a pair across a chunk boundary
      std::wstring(900, L'\u00e9') + L"%s%S%08X",          // long, with format characters
  };
  for (const std::wstring& value : values) {
    EXPECT_EQ(Record(2, false, value), ByWsprintf(2, false, value)) << ::testing::PrintToString(value);
  }
}

TEST(FailureRecordText, HoldsAPassThroughOfAnyLengthWhole) {
  std::wstring value;
  for (int index = 0; index < 6000; ++index) {
    value += static_cast<wchar_t>(L'A' + index % 26);
  }
  value += L"\u00e9";
  std::string record = Record(7, true, value);
  ASSERT_EQ(record.size(), 23u + 6001u);
  EXPECT_EQ(record.substr(0, 23), "java,0x00000007,direct,");
  EXPECT_EQ(record.substr(23, 6000), std::string(value.begin(), value.end() - 1));
  EXPECT_EQ(record.back(), '\xE9');
}

TEST_F(FailureRecordFile, IsWrittenAndThenReplacedNotAppended) {
  WriteFailureRecord(1, true, L"first value that is long");
  EXPECT_EQ(ReadBytes(recordPath), "java,0x00000001,direct,first value that is long");
  WriteFailureRecord(0xC0000005, false, L"2nd");
  EXPECT_EQ(ReadBytes(recordPath), "java,0xC0000005,elevated,2nd");
}

TEST_F(FailureRecordFile, IsSuppressedByASemaphoreFileOrDirectory) {
  std::wstring semaphore = scratch.Path() + L"kv-javaSemaphore";
  WriteBytes(semaphore, "");
  WriteFailureRecord(1, true, L"A");
  EXPECT_FALSE(FileExists(recordPath));
  DeleteFileW(semaphore.c_str());

  CreateDirectoryW(semaphore.c_str(), nullptr);
  WriteFailureRecord(1, false, L"A");
  EXPECT_FALSE(FileExists(recordPath));
  RemoveDirectoryW(semaphore.c_str());

  WriteFailureRecord(1, false, L"A");
  EXPECT_TRUE(FileExists(recordPath));
}
