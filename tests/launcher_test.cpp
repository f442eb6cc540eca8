// The real executable, end to end: laid out in a scratch directory with the
// stand-in Java runtime and product, started with a command line, and judged
// by its full exit code, its standard error and the files it leaves.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "launcher/elevation.h"
#include "tests/launcher_fixture.h"

namespace {

const char RefusalText[] =
    "This executable is used as part of Lindquay's update process and should not be invoked directly.";

// Another process's handle to an item, opened while it could be written:
// access is checked when a handle is opened, never again.
HANDLE heldForWriting = INVALID_HANDLE_VALUE;
void HoldOpenForWriting(const std::wstring& path) {
  heldForWriting = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

TEST_F(LauncherRun, WithoutArgumentsRefusesAfterDeletingTheScriptSemaphore) {
  WriteBytes(app + L"kv-scriptSemaphore", "");
  ProcessResult result = RunRaw(L"");
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0x20000001u);
  EXPECT_EQ(result.standardError, RefusalText);
  EXPECT_EQ(result.standardError.size(), 96u);
  EXPECT_EQ(result.standardOutput, "");
  EXPECT_FALSE(FileExists(app + L"kv-scriptSemaphore"));
  EXPECT_FALSE(FileExists(app + L"kv-out.txt"));
}

TEST_F(LauncherRun, ProtocolErrorsEndWithTheirCodeAndNothingElse) {
  const std::wstring six = L" B S I A P C";
  const struct {
    std::wstring arguments;
    DWORD exitCode;
    bool refused;
  } cases[] = {
      {L"2 --direct" + six, 0x20000002, false},
      {L"1 --Direct" + six, 0x20000003, false},
      {L"2", 0x20000002, false},
      {L"1 --other", 0x20000003, false},
      {L"\" 1\" --direct" + six, 0x20000002, false},
      {L"1 \"--direct \"" + six, 0x20000003, false},
      {L"1 --DIRECT" + six, 0x20000003, false},
      {L"1 --direct B S I", 0x20000001, true},
      {L"1", 0x20000001, true},
  };
  for (const auto& c : cases) {
    WriteBytes(app + L"kv-scriptSemaphore", "");
    ProcessResult result = RunRaw(c.arguments);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, c.exitCode) << Utf8(c.arguments);
    EXPECT_EQ(result.standardError, c.refused ? RefusalText : "") << Utf8(c.arguments);
    EXPECT_FALSE(FileExists(app + L"kv-scriptSemaphore")) << Utf8(c.arguments);
    EXPECT_FALSE(FileExists(app + L"kv-out.txt")) << Utf8(c.arguments);
    EXPECT_FALSE(JavaRan());
  }
}

TEST_F(LauncherRun, DirectSuccessLogsTheWholeRunAndRestartsTheProduct) {
  auto output = Scenario(L"STANDIN_STDOUT", L"ok\n");
  ProcessResult result = Run(L"--direct", Values());
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.standardError, "");
  EXPECT_EQ(Log(), UpdaterStartLines(Values()) + "ok\n" + ExitLines(0) + ProductStartLines());

  ProductRecord product = WaitForProduct();
  ASSERT_TRUE(product.started);
  EXPECT_EQ(product.parentProcessId, result.processId);
  EXPECT_EQ(product.commandLine, L"\"" + install + L"\\bin\\lindquay.exe\"");
  EXPECT_FALSE(product.openFiles.empty()) << "the stand-in could not list its handles";
  EXPECT_EQ(product.outputType, std::to_string(FILE_TYPE_CHAR)) << "its standard output is the null device";
  for (const std::wstring& file : product.openFiles) {
    EXPECT_TRUE(file.find(L"\\kv-out.txt") == std::wstring::npos) << "the product inherited the log: " << Utf8(file);
  }
  EXPECT_FALSE(FileExists(app + L"kv-failure-launcher.txt"));
  EXPECT_EQ(JavaSplit(), ExpectedJavaArguments(Values()));
  EXPECT_FALSE(JavaStartup().flags & STARTF_USESHOWWINDOW) << "the updater's window must show as the system decides";
}

