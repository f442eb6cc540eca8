#include "process/command_lines.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "launcher/protocol.h"
#include "tests/request_of.h"
#include "tests/test_support.h"

namespace {

// The system is the referee: how CommandLineToArgvW splits a line.
std::vector<std::wstring> Split(const std::wstring& line) {
  int count = 0;
  wchar_t** items = CommandLineToArgvW(line.c_str(), &count);
  std::vector<std::wstring> result(items, items + count);
  LocalFree(items);
  return result;
}

std::wstring Quoted(const wchar_t* value) {
  WideStringBuffer line(0);
  AppendQuoted(line, value);
  return line.Text();
}

struct SixValues {
  const wchar_t* values[6];
};

std::wstring UpdaterLine(const SixValues& six) {
  WideStringBuffer line(1024);
  ComposeUpdaterCommandLine(line, L"D:\\u\\", RequestOf(UpdateMode::Direct, six.values));
  return line.Text();
}

std::wstring ElevatedParameters(const SixValues& six) {
  WideStringBuffer parameters(1024);
  ComposeElevatedParameters(parameters, RequestOf(UpdateMode::Elevate, six.values));
  return parameters.Text();
}

// The lines of a launcher in D:\u\.
class ChildCommandLines : public ::testing::Test {};

}  // namespace

TEST(AppendQuoted, EscapesOnlyWhatTheSplittingRulesWouldEat) {
  const struct {
    const wchar_t* value;
    const wchar_t* quoted;
  } cases[] = {
      {L"", L"\"\""},
      {L"plain", L"\"plain\""},
      {L"C:\\Program Files\\Lindquay", L"\"C:\\Program Files\\Lindquay\""},
      {L"C:\\dir\\", L"\"C:\\dir\\\\\""},
      {L"\\\\server\\share\\\\", L"\"\\\\server\\share\\\\\\\\\""},
      {L"a\"b", L"\"a\\\"b\""},
      {L"a\\\"b", L"\"a\\\\\\\"b\""},
      {L"\"", L"\"\\\"\""},
      {L"\\", L"\"\\\\\""},
      {L"a\\\\b", L"\"a\\\\b\""},
      {L"tab\tand space", L"\"tab\tand space\""},
      {L"*?@%\u00e9\U0001F600", L"\"*?@%\u00e9\U0001F600\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Quoted(c.value), c.quoted) << ::testing::PrintToString(std::wstring(c.value));
    EXPECT_EQ(Quoted(c.value), QuoteForCommandLine(c.value));
  }
}

TEST_F(ChildCommandLines, UpdaterLineIsTheTemplateForPlainValues) {
  EXPECT_EQ(
      UpdaterLine({{L"B", L"S", L"I", L"A", L"P", L"C"}}),
      L"\"D:\\u\\kv-jre\\bin\\java.exe\" -Dfile.encoding=UTF-8 -classpath \"D:\\u\\kv-lib\\*\" "
      L"-Dlindboot.sourceDirectory=\"B\" -Dlindquay.settings=\"S\" com.korvane.lindquay.LindquayUpdater "
      L"\"I\" \"A\" \"D:\\u\\kv-handle\" \"P\" \"D:\\u\\kv-javaSemaphore\" \"C\"");
}

TEST_F(ChildCommandLines, ElevatedParametersAreTheTemplateForPlainValues) {
  EXPECT_EQ(
      ElevatedParameters({{L"B", L"S", L"I", L"A", L"P", L"C"}}),
      L"1 --child \"B\" \"S\" \"I\" \"A\" \"P\" \"C\"");
  EXPECT_EQ(ElevatedParameters({{L"", L"", L"", L"", L"", L""}}), L"1 --child \"\" \"\" \"\" \"\" \"\" \"\"");
}

TEST_F(ChildCommandLines, ProductLineIsTheQuotedPath) {
  WideStringBuffer line(0);
  ComposeProductCommandLine(line, L"C:\\Program Files\\Lindquay");
  EXPECT_STREQ(line.Text(), L"\"C:\\Program Files\\Lindquay\\bin\\lindquay.exe\"");
  EXPECT_EQ(Split(line.Text()), std::vector<std::wstring>{L"C:\\Program Files\\Lindquay\\bin\\lindquay.exe"});
}

TEST_F(ChildCommandLines, EveryValueComesBackWholeAndInItsPlace) {
  const SixValues cases[] = {
      {{L"C:\\boot dir\\", L"C:\\settings\\\\", L"C:\\Program Files\\Lindquay", L"a\"b", L"\\\"", L""}},
      {{L"\"", L"\\", L"x\" \"y", L"\t", L" ", L"\"\""}},
      {{L"*", L"?", L"@args.txt", L"%PATH%", L"\u00e9\u4e2d\U0001F600", L"trailing\\\\\\"}},
      {{L"-Dinjected=1", L"a b\" c \"d", L"\\\\?\\C:\\x\\", L"\"C:\\q\"", L"\u00a0", L"last"}},
  };
  for (const SixValues& six : cases) {
    std::vector<std::wstring> updater = Split(UpdaterLine(six));
    ASSERT_EQ(updater.size(), 13u) << ::testing::PrintToString(UpdaterLine(six));
    EXPECT_EQ(updater[0], L"D:\\u\\kv-jre\\bin\\java.exe");
    EXPECT_EQ(updater[3], L"D:\\u\\kv-lib\\*");
    EXPECT_EQ(updater[4], std::wstring(L"-Dlindboot.sourceDirectory=") + six.values[0]);
    EXPECT_EQ(updater[5], std::wstring(L"-Dlindquay.settings=") + six.values[1]);
    EXPECT_EQ(updater[6], L"com.korvane.lindquay.LindquayUpdater");
    EXPECT_EQ(updater[7], six.values[2]);
    EXPECT_EQ(updater[8], six.values[3]);
    EXPECT_EQ(updater[9], L"D:\\u\\kv-handle");
    EXPECT_EQ(updater[10], six.values[4]);
    EXPECT_EQ(updater[11], L"D:\\u\\kv-javaSemaphore");
    EXPECT_EQ(updater[12], six.values[5]);

    // The shell puts the program in front of the parameters.
    std::vector<std::wstring> elevated = Split(L"\"D:\\u\\lindquay-updater.exe\" " + ElevatedParameters(six));
    ASSERT_EQ(elevated.size(), 9u);
    EXPECT_EQ(elevated[1], L"1");
    EXPECT_EQ(elevated[2], L"--child");
    for (int index = 0; index < 6; ++index) {
      EXPECT_EQ(elevated[3 + index], six.values[index]);
    }
  }
}

TEST_F(ChildCommandLines, LongLinesGrowTheBufferAndStayWhole) {
  std::wstring longValue(3000, L'v');
  longValue += L"\\";
  SixValues six = {{longValue.c_str(), L"S", L"I", L"A", L"P", L"C"}};
  std::vector<std::wstring> updater = Split(UpdaterLine(six));
  ASSERT_EQ(updater.size(), 13u);
  EXPECT_EQ(updater[4], L"-Dlindboot.sourceDirectory=" + longValue);
}
