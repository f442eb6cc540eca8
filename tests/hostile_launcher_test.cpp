// Hostile input, limits and faults, end to end: the real executable with the
// stand-in runtime and product, judged by its full exit code and the files it
// leaves. Every value must reach the updater whole and as one argument, the
// updater's code must come back whole, and a failing log must never stop an
// update.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/hard_values.h"
#include "tests/launcher_fixture.h"
#include "tests/long_paths.h"
#include "tests/same_text.h"

namespace {

constexpr size_t MaxCommandLineLength = 32766;

// `value` with every character that the ANSI code page lacks replaced by one
// it holds: so that most runs reach the updater, hard characters and all.
std::wstring FoldIntoCodePage(const std::wstring& value) {
  std::wstring folded;
  for (wchar_t character : value) {
    folded += LauncherRun::HeldByCodePage({std::wstring(1, character)}) ? character : L'\u00e9';
  }
  return folded;
}

std::wstring Hex(const std::string& bytes) {
  const wchar_t digits[] = L"0123456789ABCDEF";
  std::wstring hex;
  for (unsigned char byte : bytes) {
    hex.push_back(digits[byte >> 4]);
    hex.push_back(digits[byte & 15]);
  }
  return hex;
}

class HostileRun : public LauncherRun {
 protected:
  // Removes what a run leaves, so that the next run is judged on its own.
  void Fresh() {
    const wchar_t* names[] = {L"kv-out.txt", L"kv-failure-launcher.txt", L"kv-jre\\bin\\java-cmdline.txt",
                              L"kv-jre\\bin\\java-split.bin", L"kv-jre\\bin\\java-argv.bin"};
    for (const wchar_t* name : names) {
      DeleteFileW((app + name).c_str());
    }
    DeleteFileW((install + L"\\bin\\product-started.txt").c_str());
  }
  std::string RecordFile() const { return ReadBytes(app + L"kv-failure-launcher.txt"); }
  bool HasRecord() const { return FileExists(app + L"kv-failure-launcher.txt"); }

  // The line the elevated instance is started with, as the shell makes it.
  std::wstring ElevatedLine(const std::vector<std::wstring>& values) const {
    std::wstring line = L"\"" + launcher + L"\" 1 --child";
    for (const std::wstring& value : values) {
      line += L" " + QuoteForCommandLine(value);
    }
    return line;
  }
  std::wstring InvokingLine(const std::wstring& mode, const std::vector<std::wstring>& values) const {
    std::wstring line = L"\"" + launcher + L"\" 1 " + mode;
    for (const std::wstring& value : values) {
      line += L" " + QuoteForCommandLine(value);
    }
    return line;
  }
};

}  // namespace

// Quoting, by property, through the real executable: the launcher splits its
// own line, composes the updater's, and the stand-in runtime splits that with
// CommandLineToArgvW, with its C runtime and in its ANSI view. One run in five
// goes through the elevated instance, which splits and composes once more.
// Two runs in three keep to what the ANSI code page holds; the rest mostly do
// not, and their updater start must be refused (none of these values names an
// existing path, so none has a short name). The runs go in twelve blocks of 25,
// each a test of its own that shards of the program run side by side; a
// block draws the values of the runs before it and drops them, so that every
// run gets the values it would get in one long sequence.
class HostileSeededRuns : public HostileRun, public ::testing::WithParamInterface<int> {};