TEST_F(LauncherRun, DirectFailureWritesTheRecordAndStartsNothing) {
  auto exitCode = Scenario(L"STANDIN_EXIT_CODE", L"1");
  std::vector<std::wstring> values = Values();
  values[3] = L"pass A \u00e9";
  ProcessResult result = Run(L"--direct", values);
  EXPECT_EQ(result.exitCode, 1u);
  EXPECT_EQ(ReadBytes(app + L"kv-failure-launcher.txt"), "java,0x00000001,direct,pass A \xE9");
  EXPECT_EQ(Log(), UpdaterStartLines(values) + ExitLines(1));
  EXPECT_FALSE(ProductStartedWithin(300));
}

TEST_F(LauncherRun, TheUpdatersExitCodeComesBackWhole) {
  const DWORD codes[] = {3, 259, 0x20000001, 0xC0000005, 0xFFFFFFFF};
  for (DWORD code : codes) {
    auto exitCode = Scenario(L"STANDIN_EXIT_CODE", std::to_wstring(code));
    ProcessResult result = Run(L"--direct", Values());
    EXPECT_EQ(result.exitCode, code);
    char expected[64];
    wsprintfA(expected, "java,0x%08X,direct,A", code);
    EXPECT_EQ(ReadBytes(app + L"kv-failure-launcher.txt"), expected);
  }
  EXPECT_FALSE(ProductStartedWithin(300));
}

TEST_F(LauncherRun, TheRecordIsReplacedAndSuppressedByASemaphoreFileOrDirectory) {
  auto exitCode = Scenario(L"STANDIN_EXIT_CODE", L"2");
  WriteBytes(app + L"kv-failure-launcher.txt", "an older and much longer record that must go away");
  Run(L"--direct", Values());
  EXPECT_EQ(ReadBytes(app + L"kv-failure-launcher.txt"), "java,0x00000002,direct,A");

  const wchar_t* kinds[] = {L"file", L"dir"};
  for (const wchar_t* kind : kinds) {
    DeleteFileW((app + L"kv-failure-launcher.txt").c_str());
    auto semaphore = Scenario(L"STANDIN_SEMAPHORE", kind);
    ProcessResult result = Run(L"--direct", Values());
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_TRUE(FileExists(app + L"kv-javaSemaphore")) << "the stand-in was given the semaphore's path";
    EXPECT_FALSE(FileExists(app + L"kv-failure-launcher.txt")) << Utf8(kind);
    RemoveTree(app + L"kv-javaSemaphore");
    DeleteFileW((app + L"kv-javaSemaphore").c_str());
  }
}

TEST_F(LauncherRun, BothOutputStreamsOfTheUpdaterGoIntoTheLog) {
  auto output = Scenario(L"STANDIN_STDOUT", L"out line\n");
  auto error = Scenario(L"STANDIN_STDERR", L"err line without end");
  ProcessResult result = Run(L"--direct", Values());
  EXPECT_EQ(result.standardOutput, "");
  EXPECT_EQ(result.standardError, "");
  EXPECT_EQ(Log(), UpdaterStartLines(Values()) + "out line\nerr line without end" + ExitLines(0) + ProductStartLines());
}

