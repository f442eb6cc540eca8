#include "process/command_lines.h"
#include "process/ansi_view.h"

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

TEST(AnsiView, KeepsOnlyWhatTheCodePageHoldsExactly) {
  const struct {
    const wchar_t* value;
    UINT codePage;
    bool survives;
  } cases[] = {
      {L"", 1252, true},
      {L"C:\\Program Files\\Lindquay \"x\"\t\\", 1252, true},
      {L"C:\\Users\\\u00e9l\u00e8ve \u20ac", 1252, true},
      {L"x\uff02 -javaagent:Z:\\evil.jar \uff02", 1252, false},  // best fit: '"'
      {L"C:\\Users\\\u0141ukasz", 1252, false},                 // best fit: 'L'
      {L"\u5f20\u4f1f", 1252, false},                           // '?'
      {L"\U0001F600", 1252, false},
      {L"\uff3c", 1252, false},                                  // best fit: '\'
      {L"set\u0081x", 1252, false},  // kept by Windows, read as U+FFFD by Java's own decoder
      {L"\u009f", 1252, false},
      {L"set\u0081x", CP_UTF8, true},
      {L"\u5f20\u4f1f", 936, true},
      {L"\u8868\"", 932, false},  // its trail byte is a backslash, which would escape the quote
      {L"\u3042\u3044", 932, true},
      {L"\u0141\u5f20\U0001F600\uff02", CP_UTF8, true},
      {L"a\xd800z", CP_UTF8, false},  // a lone surrogate has no UTF-8 form
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SurvivesCodePage(c.value, c.codePage), c.survives) << Utf8(c.value) << " in " << c.codePage;
  }
}

TEST(AnsiView, GivesPathsTheCodePageLacksInTheirShortFormAndRefusesTheRest) {
  ScratchDirectory scratch;
  const std::wstring app = scratch.Path() + L"\u5f20\u4f1f semi;colon\\";
  const std::wstring boot = scratch.Path() + L"\u0141ukasz";
  ASSERT_TRUE(CreateDirectoryW(app.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(boot.c_str(), nullptr));
  const wchar_t* six[6] = {boot.c_str(), L"S", L"I", L"A", L"P", L"C"};

  AnsiView view;
  WideStringBuffer reason(0);
  ASSERT_EQ(view.Make(app.c_str(), RequestOf(UpdateMode::Direct, six), 1252, reason), 0u);
  const std::wstring directory = view.Directory();
  EXPECT_NE(directory, app);
  EXPECT_EQ(directory.back(), L'\\');
  EXPECT_EQ(directory.find(L';'), std::wstring::npos);
  EXPECT_TRUE(SurvivesCodePage(directory.c_str(), 1252));
  EXPECT_EQ(GetFileAttributesW(directory.c_str()), GetFileAttributesW(app.c_str()));
  EXPECT_TRUE(SurvivesCodePage(view.Request().bootSourceDirectory, 1252));
  EXPECT_NE(std::wstring(view.Request().bootSourceDirectory), boot);
  EXPECT_STREQ(view.Request().settingsDirectory, L"S");  // held exactly: unchanged
  EXPECT_STREQ(view.Request().passThroughC, L"C");

  // A path that does not exist has no short form; a pass-through value is
  // never a path.
  const std::wstring missing = scratch.Path() + L"\u0141missing";
  const wchar_t* missingBoot[6] = {missing.c_str(), L"S", L"I", L"A", L"P", L"C"};
  const wchar_t* outsidePassThrough[6] = {L"B", L"S", L"I", L"A", L"\u5f20", L"C"};
  const wchar_t* plainSix[6] = {L"B", L"S", L"I", L"A", L"P", L"C"};
  const std::wstring missingApp = scratch.Path() + L"gone;away\\";
  const struct {
    const std::wstring& directory;
    const wchar_t* const* six;
    DWORD code;
    std::wstring reason;  // the refusal's reason line names the value and why
  } refused[] = {
      {app, missingBoot, ErrorNotInCodePage,
       L"bootSourceDirectory would reach the Java runtime changed in code page 1252, and it has no short name "
       L"(GetShortPathNameW: 0x00000002)"},
      {app, outsidePassThrough, ErrorNotInCodePage, L"passThroughB would reach the Java runtime changed in code page 1252"},
      {missingApp, plainSix, ERROR_INVALID_NAME,
       L"the launcher's directory " + missingApp + L" holds ';', which would split -classpath, and has no short name "
       L"without it"},
  };
  for (const auto& r : refused) {
    WideStringBuffer why(0);
    EXPECT_EQ(view.Make(r.directory.c_str(), RequestOf(UpdateMode::Direct, r.six), 1252, why), r.code);
    EXPECT_EQ(std::wstring(why.Text()), r.reason);
  }
}