TEST_P(HostileSeededRuns, HardValuesReachTheRuntimeWholeDirectlyAndThroughTheElevatedInstance) {
  constexpr int Runs = 25;
  const int first = GetParam() * Runs;
  const uint64_t seed = PropertySeed(0x454E44544F454E44ull);
  HardValues generator(seed);
  auto exitCode = Scenario(L"STANDIN_EXIT_CODE", L"5");  // no product start; the record is judged too
  long long values = 0, valuesLost = 0, extraArguments = 0, elevated = 0, otherFaults = 0, refused = 0;
  for (int run = 0; run < first + Runs; ++run) {
    const bool elevate = run % 5 == 4;
    std::vector<std::wstring> six = generator.NextSix(10);
    if (run < first) {
      continue;
    }
    if (run % 3 != 2) {
      for (std::wstring& value : six) {
        value = FoldIntoCodePage(value);
      }
    }
    SCOPED_TRACE(::testing::PrintToString(six));
    Fresh();
    const wchar_t* mode = elevate ? L"--elevate" : L"--direct";
    ProcessResult result = Run(mode, six);
    elevated += elevate;
    values += 6;

    if (!HeldByCodePage(six)) {
      ++refused;
      const bool whole = result.exitCode == ERROR_NO_UNICODE_TRANSLATION && !JavaRan() && !HasRecord() &&
                         WithoutReason(Log()) == RefusedLines(mode, six, ERROR_NO_UNICODE_TRANSLATION);
      otherFaults += !whole;
      EXPECT_TRUE(whole) << Log();
      continue;
    }
    std::vector<std::wstring> expected = ExpectedJavaArguments(six);
    for (const std::vector<std::wstring>& split : {JavaSplit(), JavaArgv(), JavaAnsiSplit()}) {
      if (split.size() > expected.size()) {
        extraArguments += static_cast<long long>(split.size() - expected.size());
      }
      for (size_t position : {4, 5, 7, 8, 10, 12}) {
        if (position >= split.size() || split[position] != expected[position]) {
          ++valuesLost;
        }
      }
      EXPECT_EQ(split, expected);
    }
    std::string log = StartLines(mode, six) + EndLines(mode, 5);
    bool whole = result.exitCode == 5 && Log() == log && RecordFile() == Record(mode, 5, six[3]);
    otherFaults += !whole;
    EXPECT_EQ(result.exitCode, 5u);
    EXPECT_TRUE(SameText(Log(), log));
    EXPECT_EQ(RecordFile(), Record(mode, 5, six[3]));
  }
  std::printf(
      "end-to-end quoting: seed 0x%016llX, runs %d to %d (%lld through the elevated instance), %lld values, "
      "%lld values not round-tripped (CommandLineToArgvW, C runtime argv and the ANSI view), %lld extra arguments, "
      "%lld runs refused for values the ANSI code page lacks, "
      "%lld runs with another fault\n",
      static_cast<unsigned long long>(seed), first, first + Runs - 1, elevated, values, valuesLost, extraArguments,
      refused, otherFaults);
  EXPECT_EQ(valuesLost, 0);
  EXPECT_EQ(extraArguments, 0);
  EXPECT_GT(refused, 0);
  EXPECT_GT(Runs - refused, Runs / 2);
}
INSTANTIATE_TEST_SUITE_P(Blocks, HostileSeededRuns, ::testing::Range(0, 12));

// The updater's line at the system's limit arrives whole; one character more
// and the start fails with the system's code, never with a cut value. The
// length goes into passThroughA, so the failure record holds a value of some
// 32,000 characters whole as well.
TEST_F(HostileRun, AnUpdaterLineAtTheLimitArrivesWholeAndOneCharacterMoreFailsCleanly) {
  auto exitCode = Scenario(L"STANDIN_EXIT_CODE", L"7");
  for (const wchar_t* mode : {L"--direct", L"--elevate"}) {
    for (size_t excess : {0, 1}) {
      SCOPED_TRACE(Utf8(mode) + (excess ? " one over" : " at the limit"));
      std::vector<std::wstring> six = Values();
      // Hard characters first, padding next, and a backslash last that the
      // quoting doubles.
      const std::wstring hard = L"A \"q\" \\\" \u00e9\u20ac\u00c5 %PATH% ";
      six[3] = hard + L"\\";
      six[3] = hard + std::wstring(MaxCommandLineLength + excess - ExpectedUpdaterLine(six).size(), L'a') + L"\\";
      ASSERT_EQ(ExpectedUpdaterLine(six).size(), MaxCommandLineLength + excess);
      ASSERT_LE(InvokingLine(mode, six).size(), MaxCommandLineLength) << "the test's own line must fit";
      Fresh();
      ProcessResult result = Run(mode, six);
      if (excess == 0) {
        EXPECT_EQ(result.exitCode, 7u);
        std::vector<std::wstring> split = JavaSplit();
        ASSERT_EQ(split.size(), 13u);
        EXPECT_TRUE(SameText(split[8], six[3]));
        EXPECT_EQ(JavaArgv(), ExpectedJavaArguments(six));
        EXPECT_TRUE(SameText(RecordFile(), Record(mode, 7, six[3])));
        EXPECT_TRUE(SameText(Log(), StartLines(mode, six) + EndLines(mode, 7)));
      } else {
        EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
        EXPECT_FALSE(JavaRan());
        EXPECT_FALSE(HasRecord());
        EXPECT_TRUE(SameText(
            WithoutReason(Log()), StartLines(mode, six) + LoggedError("CreateProcessW", ERROR_FILENAME_EXCED_RANGE) +
                       FirstInstanceExitLines(mode, ERROR_FILENAME_EXCED_RANGE)));
      }
    }
  }
  EXPECT_FALSE(ProductStartedWithin(300));
}