TEST_F(LauncherRun, AMissingJavaRuntimeEndsWithTheCodeOfTheFailedStart) {
  DeleteFileW((app + L"kv-jre\\bin\\java.exe").c_str());
  ProcessResult result = Run(L"--direct", Values());
  EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Log(), UpdaterStartLines(Values()) + LoggedError("CreateProcessW", ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(FileExists(app + L"kv-failure-launcher.txt"));
  EXPECT_FALSE(ProductStartedWithin(300));

  result = Run(L"--elevate", Values());
  EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  std::string log = Log();
  EXPECT_NE(log.find(UpdaterStartLines(Values()) + LoggedError("CreateProcessW", ERROR_FILE_NOT_FOUND) + ExitLines(2)),
            std::string::npos)
      << log;
  EXPECT_FALSE(FileExists(app + L"kv-failure-launcher.txt"));
  EXPECT_FALSE(ProductStartedWithin(300));
}

TEST_F(LauncherRun, ElevatedSuccessRunsTheUpdaterInTheChildAndTheProductFromTheFirstInstance) {
  auto output = Scenario(L"STANDIN_STDOUT", L"ok\n");
  std::vector<std::wstring> values = {L"C:\\boot dir\\", L"S \"q\"", install, L"A\\", L"", L"\u00e9\u20ac\u00c5"};
  ProcessResult result = Run(L"--elevate", values);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(
      Log(),
      ElevatedStartLines(values) + UpdaterStartLines(values) + "ok\n" + ExitLines(0) + ExitLines(0) +
          ProductStartLines());
  EXPECT_EQ(JavaSplit(), ExpectedJavaArguments(values));
  EXPECT_EQ(JavaArgv(), ExpectedJavaArguments(values));

  ProductRecord product = WaitForProduct();
  ASSERT_TRUE(product.started);
  EXPECT_EQ(product.parentProcessId, result.processId) << "the first instance, never the elevated one";
}

TEST_F(LauncherRun, ElevatedFailureIsRecordedByTheChildOnly) {
  auto exitCode = Scenario(L"STANDIN_EXIT_CODE", L"0xC0000005");
  ProcessResult result = Run(L"--elevate", Values());
  EXPECT_EQ(result.exitCode, 0xC0000005u);
  EXPECT_EQ(ReadBytes(app + L"kv-failure-launcher.txt"), "java,0xC0000005,elevated,A");
  EXPECT_EQ(
      Log(), ElevatedStartLines(Values()) + UpdaterStartLines(Values()) + ExitLines(0xC0000005) + ExitLines(0xC0000005));
  EXPECT_FALSE(ProductStartedWithin(300));
}

TEST_F(LauncherRun, ChildModeNeverStartsTheProduct) {
  ProcessResult result = Run(L"--child", Values());
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(Log(), UpdaterStartLines(Values()) + ExitLines(0));
  EXPECT_FALSE(ProductStartedWithin(300));

  auto exitCode = Scenario(L"STANDIN_EXIT_CODE", L"4");
  result = Run(L"--child", Values());
  EXPECT_EQ(result.exitCode, 4u);
  EXPECT_EQ(ReadBytes(app + L"kv-failure-launcher.txt"), "java,0x00000004,elevated,A");
}

TEST_F(LauncherRun, TheLogIsAppendedAcrossRunsInUtf8WithoutCarriageReturns) {
  auto output = Scenario(L"STANDIN_STDOUT", L"\u00e9\n");
  std::vector<std::wstring> values = Values();
  values[0] = L"C:\\\u00e9t\u00e9";
  Run(L"--direct", values);
  std::string first = Log();
  Run(L"--child", values);
  std::string both = Log();
  ASSERT_GT(both.size(), first.size());
  EXPECT_EQ(both.substr(0, first.size()), first);
  EXPECT_EQ(both.substr(first.size()), UpdaterStartLines(values) + "\xC3\xA9\n" + ExitLines(0));
  EXPECT_NE(first.find("C:\\\xC3\xA9t\xC3\xA9"), std::string::npos);
  EXPECT_EQ(both.find('\r'), std::string::npos);
}

TEST_F(LauncherRun, ALineLongerThan1024CharactersIsLoggedWhole) {
  std::vector<std::wstring> values = Values();
  values[1] = std::wstring(3000, L's') + L"\\";
  ProcessResult result = Run(L"--direct", values);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(Log(), UpdaterStartLines(values) + ExitLines(0) + ProductStartLines());
  EXPECT_EQ(JavaArgv(), ExpectedJavaArguments(values));
}

TEST_F(LauncherRun, HardValuesReachTheUpdaterExactlyAndAsOneArgumentEach) {
  std::vector<std::wstring> values = {
      L"C:\\dir\\", L"a\"b", L"\\\\\"", L"tab\there", L"*?@%PATH%", L"\" -Dinjected=1 \""};
  Run(L"--direct", values);
  EXPECT_EQ(JavaSplit(), ExpectedJavaArguments(values));
  EXPECT_EQ(JavaArgv(), ExpectedJavaArguments(values));
  EXPECT_EQ(JavaAnsiSplit(), JavaSplit()) << "an ASCII line looks the same through GetCommandLineA";
}

TEST_F(LauncherRun, TheProductPathIsQuotedSoAPlantedProgramNeverRuns) {
  std::wstring spaced = scratch.Path() + L"Program Files\\Lindquay";
  CreateDirectoryW((scratch.Path() + L"Program Files").c_str(), nullptr);
  CreateDirectoryW(spaced.c_str(), nullptr);
  CreateDirectoryW((spaced + L"\\bin").c_str(), nullptr);
  CopyFileW((TestProgramDirectory() + L"product-standin.exe").c_str(), (spaced + L"\\bin\\lindquay.exe").c_str(), FALSE);
  // An unquoted line would start this one first.
  CopyFileW((TestProgramDirectory() + L"product-standin.exe").c_str(), (scratch.Path() + L"Program.exe").c_str(), FALSE);

  std::vector<std::wstring> values = Values();
  values[2] = spaced;
  EXPECT_EQ(Run(L"--direct", values).exitCode, 0u);
  ProductRecord product = WaitForProduct(spaced + L"\\bin\\");
  EXPECT_TRUE(product.started);
  EXPECT_FALSE(FileExists(scratch.Path() + L"product-started.txt"));
}

TEST_F(LauncherRun, AnInstallDirectoryWithADoubleQuoteNeverStartsWhatItsFirstPartNames) {
  // Passed on, the quote would end the program name after "inst" and start
  // inst.exe; no file name holds a double quote, so nothing may start.
  CopyFileW((TestProgramDirectory() + L"product-standin.exe").c_str(), (scratch.Path() + L"inst.exe").c_str(), FALSE);
  std::vector<std::wstring> values = Values();
  values[2] = scratch.Path() + L"inst\" \"x";
  ProcessResult result = Run(L"--direct", values);
  EXPECT_EQ(result.exitCode, 0u) << "the update itself succeeded";
  EXPECT_EQ(JavaSplit(), ExpectedJavaArguments(values));
  EXPECT_EQ(
      Log(), UpdaterStartLines(values) + ExitLines(0) + ProductStartLines(values[2]) +
                 LoggedRefusal("installDirectory " + Utf8(values[2]) + " holds a double quote, which no file name can") +
                 LoggedError("CreateProcessW", ERROR_INVALID_NAME));
  EXPECT_FALSE(WaitForProduct(scratch.Path(), 300).started);
}

TEST_F(LauncherRun, WorksFromDirectoriesNamedInAnyScript) {
  // Profiles and install folders carry their owners' names: C:\Users\Zoë\...
  // A name the ANSI code page lacks reaches the Java runtime as its short
  // name; where it has none that the code page holds, the start is refused.
  LayOut(L"Zo\u00eb \u4e2d\u6587 \u0416", L"Lindquay \u00e9t\u00e9");
  const std::wstring shortName = UsableShortName(app);
  updaterApp = shortName.empty() ? app : shortName;
  ASSERT_TRUE(SameFile(updaterApp, app));
  auto output = Scenario(L"STANDIN_STDOUT", L"ok\n");
  ProcessResult result = Run(L"--elevate", Values());
  if (shortName.empty()) {
    ExpectRefused(result, L"--elevate", Values(), ERROR_NO_UNICODE_TRANSLATION);
    return;
  }
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(
      Log(),
      ElevatedStartLines(Values()) + UpdaterStartLines(Values()) + "ok\n" + ExitLines(0) + ExitLines(0) +
          ProductStartLines());
  EXPECT_EQ(JavaArgv(), ExpectedJavaArguments(Values()));
  EXPECT_EQ(JavaAnsiSplit(), ExpectedJavaArguments(Values()));
  EXPECT_TRUE(WaitForProduct().started);

  auto exitCode = Scenario(L"STANDIN_EXIT_CODE", L"1");
  EXPECT_EQ(Run(L"--direct", Values()).exitCode, 1u);
  EXPECT_EQ(ReadBytes(app + L"kv-failure-launcher.txt"), "java,0x00000001,direct,A");
}

// The Java runtime reads its line in the ANSI code page, with best fit: what
// the code page lacks must never reach it as another character.
TEST_F(LauncherRun, ValuesTheAnsiCodePageLacksNeverReachTheRuntimeChanged) {
  ASSERT_EQ(GetACP(), 1252u) << "the test run pins the locale, and with it the ANSI code page";
  const std::wstring lukasz = scratch.Path() + L"\u0141ukasz";
  ASSERT_TRUE(CreateDirectoryW(lukasz.c_str(), nullptr));
  const std::wstring lukaszShort = UsableShortName(lukasz);
  const struct {
    const char* what;
    std::vector<std::wstring> values;
    std::vector<std::wstring> runtimeGets;  // empty: the start is refused
  } cases[] = {
      {"fullwidth quotes would end the value and inject a JVM option",
       {L"x\uff02 -javaagent:Z:\\evil.jar \uff02", L"S", install, L"A", L"P", L"C"}, {}},
      {"an existing folder named with \u0141 goes by its short name, where it has one",
       {L"B", lukasz, install, L"A", L"P", L"C"},
       lukaszShort.empty() ? std::vector<std::wstring>{} : std::vector<std::wstring>{L"B", lukaszShort, install, L"A", L"P", L"C"}},
      {"CJK in a pass-through value has no other form",
       {L"B", L"S", install, L"A", L"\u5f20\u4f1f", L"C"}, {}},
  };
  for (const wchar_t* mode : {L"--direct", L"--elevate"}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(Utf8(mode) + ": " + c.what);
      DeleteFileW((app + L"kv-out.txt").c_str());
      DeleteFileW((app + L"kv-jre\\bin\\java-cmdline.txt").c_str());
      ProcessResult result = Run(mode, c.values);
      if (c.runtimeGets.empty()) {
        ExpectRefused(result, mode, c.values, ERROR_NO_UNICODE_TRANSLATION);
        EXPECT_FALSE(FileExists(app + L"kv-failure-launcher.txt"));
        continue;
      }
      EXPECT_EQ(result.exitCode, 0u);
      ASSERT_TRUE(HeldByCodePage(c.runtimeGets));
      EXPECT_TRUE(SameFile(c.runtimeGets[1], c.values[1]));
      EXPECT_EQ(JavaAnsiSplit(), ExpectedJavaArguments(c.runtimeGets));
      EXPECT_EQ(JavaSplit(), ExpectedJavaArguments(c.runtimeGets));
      EXPECT_EQ(Log(), (std::wstring(mode) == L"--elevate" ? ElevatedStartLines(c.values) : "") +
                           UpdaterStartLines(c.runtimeGets) + EndLines(mode, 0));
    }
  }
}

