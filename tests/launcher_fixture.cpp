#include "tests/launcher_fixture.h"

namespace {

const char ChildBanner[] = "--Child output here---------------------------------------------\n";
const char ElevatedBanner[] = "--Elevated child output here------------------------------------\n";

void Copy(const wchar_t* builtProgram, const std::wstring& to) {
  ASSERT_TRUE(CopyFileW((TestProgramDirectory() + builtProgram).c_str(), to.c_str(), FALSE)) << Utf8(to);
}

}  // namespace

LauncherRun::LauncherRun() { LayOut(L"app", L"install"); }

void LauncherRun::LayOut(const std::wstring& appName, const std::wstring& installName) {
  app = scratch.Path() + appName + L"\\";
  install = scratch.Path() + installName;
  const std::wstring directories[] = {app, app + L"kv-jre", app + L"kv-jre\\bin", app + L"kv-lib", install, install + L"\\bin"};
  for (const std::wstring& directory : directories) {
    CreateDirectoryW(directory.c_str(), nullptr);
  }
  launcher = app + L"lindquay-updater.exe";
  Copy(L"lindquay-updater.exe", launcher);
  Copy(L"java-standin.exe", app + L"kv-jre\\bin\\java.exe");
  Copy(L"product-standin.exe", install + L"\\bin\\lindquay.exe");
}

ProcessResult LauncherRun::RunRaw(const std::wstring& arguments) {
  return RunProcess(L"\"" + launcher + L"\"" + (arguments.empty() ? L"" : L" " + arguments));
}

ProcessResult LauncherRun::Run(const std::wstring& mode, const std::vector<std::wstring>& values) {
  std::wstring arguments = L"1 " + mode;
  for (const std::wstring& value : values) {
    arguments += L" " + QuoteForCommandLine(value);
  }
  return RunRaw(arguments);
}

std::vector<std::wstring> LauncherRun::Values() const { return {L"B", L"S", install, L"A", L"P", L"C"}; }

std::wstring LauncherRun::ExpectedUpdaterLine(const std::vector<std::wstring>& v) const {
  return L"\"" + app + L"kv-jre\\bin\\java.exe\" -Dfile.encoding=UTF-8 -classpath \"" + app +
         L"kv-lib\\*\" -Dlindboot.sourceDirectory=" + QuoteForCommandLine(v[0]) +
         L" -Dlindquay.settings=" + QuoteForCommandLine(v[1]) + L" com.korvane.lindquay.LindquayUpdater " +
         QuoteForCommandLine(v[2]) + L" " + QuoteForCommandLine(v[3]) + L" \"" + app + L"kv-handle\" " +
         QuoteForCommandLine(v[4]) + L" \"" + app + L"kv-javaSemaphore\" " + QuoteForCommandLine(v[5]);
}

std::vector<std::wstring> LauncherRun::ExpectedJavaArguments(const std::vector<std::wstring>& v) const {
  return ExpectedUpdaterArguments(app, v);
}

std::string LauncherRun::UpdaterStartLines(const std::vector<std::wstring>& values) const {
  return "Starting updater:\n    cmd=" + Utf8(ExpectedUpdaterLine(values)) + "\n" + ChildBanner;
}

std::string LauncherRun::ElevatedStartLines(const std::vector<std::wstring>& values) const {
  std::wstring parameters = L"1 --child";
  for (const std::wstring& value : values) {
    parameters += L" " + QuoteForCommandLine(value);
  }
  return "Starting elevated child:\n    exe=" + Utf8(launcher) + "\n    arg=" + Utf8(parameters) + "\n" + ElevatedBanner;
}

std::string LauncherRun::ExitLines(DWORD code) {
  char line[128];
  wsprintfA(line, "\n--Child exited with code 0x%08X----------------------------\n", code);
  return line;
}

std::string LauncherRun::ProductStartLines() const {
  return "Starting product:\n    cmd=\"" + Utf8(install) + "\\bin\\lindquay.exe\"\n";
}

ProductRecord LauncherRun::WaitForProduct(const std::wstring& binDirectory, DWORD milliseconds) const {
  ProductRecord record;
  std::wstring path = binDirectory + L"product-started.txt";
  const DWORD step = 20;
  for (DWORD waited = 0; waited <= milliseconds; waited += step) {
    std::string bytes = ReadBytes(path);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    size_t first = text.find(L'\n');
    size_t second = first == std::wstring::npos ? first : text.find(L'\n', first + 1);
    if (second != std::wstring::npos) {
      record.started = true;
      record.processId = std::stoul(text.substr(0, first));
      record.parentProcessId = std::stoul(text.substr(first + 1, second - first - 1));
      record.commandLine = text.substr(second + 1);
      return record;
    }
    Sleep(step);
  }
  return record;
}