// The elevated instance's line is the first instance's own with every value
// quoted: an invoking party that quotes nothing makes it longer than its own.
TEST_F(HostileRun, AnElevatedLineAtTheLimitArrivesWholeAndOneCharacterMoreFailsCleanly) {
  for (size_t excess : {0, 1}) {
    SCOPED_TRACE(excess ? "one over" : "at the limit");
    std::vector<std::wstring> six = {L"B", L"S", install, L"A", L"P", L"C"};
    six[0] += std::wstring(MaxCommandLineLength + excess - ElevatedLine(six).size(), L'b');
    ASSERT_EQ(ElevatedLine(six).size(), MaxCommandLineLength + excess);
    std::wstring arguments = L"1 --elevate";
    for (const std::wstring& value : six) {
      arguments += L" " + value;  // unquoted: none holds a space or a quote
    }
    ASSERT_LE(arguments.size() + launcher.size() + 3, MaxCommandLineLength);
    Fresh();
    ProcessResult result = RunRaw(arguments);
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    if (excess == 0) {
      // The elevated instance got every value whole, and its own updater line
      // is the one that is too long.
      EXPECT_TRUE(SameText(
          WithoutReason(Log()), StartLines(L"--elevate", six) + LoggedError("CreateProcessW", ERROR_FILENAME_EXCED_RANGE) +
                     ExitLines(ERROR_FILENAME_EXCED_RANGE)));
    } else {
      EXPECT_TRUE(
          SameText(WithoutReason(Log()), ElevatedStartLines(six) + LoggedError("ShellExecuteExW", ERROR_FILENAME_EXCED_RANGE)));
    }
    EXPECT_FALSE(JavaRan());
    EXPECT_FALSE(HasRecord());
  }
}