// Whoever starts the launcher may leave handles inheritable (a pipe it reads
// until every holder has closed it): the updater gets the log's alone.
TEST_F(LauncherRun, TheUpdaterInheritsTheLogAndNoHandleOfItsCaller) {
  SECURITY_ATTRIBUTES inheritable = {};
  inheritable.nLength = sizeof(inheritable);
  inheritable.bInheritHandle = TRUE;
  const std::wstring held = scratch.Path() + L"callers-own.txt";
  HANDLE callers = CreateFileW(held.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               &inheritable, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(callers, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Run(L"--direct", Values()).exitCode, 0u);
  CloseHandle(callers);
  bool holdsLog = false;
  for (const std::wstring& file : JavaFiles()) {
    holdsLog = holdsLog || (file.size() >= 10 && file.compare(file.size() - 10, 10, L"kv-out.txt") == 0);
    EXPECT_EQ(file.find(L"callers-own.txt"), std::wstring::npos) << "the updater inherited " << Utf8(file);
  }
  EXPECT_TRUE(holdsLog) << "the runtime's handle list must show the log it writes to";
}

// Where another account may change what the elevated instance would run, or
// the path to it, nothing runs elevated; a direct update, with the
// invoker's own rights, still runs.
TEST_F(LauncherRun, NothingAnotherAccountCanChangeRunsElevatedButItStillUpdatesDirectly) {
  const struct {
    const char* what;
    const wchar_t* item;  // under the case's folder
    void (*change)(const std::wstring&);
    const wchar_t* appName;
  } cases[] = {
      {"a folder another account owns", L"app", GiveToAnotherAccount, L"app"},
      {"an Everyone-writable jar", L"app\\kv-lib\\updater.jar", LetEveryoneChange, L"app"},
      {"an Everyone-writable file deep in the runtime", L"app\\kv-jre\\bin\\server\\jvm.dll", LetEveryoneChange, L"app"},
      {"an Everyone-writable launcher", L"app\\lindquay-updater.exe", LetEveryoneChange, L"app"},
      // The updater's working directory: Windows and Java look for libraries there.
      {"a DLL beside the launcher that another account owns", L"app\\jnidispatch.dll", GiveToAnotherAccount, L"app"},
      {"an Everyone-writable parent", L"", LetEveryoneChange, L"app"},
      // Win32 reads "app " as "app" where it ends a path: never judged so.
      {"a folder another account owns beside a trusted one of its name but a space", L"app ", GiveToAnotherAccount,
       L"app "},
      {"a jar another process holds open for writing", L"app\\kv-lib\\updater.jar", HoldOpenForWriting, L"app"},
  };
  // An unelevated process deletes kv-scriptSemaphore before anything; an
  // elevated one judges the folder first and deletes nothing through a path
  // that another account could redirect. A standard user's own folders
  // count against it too (another account approves the prompt), so its
  // first finding may be another one.
  TokenFacts token;
  ReadTokenFacts(token);
  const bool sameAccount = SameAccountRunsElevated(token);
  const bool elevated = token.elevated;
  int number = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring folder = L"case" + std::to_wstring(++number);
    ASSERT_TRUE(CreateDirectoryW((scratch.Path() + folder).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((scratch.Path() + folder + L"\\app").c_str(), nullptr));
    LayOut(folder + L"\\" + c.appName, folder + L"\\install");
    CreateDirectoryW((app + L"kv-jre\\bin\\server").c_str(), nullptr);
    WriteBytes(app + L"kv-jre\\bin\\server\\jvm.dll", "");
    WriteBytes(app + L"kv-lib\\updater.jar", "");
    WriteBytes(app + L"jnidispatch.dll", "");
    const std::wstring item = scratch.Path() + folder + (*c.item != L'\0' ? L"\\" : L"") + c.item;
    c.change(L"\\\\?\\" + item);
    WriteBytes(app + L"kv-scriptSemaphore", "");

    if (number == 3) {
      // Without a log, the reason and the error go to standard error.
      ASSERT_TRUE(CreateDirectoryW((app + L"kv-out.txt").c_str(), nullptr));
      ProcessResult result = Run(L"--elevate", Values());
      EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_ACCESS_DENIED));
      const std::string reason = LoggedRefusal(Utf8(item) + " may be changed by S-1-1-0 (Everyone): write data, append data, delete");
      const std::string error = LoggedError("ShellExecuteExW", ERROR_ACCESS_DENIED);
      EXPECT_EQ(sameAccount ? result.standardError : WithoutReason(result.standardError), (sameAccount ? reason : "") + error);
      RemoveDirectoryW((app + L"kv-out.txt").c_str());
    }
    // Elevated, --elevate writes nothing into the folder it refused, where
    // kv-out.txt could be a link to any file: it says why on standard error.
    ProcessResult result = Run(L"--elevate", Values());
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    const std::string refused = ElevatedStartLines(Values()) + LoggedError("ShellExecuteExW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(WithoutReason(elevated ? result.standardError : Log()),
              elevated ? LoggedError("ShellExecuteExW", ERROR_ACCESS_DENIED) : refused);
    if (sameAccount) {
      EXPECT_NE((elevated ? result.standardError : Log()).find("Refused: " + Utf8(item) + " "), std::string::npos);
    }
    EXPECT_EQ(FileExists(app + L"kv-out.txt"), !elevated);
    result = Run(L"--child", Values());
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_NE(result.standardError.find(sameAccount ? "Refused: " + Utf8(item) + " " : "Refused: "), std::string::npos);
    EXPECT_EQ(FileExists(app + L"kv-out.txt"), !elevated) << "the elevated instance writes nothing into such a folder";
    EXPECT_EQ(FileExists(app + L"kv-scriptSemaphore"), elevated);
    EXPECT_FALSE(JavaRan());
    EXPECT_FALSE(ProductStartedWithin(300));

    EXPECT_EQ(Run(L"--direct", Values()).exitCode, 0u);
    EXPECT_TRUE(JavaRan());
    EXPECT_EQ(FileExists(app + L"kv-scriptSemaphore"), elevated);
  }
  // A jar held open for reading alone is welcome.
  CloseHandle(heldForWriting);
  HANDLE reader = CreateFileW((app + L"kv-lib\\updater.jar").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(Run(L"--child", Values()).exitCode, 0u);
  CloseHandle(reader);
}

