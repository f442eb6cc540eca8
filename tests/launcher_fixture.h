#pragma once
// A launcher directory laid out as the product ships it, in a scratch
// directory: app\lindquay-updater.exe with the stand-in runtime under
// app\kv-jre\bin\java.exe and an empty app\kv-lib, and the stand-in product
// under install\bin\lindquay.exe.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/expected_log.h"
#include "tests/test_support.h"

struct ProductRecord {
  bool started = false;
  DWORD processId = 0;
  DWORD parentProcessId = 0;
  std::wstring commandLine;
  std::vector<std::wstring> openFiles;  // every file it held open from its start
  std::string outputType;               // GetFileType of its standard output, in decimal
};

// The STARTUPINFO the stand-in runtime was given.
struct StartupRecord {
  DWORD flags = 0;
  DWORD showWindow = 0;
};

class LauncherRun : public ::testing::Test {
 public:
  // True when the system's ANSI conversion (best fit and all, as a program's
  // GetCommandLineA has it) brings every value back unchanged.
  static bool HeldByCodePage(const std::vector<std::wstring>& values);

 protected:
  LauncherRun();
  // Removes the scratch directory, and fails the test if it stays.
  ~LauncherRun() override;

  // Lays the directories out (again) under other names in the scratch directory.
  void LayOut(const std::wstring& appName, const std::wstring& installName);

  // Runs the launcher with `arguments` as they stand after its program name;
  // once more when Wine failed a start in the run (WineFailedAStart). A
  // launcher that could not be started, or a second such run, is a failure.
  ProcessResult RunRaw(const std::wstring& arguments);
  // Runs "1 <mode>" and the six values, each quoted.
  ProcessResult Run(const std::wstring& mode, const std::vector<std::wstring>& values);

  // B, S, the install directory, A, P and C.
  std::vector<std::wstring> Values() const;

  std::string Log() const { return ReadBytes(app + L"kv-out.txt"); }
  // The lines a launcher writes when it starts the updater, banner included.
  std::string UpdaterStartLines(const std::vector<std::wstring>& values) const;
  std::string ElevatedStartLines(const std::vector<std::wstring>& values) const;
  // The line feed and the exit banner that WaitForChild writes.
  static std::string ExitLines(DWORD code) { return LoggedExit(code); }
  std::string ProductStartLines() const { return ProductStartLines(install); }
  static std::string ProductStartLines(const std::wstring& installDirectory);

  // What a run in `mode` ("--direct", "--elevate", "--child") logs, and
  // leaves. Before the updater's output: the first instance's lines too when
  // it elevates.
  std::string StartLines(const std::wstring& mode, const std::vector<std::wstring>& values) const;
  // After the output of an updater that ended with `code`: its exit banner,
  // the first instance's, and the product's start when the run restarts it.
  std::string EndLines(const std::wstring& mode, DWORD code) const;
  // After an updater start that failed with `code`: the first instance's
  // exit banner when it elevated, else nothing.
  static std::string FirstInstanceExitLines(const std::wstring& mode, DWORD code);
  static bool RestartsProduct(const std::wstring& mode, DWORD code) { return code == 0 && mode != L"--child"; }
  // The failure record, its last field as the system's ANSI conversion gives
  // it (the same as wsprintfA's %S, best fit and '?' included).
  static std::string Record(const std::wstring& mode, DWORD code, const std::wstring& passThroughA);

  // The lines of a run whose updater start the launcher refused with `code`.
  std::string RefusedLines(const std::wstring& mode, const std::vector<std::wstring>& values, DWORD code) const {
    return StartLines(mode, values) + LoggedError("CreateProcessW", code) + FirstInstanceExitLines(mode, code);
  }
  // Checks a run whose updater start the launcher refused with `code`: its
  // exit code, its lines (the reason aside), and that no updater ran.
  void ExpectRefused(const ProcessResult& result, const std::wstring& mode, const std::vector<std::wstring>& values,
                     DWORD code) const {
    EXPECT_EQ(result.exitCode, code);
    EXPECT_EQ(WithoutReason(Log()), RefusedLines(mode, values, code));
    EXPECT_FALSE(JavaRan());
  }
  // Gives `path` to another account (test_support's GiveToAnotherAccount), or fails the test.
  static void GiveToAnotherAccount(const std::wstring& path);
  // The short (8.3) name of an existing path where it can stand for the path
  // in the runtime's ANSI view: it differs from the path, the code page holds
  // it, and it has no ';'. Else empty: Windows makes short names only where
  // they are on (Wine always does), and without one the launcher refuses
  // such a path with ERROR_NO_UNICODE_TRANSLATION and says why.
  static std::wstring UsableShortName(const std::wstring& path);
  // True when both paths name the same existing file or folder.
  static bool SameFile(const std::wstring& first, const std::wstring& second);

  std::wstring ExpectedUpdaterLine(const std::vector<std::wstring>& values) const;
  std::vector<std::wstring> ExpectedJavaArguments(const std::vector<std::wstring>& values) const;
  // A setting of the stand-in runtime's scenario in the launcher directory
  // as laid out now, for as long as the object lives.
  StandinSetting Scenario(const wchar_t* name, const std::wstring& value) const {
    return StandinSetting(app + L"kv-jre\\bin\\", name, value);
  }

  std::vector<std::wstring> JavaSplit() const { return ReadArgumentList(app + L"kv-jre\\bin\\java-split.bin"); }
  std::vector<std::wstring> JavaArgv() const { return ReadArgumentList(app + L"kv-jre\\bin\\java-argv.bin"); }
  bool JavaRan() const { return FileExists(app + L"kv-jre\\bin\\java-cmdline.txt"); }
  StartupRecord JavaStartup() const;
  // The working directory the runtime started in, and which JVM option
  // variables ("JAVA_TOOL_OPTIONS _JAVA_OPTIONS JDK_JAVA_OPTIONS ") it had.
  std::wstring JavaDirectory() const;
  std::string JavaOptions() const { return ReadBytes(app + L"kv-jre\\bin\\java-options.txt"); }
  // The files the runtime held open from its start: the log, and nothing of
  // whoever started the launcher.
  std::vector<std::wstring> JavaFiles() const { return ReadArgumentList(app + L"kv-jre\\bin\\java-files.bin"); }
  // What the runtime's ANSI view of its line is: GetCommandLineA as it is, and
  // split by CommandLineToArgvW's rules (each part converted back through the
  // ANSI code page).
  std::string JavaAnsiLine() const { return ReadBytes(app + L"kv-jre\\bin\\java-ansi-cmdline.txt"); }
  std::vector<std::wstring> JavaAnsiSplit() const;

  // The product is not waited for: poll for its record for a while. A run
  // that must not start it has already logged no start, so the short wait
  // only guards against a start the log does not show.
  ProductRecord WaitForProduct(const std::wstring& binDirectory, DWORD milliseconds = 10000) const;
  ProductRecord WaitForProduct() const { return WaitForProduct(install + L"\\bin\\"); }
  bool ProductStartedWithin(DWORD milliseconds) const {
    return WaitForProduct(install + L"\\bin\\", milliseconds).started;
  }

  ScratchDirectory scratch;
  std::wstring app;      // ends in a backslash, like ExeDirectory
  std::wstring updaterApp;  // app as the updater's line names it (its short name where the code page lacks it)
  std::wstring install;  // no trailing backslash, as the invoking party passes it
  std::wstring launcher;
  std::wstring environment;  // the launcher's whole block when not empty (RunProcess)
};