// Under Wine no program starts from a path of 260 characters or more, so the
// launcher itself can live at most in a directory of 259 - length of its name.
// A short name reaches 253. From 241 on, the runtime's own path passes the
// mark and its start fails. Either way the run is complete or ends with the
// code it logged, and nothing in an ancestor directory is touched.
TEST_F(HostileRun, LauncherDirectoriesAcrossTheMarkWorkOrEndWithTheirCode) {
  const std::wstring base = scratch.Path() + L"deep\\";
  const std::wstring built = TestProgramDirectory();
  const size_t lengths[] = {230, 239, 240, 241, 250, 253};
  for (size_t length : lengths) {
    SCOPED_TRACE(length);
    std::wstring directory = MakeDirectoryOfLength(base, length);
    ASSERT_EQ(directory.size(), length);
    std::wstring name = length + 20 <= 259 ? L"lindquay-updater.exe" : L"lu.exe";
    ASSERT_TRUE(CopyFileW((built + L"lindquay-updater.exe").c_str(), (directory + name).c_str(), FALSE));
    CreateDirectoryW((directory + L"kv-jre").c_str(), nullptr);
    CreateDirectoryW((directory + L"kv-jre\\bin").c_str(), nullptr);
    CopyFileW((built + L"java-standin.exe").c_str(), (directory + L"kv-jre\\bin\\java.exe").c_str(), FALSE);
    for (const std::wstring& ancestor : AncestorsBelow(base, directory)) {
      CreateDirectoryW((ancestor + L"kv-jre").c_str(), nullptr);
      CreateDirectoryW((ancestor + L"kv-jre\\bin").c_str(), nullptr);
      CopyFileW((built + L"java-standin.exe").c_str(), (ancestor + L"kv-jre\\bin\\java.exe").c_str(), FALSE);
      WriteBytes(ancestor + L"kv-scriptSemaphore", "");
      WriteBytes(ancestor + L"kv-out.txt", "the ancestor's own\n");
    }
    const std::vector<std::wstring> before = Snapshot(base, directory);
    const bool runtimeStarts = length + 19 <= 259;  // kv-jre\bin\java.exe

    // The fixture's expectations follow `app` and `launcher`.
    app = updaterApp = directory;
    launcher = directory + name;
    for (const wchar_t* mode : {L"--direct", L"--elevate"}) {
      SCOPED_TRACE(Utf8(mode));
      for (DWORD code : {0u, 3u}) {
        Fresh();
        WriteBytes(app + L"kv-scriptSemaphore", "");
        auto exitCode = Scenario(L"STANDIN_EXIT_CODE", std::to_wstring(code));
        ProcessResult result = Run(mode, Values());
        ASSERT_TRUE(result.finished);
        EXPECT_FALSE(FileExists(app + L"kv-scriptSemaphore"));
        if (runtimeStarts) {
          EXPECT_EQ(result.exitCode, code);
          EXPECT_EQ(JavaSplit(), ExpectedJavaArguments(Values()));
          EXPECT_EQ(Log(), StartLines(mode, Values()) + EndLines(mode, code));
          if (code == 0) {
            EXPECT_TRUE(WaitForProduct().started);
          } else {
            EXPECT_EQ(RecordFile(), Record(mode, code, L"A"));
          }
        } else {
          EXPECT_NE(result.exitCode, 0u);
          EXPECT_EQ(Log(), StartLines(mode, Values()) + LoggedError("CreateProcessW", result.exitCode) +
                               FirstInstanceExitLines(mode, result.exitCode));
          EXPECT_FALSE(JavaRan());
          EXPECT_FALSE(HasRecord());
          EXPECT_FALSE(ProductStartedWithin(100));
        }
        EXPECT_EQ(Snapshot(base, directory), before) << "nothing in an ancestor may change";
      }
    }
    RemoveTree(base);
  }
}

// kv-out.txt is a directory, or another program holds it open without
// sharing: nothing can be logged, and nothing else changes.
TEST_F(HostileRun, AnUnwritableLogStopsNothing) {
  const struct {
    const wchar_t* mode;
    DWORD code;
  } cases[] = {
      {L"--direct", 0}, {L"--direct", 6}, {L"--elevate", 0}, {L"--elevate", 6}, {L"--child", 0}, {L"--child", 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.mode) + " " + std::to_string(c.code) + ", held open");
    Fresh();
    WriteBytes(app + L"kv-out.txt", "another program's\n");
    HANDLE held = CreateFileW((app + L"kv-out.txt").c_str(), GENERIC_READ, /* dwShareMode */ 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    auto exitCode = Scenario(L"STANDIN_EXIT_CODE", std::to_wstring(c.code));
    ProcessResult result = Run(c.mode, Values());
    CloseHandle(held);
    EXPECT_EQ(result.exitCode, c.code);
    EXPECT_EQ(JavaSplit(), ExpectedJavaArguments(Values()));
    EXPECT_EQ(HasRecord(), c.code != 0);
    if (c.code != 0) {
      EXPECT_EQ(RecordFile(), Record(c.mode, c.code, L"A"));
    }
    const bool restarts = RestartsProduct(c.mode, c.code);
    EXPECT_EQ(WaitForProduct(install + L"\\bin\\", restarts ? 10000 : 200).started, restarts);
    EXPECT_EQ(Log(), "another program's\n");
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.mode) + " " + std::to_string(c.code) + ", a directory");
    Fresh();
    ASSERT_TRUE(CreateDirectoryW((app + L"kv-out.txt").c_str(), nullptr));
    auto exitCode = Scenario(L"STANDIN_EXIT_CODE", std::to_wstring(c.code));
    auto output = Scenario(L"STANDIN_STDOUT", L"nowhere to go\n");
    ProcessResult result = Run(c.mode, Values());
    EXPECT_EQ(result.exitCode, c.code);
    EXPECT_EQ(JavaSplit(), ExpectedJavaArguments(Values()));
    if (c.code != 0) {
      EXPECT_EQ(RecordFile(), Record(c.mode, c.code, L"A"));
    } else {
      EXPECT_FALSE(HasRecord());
    }
    if (RestartsProduct(c.mode, c.code)) {
      EXPECT_TRUE(WaitForProduct().started);
    } else {
      EXPECT_FALSE(ProductStartedWithin(200));
    }
    for (const std::wstring& held : JavaFiles()) {
      EXPECT_NE(held.rfind(L"process ", 0), 0u) << "without a log, the updater got a handle to a process";
    }
    EXPECT_TRUE(GetFileAttributesW((app + L"kv-out.txt").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(Snapshot(app + L"kv-out.txt\\", L"").empty());
    EXPECT_EQ(result.standardOutput + result.standardError, "");
    RemoveDirectoryW((app + L"kv-out.txt").c_str());
  }
}

