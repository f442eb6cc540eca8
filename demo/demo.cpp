// The launcher's main job, shown on a built-in example: it lays out an
// installation under Program Files (the launcher with a stand-in Java
// runtime, and a stand-in application), then runs a direct update that
// succeeds, one that fails and an elevated one, printing for each the exit
// code, what the run added to the log, the failure record, and whether the
// application was started again.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

struct Scenario {
  const wchar_t* title;
  const wchar_t* mode;
  const wchar_t* output;
  const wchar_t* error;
  const wchar_t* exitCode;
};

void Print(const std::string& text) { fwrite(text.data(), 1, text.size(), stdout); }

void PrintIndented(const std::string& text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    Print("    | " + line + "\n");
    if (end == std::string::npos) {
      break;
    }
    start = end + 1;
  }
}

bool Copy(const std::wstring& builtProgram, const std::wstring& to) {
  if (CopyFileW((TestProgramDirectory() + builtProgram).c_str(), to.c_str(), FALSE)) {
    return true;
  }
  Print("cannot copy " + Utf8(builtProgram) + " to " + Utf8(to) + "\n");
  return false;
}

}  // namespace

int wmain() {
  // Where an installer puts it: an elevated update runs only from a folder
  // that no other account can change, up to the drive's root (a build
  // folder under /tmp, say, is not one).
  wchar_t programFiles[MAX_PATH] = L"C:\\Program Files";
  GetEnvironmentVariableW(L"ProgramFiles", programFiles, MAX_PATH);
  std::wstring root = std::wstring(programFiles) + L"\\Lindquay demo\\";
  RemoveTree(root);

  std::wstring install = root + L"Lindquay";
  std::wstring updater = install + L"\\updater\\";
  const std::wstring directories[] = {
      root, install, install + L"\\bin", updater, updater + L"kv-jre", updater + L"kv-jre\\bin", updater + L"kv-lib"};
  for (const std::wstring& directory : directories) {
    CreateDirectoryW(directory.c_str(), nullptr);
  }
  std::wstring launcher = updater + L"lindquay-updater.exe";
  if (!Copy(L"lindquay-updater.exe", launcher) || !Copy(L"java-standin.exe", updater + L"kv-jre\\bin\\java.exe") ||
      !Copy(L"product-standin.exe", install + L"\\bin\\lindquay.exe")) {
    return 1;
  }
  Print("Installation laid out in " + Utf8(root) + "\n");

  const std::wstring values[] = {
      root + L"download\\", root + L"settings", install, L"channel=stable", L"--quiet", L"1.2.4"};
  std::wstring arguments;
  for (const std::wstring& value : values) {
    arguments += L" " + QuoteForCommandLine(value);
  }

  const Scenario scenarios[] = {
      {L"A direct update that succeeds", L"--direct", L"Checking for updates\nInstalling 1.2.4\nDone\n", L"", L"0"},
      {L"A direct update that fails", L"--direct", L"Installing 1.2.4\n", L"Checksum mismatch in lindquay-core.jar\n", L"3"},
      {L"An elevated update that succeeds", L"--elevate", L"Installing 1.2.4 for all users\nDone\n", L"", L"0"},
  };
  std::wstring logPath = updater + L"kv-out.txt";
  std::wstring recordPath = updater + L"kv-failure-launcher.txt";
  std::wstring productRecord = install + L"\\bin\\product-started.txt";
  int number = 0;
  for (const Scenario& scenario : scenarios) {
    DeleteFileW(recordPath.c_str());
    DeleteFileW(productRecord.c_str());
    StandinSetting output(updater + L"kv-jre\\bin\\", L"STANDIN_STDOUT", scenario.output);
    StandinSetting error(updater + L"kv-jre\\bin\\", L"STANDIN_STDERR", scenario.error);
    StandinSetting exitCode(updater + L"kv-jre\\bin\\", L"STANDIN_EXIT_CODE", scenario.exitCode);

    std::wstring commandLine = QuoteForCommandLine(launcher) + L" 1 " + scenario.mode + arguments;
    size_t logBefore = ReadBytes(logPath).size();
    ProcessResult result = RunProcess(commandLine);
    // The application is started without being waited for: give it a moment.
    for (int attempt = 0; attempt < 100 && result.exitCode == 0 && !FileExists(productRecord); ++attempt) {
      Sleep(20);
    }

    char code[32];
    sprintf(code, "0x%08lX", static_cast<unsigned long>(result.exitCode));
    Print("\n" + std::to_string(++number) + ". " + Utf8(scenario.title) + "\n");
    Print("  command line: " + Utf8(commandLine) + "\n");
    Print("  exit code:    " + std::string(!result.started ? "(not started)" : result.finished ? code : "(did not finish)") + "\n");
    Print("  application:  " + std::string(FileExists(productRecord) ? "started again" : "not started") + "\n");
    Print("  kv-out.txt, what this run added:\n");
    PrintIndented(ReadBytes(logPath).substr(logBefore));
    Print("  kv-failure-launcher.txt: " +
          (FileExists(recordPath) ? ReadBytes(recordPath) : std::string("(none)")) + "\n");
  }
  return 0;
}
