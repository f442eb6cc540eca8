#pragma once
// A launcher directory laid out as the product ships it, in a scratch
// directory: app\lindquay-updater.exe with the stand-in runtime under
// app\kv-jre\bin\java.exe and an empty app\kv-lib, and the stand-in product
// under install\bin\lindquay.exe.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_support.h"

struct ProductRecord {
  bool started = false;
  DWORD processId = 0;
  DWORD parentProcessId = 0;
  std::wstring commandLine;
};

class LauncherRun : public ::testing::Test {
 protected:
  LauncherRun();

  // Lays the directories out (again) under other names in the scratch directory.
  void LayOut(const std::wstring& appName, const std::wstring& installName);

  // Runs the launcher with `arguments` as they stand after its program name.
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
  static std::string ExitLines(DWORD code);
  std::string ProductStartLines() const;

  std::wstring ExpectedUpdaterLine(const std::vector<std::wstring>& values) const;
  std::vector<std::wstring> ExpectedJavaArguments(const std::vector<std::wstring>& values) const;
  std::vector<std::wstring> JavaSplit() const { return ReadArgumentList(app + L"kv-jre\\bin\\java-split.bin"); }
  std::vector<std::wstring> JavaArgv() const { return ReadArgumentList(app + L"kv-jre\\bin\\java-argv.bin"); }
  bool JavaRan() const { return FileExists(app + L"kv-jre\\bin\\java-cmdline.txt"); }

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
  std::wstring install;  // no trailing backslash, as the invoking party passes it
  std::wstring launcher;
};