// What the updater writes goes into the log byte for byte, text or not; the
// launcher's own line feed ends a last line the updater left open.
TEST_F(HostileRun, OddOutputGoesIntoTheLogByteForByte) {
  std::string everyByte;
  for (int index = 0; index < 256; ++index) {
    everyByte.push_back(static_cast<char>((index * 167 + 13) % 256));  // every value once, ending in neither LF nor 0
  }
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"nothing at all", ""},
      {"every byte value, no final line feed", everyByte},
      {"a carriage return last", "line\r"},
      {"a zero byte last", std::string("zero\0", 5)},
      {"broken UTF-8", "\xC3\x28\xF0\x9F\x98"},
  };
  for (const auto& c : cases) {
    for (const wchar_t* mode : {L"--direct", L"--elevate"}) {
      SCOPED_TRACE(std::string(c.name) + " " + Utf8(mode));
      Fresh();
      auto raw = Scenario(L"STANDIN_STDOUT_HEX", Hex(c.bytes));
      ProcessResult result = Run(mode, Values());
      EXPECT_EQ(result.exitCode, 0u);
      EXPECT_EQ(Log(), StartLines(mode, Values()) + c.bytes + EndLines(mode, 0));
      EXPECT_TRUE(WaitForProduct().started);
    }
  }
}

// 259 is STILL_ACTIVE, what GetExitCodeProcess reports for a child that has
// not ended; 0xFFFFFFFF is -1. Both are the updater's failure, whole.
TEST_F(HostileRun, OddExitCodesComeBackWholeAndCountAsFailure) {
  const DWORD codes[] = {259, 0xFFFFFFFF, 0x80000000, 0x20000001};
  for (DWORD code : codes) {
    for (const wchar_t* mode : {L"--direct", L"--elevate", L"--child"}) {
      SCOPED_TRACE(Utf8(mode) + " " + std::to_string(code));
      Fresh();
      auto exitCode = Scenario(L"STANDIN_EXIT_CODE", std::to_wstring(code));
      ProcessResult result = Run(mode, Values());
      EXPECT_EQ(result.exitCode, code);
      EXPECT_EQ(RecordFile(), Record(mode, code, L"A"));
      EXPECT_EQ(Log(), StartLines(mode, Values()) + EndLines(mode, code));
    }
  }
  EXPECT_FALSE(ProductStartedWithin(300));
}