// A drive letter may name a folder (subst, DefineDosDevice): the folders
// above it, which anyone may change here, would go unjudged. Nothing runs
// elevated through such a letter; a direct update still does.
TEST_F(LauncherRun, NothingRunsElevatedThroughADriveLetterThatNamesAFolder) {
  TokenFacts token;
  ReadTokenFacts(token);
  const std::wstring outer = scratch.Path() + L"outer";
  ASSERT_TRUE(CreateDirectoryW(outer.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((outer + L"\\inner").c_str(), nullptr));
  LetEveryoneChange(outer);
  LayOut(L"outer\\inner\\app", L"install");
  MappedDriveLetter letter(outer + L"\\inner");
  ASSERT_FALSE(letter.Root().empty()) << "no drive letter could be mapped";
  app = updaterApp = letter.Root() + L"app\\";
  launcher = app + L"lindquay-updater.exe";
  for (const wchar_t* mode : {L"--child", L"--elevate"}) {
    ProcessResult result = Run(mode, Values());
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_ACCESS_DENIED)) << Utf8(mode);
    const std::string said = token.elevated || std::wstring(mode) == L"--child" ? result.standardError : Log();
    EXPECT_NE(said.find(LoggedRefusal(Utf8(launcher) + " is on " + Utf8(letter.Root()) +
                                      ", a drive letter that names a folder, not a volume")),
              std::string::npos)
        << said;
    EXPECT_FALSE(JavaRan());
  }
  EXPECT_EQ(Run(L"--direct", Values()).exitCode, 0u);
  EXPECT_TRUE(JavaRan());
}