TEST_F(HostileRun, ArgumentsBeyondTheSixAreIgnored) {
  const std::wstring six = L"B S " + QuoteForCommandLine(install) + L" A P C";
  const std::wstring extras[] = {L" extra", L" \"\" \"\"", L" 1 --child x y z", L" \"a b\" c\\\" d \"e"};
  for (const std::wstring& extra : extras) {
    for (const wchar_t* mode : {L"--direct", L"--elevate"}) {
      SCOPED_TRACE(Utf8(mode) + Utf8(extra));
      Fresh();
      ProcessResult result = RunRaw(L"1 " + std::wstring(mode) + L" " + six + extra);
      EXPECT_EQ(result.exitCode, 0u);
      EXPECT_EQ(JavaSplit(), ExpectedJavaArguments(Values()));
      EXPECT_EQ(JavaArgv(), ExpectedJavaArguments(Values()));
      EXPECT_EQ(Log(), StartLines(mode, Values()) + EndLines(mode, 0));
      EXPECT_TRUE(WaitForProduct().started);
    }
  }
}

TEST_F(HostileRun, EmptyValuesAreValuesInTheirPlaces) {
  const std::vector<std::wstring> cases[] = {
      {L"", L"", install, L"", L"", L""},
      {L"", L"", L"", L"", L"", L""},
      {L"B", L"", install, L"", L"P", L""},
  };
  for (const std::vector<std::wstring>& six : cases) {
    for (const wchar_t* mode : {L"--direct", L"--elevate"}) {
      SCOPED_TRACE(::testing::PrintToString(six) + Utf8(mode));
      // Without an install directory there is no product to start: fail.
      const DWORD code = six[2].empty() ? 4 : 0;
      Fresh();
      auto exitCode = Scenario(L"STANDIN_EXIT_CODE", std::to_wstring(code));
      ProcessResult result = Run(mode, six);
      EXPECT_EQ(result.exitCode, code);
      EXPECT_EQ(JavaSplit(), ExpectedJavaArguments(six));
      EXPECT_EQ(JavaArgv(), ExpectedJavaArguments(six));
      EXPECT_EQ(Log(), StartLines(mode, six) + EndLines(mode, code));
      if (code != 0) {
        EXPECT_EQ(RecordFile(), Record(mode, code, six[3]));
      }
    }
  }
}

TEST_F(HostileRun, AVersionOrModeThatDiffersOnlyByCaseOrSpaceIsRefused) {
  const struct {
    std::wstring version;
    std::wstring mode;
    DWORD code;
  } cases[] = {
      {L" 1", L"--direct", 0x20000002},   {L"1 ", L"--direct", 0x20000002},  {L"1\t", L"--direct", 0x20000002},
      {L"\u00a01", L"--direct", 0x20000002}, {L"", L"--direct", 0x20000002},
      {L"1", L"--Direct", 0x20000003},    {L"1", L"--DIRECT", 0x20000003},   {L"1", L" --direct", 0x20000003},
      {L"1", L"--direct ", 0x20000003},   {L"1", L"--Elevate", 0x20000003},  {L"1", L"--ELEVATE", 0x20000003},
      {L"1", L" --elevate", 0x20000003},  {L"1", L"--elevate ", 0x20000003}, {L"1", L"--Child", 0x20000003},
      {L"1", L"--CHILD", 0x20000003},     {L"1", L" --child", 0x20000003},   {L"1", L"--child ", 0x20000003},
      {L"1", L"--child\t", 0x20000003},   {L"1", L"", 0x20000003},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.version) + " " + ::testing::PrintToString(c.mode));
    WriteBytes(app + L"kv-scriptSemaphore", "");
    ProcessResult result =
        RunRaw(QuoteForCommandLine(c.version) + L" " + QuoteForCommandLine(c.mode) + L" B S " + QuoteForCommandLine(install) + L" A P C");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, c.code);
    EXPECT_EQ(result.standardError, "");
    EXPECT_FALSE(FileExists(app + L"kv-scriptSemaphore"));
    EXPECT_FALSE(FileExists(app + L"kv-out.txt"));
    EXPECT_FALSE(JavaRan());
  }
  EXPECT_FALSE(ProductStartedWithin(200));
}

namespace {

// Lays out a launcher and its stand-in runtime in `directory`.
void LayOutLauncher(const std::wstring& directory) {
  const std::wstring built = TestProgramDirectory();
  ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
  CreateDirectoryW((directory + L"kv-jre").c_str(), nullptr);
  CreateDirectoryW((directory + L"kv-jre\\bin").c_str(), nullptr);
  ASSERT_TRUE(CopyFileW((built + L"lindquay-updater.exe").c_str(), (directory + L"lindquay-updater.exe").c_str(), FALSE));
  ASSERT_TRUE(CopyFileW((built + L"java-standin.exe").c_str(), (directory + L"kv-jre\\bin\\java.exe").c_str(), FALSE));
}

}  // namespace

// A launcher directory with every kind of character a file name may hold
// that a shell, a command line or a format string would treat specially.
// (Letters outside ASCII are left out: under the C locale that the tests pin,
// Wine cannot name such a file.)
TEST_F(HostileRun, ALauncherDirectoryWithHardCharactersWorksInEveryMode) {
  std::wstring directory = scratch.Path() + L"a  b%LINDQUAY_UNSET%@ (x86)&^!;,'[]{}~#$=+%s%n 100%\\";
  LayOutLauncher(directory);
  app = directory;
  launcher = directory + L"lindquay-updater.exe";
  // Java cannot escape the ';' that would split its class path: the
  // updater's line names the directory by its short name, which has none;
  // without such a name the start is refused.
  const std::wstring shortName = UsableShortName(directory);
  updaterApp = shortName.empty() ? directory : shortName;
  ASSERT_TRUE(SameFile(updaterApp, directory));
  for (const wchar_t* mode : {L"--direct", L"--elevate"}) {
    for (DWORD code : {0u, 3u}) {
      SCOPED_TRACE(Utf8(mode) + " " + std::to_string(code));
      Fresh();
      auto exitCode = Scenario(L"STANDIN_EXIT_CODE", std::to_wstring(code));
      ProcessResult result = Run(mode, Values());
      if (shortName.empty()) {
        ExpectRefused(result, mode, Values(), ERROR_INVALID_NAME);
        continue;
      }
      EXPECT_EQ(result.exitCode, code);
      EXPECT_EQ(JavaSplit(), ExpectedJavaArguments(Values()));
      EXPECT_EQ(JavaArgv(), ExpectedJavaArguments(Values()));
      EXPECT_EQ(Log(), StartLines(mode, Values()) + EndLines(mode, code));
      EXPECT_EQ(HasRecord(), code != 0);
      if (code != 0) {
        EXPECT_EQ(RecordFile(), Record(mode, code, L"A"));
      } else {
        EXPECT_TRUE(WaitForProduct().started);
      }
    }
  }
}

// A product that cannot be started is logged in the usual shape and leaves
// the exit code at 0: the update itself succeeded.
TEST_F(HostileRun, AProductStartThatFailsIsLoggedAndTheUpdateStillSucceeds) {
  const struct {
    std::wstring installDirectory;
    DWORD error;  // 0: the product starts; ~0u: whatever the system reports
  } cases[] = {
      {install + L"\\", 0},
      {install.substr(0, 2) + std::wstring(install.begin() + 2, install.end()) + L"\\.\\..\\install", 0},
      {install + L"-missing", ~0u},
      {install + L"\" -Dx", ERROR_INVALID_NAME},
      {install + L"\\" + std::wstring(250, L'x'), ~0u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.installDirectory));
    Fresh();
    std::vector<std::wstring> six = Values();
    six[2] = c.installDirectory;
    ProcessResult result = Run(L"--direct", six);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(JavaSplit(), ExpectedJavaArguments(six));
    std::string expected = UpdaterStartLines(six) + ExitLines(0) + ProductStartLines(c.installDirectory);
    std::string log = Log();
    if (c.error == 0) {
      EXPECT_EQ(log, expected);
      EXPECT_TRUE(WaitForProduct().started);
    } else {
      ASSERT_EQ(log.substr(0, expected.size()), expected);
      std::string tail = log.substr(expected.size());
      if (c.error == ERROR_INVALID_NAME) {
        tail = WithoutReason(tail);  // refused by the launcher itself, which says why
      }
      ASSERT_EQ(tail.size(), LoggedError("CreateProcessW", 0).size()) << tail;
      DWORD logged = std::stoul(tail.substr(tail.find("0x")), nullptr, 16);
      EXPECT_NE(logged, 0u);
      if (c.error != ~0u) {
        EXPECT_EQ(logged, c.error);
      }
      EXPECT_EQ(tail, LoggedError("CreateProcessW", logged));
      EXPECT_FALSE(ProductStartedWithin(100));
    }
  }
}