// The elevated instance runs the updater in the launcher's folder and with
// no JVM options from the environment; a direct run keeps both as they were.
TEST_F(LauncherRun, TheElevatedUpdaterRunsInItsFolderWithoutJvmOptionsFromTheEnvironment) {
  // Names the Java runtime reads as its option variables though Windows
  // holds them apart: it reads them through its C runtime, in the ANSI code
  // page with best fit (a fullwidth S, U+0130) and ignoring case. Non-ASCII
  // names cannot come in from Wine's host: the launcher is given a block.
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; *entry != L'\0'; entry += lstrlenW(entry) + 1) {
    environment.append(entry, lstrlenW(entry) + 1);
  }
  FreeEnvironmentStringsW(block);
  ASSERT_EQ(GetACP(), 1252u);
  const std::wstring folded[] = {L"JAVA_TOOL_OPTION\uff33", L"\uff2a\uff24\uff2b_JAVA_OPTIONS", L"_JAVA_OPT\u0130ONS"};
  for (const std::wstring& name : folded) {
    environment += name + L"=-javaagent:Z:\\evil.jar" + L'\0';
  }
  EXPECT_EQ(Run(L"--direct", Values()).exitCode, 0u);
  EXPECT_EQ(JavaOptions(), "JAVA_TOOL_OPTIONS _JAVA_OPTIONS JDK_JAVA_OPTIONS ") << "the runtime reads all three";
  wchar_t own[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, own);
  EXPECT_EQ(JavaDirectory(), own);

  // Two spellings of one name, which only a block of one's own can hold.
  environment += std::wstring(L"JAVA_TOOL_OPTIONS=-Dx=1") + L'\0' + L"java_tool_options=-Dy=2" + L'\0';
  DeleteFileW((app + L"kv-out.txt").c_str());
  EXPECT_EQ(Run(L"--child", Values()).exitCode, 0u);
  environment.clear();
  EXPECT_EQ(JavaOptions(), "");
  EXPECT_EQ(JavaDirectory() + L"\\", app);
  EXPECT_EQ(Log(), "Removed from the updater's environment: " + Utf8(folded[0] + L", " + folded[1] + L", " + folded[2]) +
                       ", JAVA_TOOL_OPTIONS, java_tool_options\n" + UpdaterStartLines(Values()) +
                       EndLines(L"--child", 0));
}