// The shell expands %NAME% in the file it is given. A launcher whose own path
// holds a defined variable would start another program, elevated: the start
// is refused instead, while a direct run (no shell) works as ever.
TEST_F(HostileRun, AnElevatedStartNeverReachesTheProgramAnExpandedPathNames) {
  std::wstring directory = scratch.Path() + L"%LINDQUAY_PLANT%\\";
  LayOutLauncher(directory);
  // What the expanded path names: a program that records its own start.
  std::wstring planted = scratch.Path() + L"planted\\";
  CreateDirectoryW(planted.c_str(), nullptr);
  CopyFileW((TestProgramDirectory() + L"product-standin.exe").c_str(), (planted + L"lindquay-updater.exe").c_str(), FALSE);
  ScopedEnvironment plant(L"LINDQUAY_PLANT", L"planted");
  app = updaterApp = directory;
  launcher = directory + L"lindquay-updater.exe";

  ProcessResult result = Run(L"--elevate", Values());
  EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(Log(), ElevatedStartLines(Values()) +
                       LoggedRefusal(Utf8(launcher) + " holds an environment variable that the shell would expand") +
                       LoggedError("ShellExecuteExW", ERROR_INVALID_NAME));
  Sleep(300);
  EXPECT_FALSE(FileExists(planted + L"product-started.txt")) << "the planted program ran";
  EXPECT_FALSE(JavaRan());
  EXPECT_FALSE(HasRecord());

  Fresh();
  result = Run(L"--direct", Values());
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(JavaSplit(), ExpectedJavaArguments(Values()));
  EXPECT_EQ(Log(), UpdaterStartLines(Values()) + ExitLines(0) + ProductStartLines());
  EXPECT_TRUE(WaitForProduct().started);
  EXPECT_FALSE(FileExists(planted + L"product-started.txt"));
}

// A runtime that is not a program: the start fails with the system's code,
// logged in the usual shape and returned; no record, no product.
TEST_F(HostileRun, ARuntimeThatCannotRunEndsWithTheCodeOfTheFailedStart) {
  const std::wstring java = app + L"kv-jre\\bin\\java.exe";
  const std::wstring moved = app + L"kv-jre\\bin\\java-standin.exe";
  ASSERT_TRUE(MoveFileW(java.c_str(), moved.c_str()));
  const struct {
    const char* name;
    bool directory;
    std::string bytes;
  } cases[] = {
      {"a directory", true, ""},
      {"an empty file", false, ""},
      {"text", false, "@echo off\r\nexit 0\r\n"},
      {"a cut executable", false, ReadBytes(moved).substr(0, 1024)},
  };
  for (const auto& c : cases) {
    for (const wchar_t* mode : {L"--direct", L"--elevate"}) {
      SCOPED_TRACE(std::string(c.name) + " " + Utf8(mode));
      Fresh();
      if (c.directory) {
        ASSERT_TRUE(CreateDirectoryW(java.c_str(), nullptr));
      } else {
        WriteBytes(java, c.bytes);
      }
      ProcessResult result = Run(mode, Values());
      ASSERT_TRUE(result.finished);
      DWORD code = result.exitCode;
      EXPECT_NE(code, 0u);
      EXPECT_EQ(Log(), StartLines(mode, Values()) + LoggedError("CreateProcessW", code) + FirstInstanceExitLines(mode, code));
      EXPECT_FALSE(HasRecord());
      RemoveDirectoryW(java.c_str());
      DeleteFileW(java.c_str());
    }
  }
  EXPECT_FALSE(ProductStartedWithin(300));
  MoveFileW(moved.c_str(), java.c_str());
}
