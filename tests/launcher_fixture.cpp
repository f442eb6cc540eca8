#include "tests/launcher_fixture.h"

namespace {

std::string Ansi(const std::wstring& text) { return Narrow(text, CP_ACP); }

std::wstring FromAnsi(const std::string& bytes) {
  if (bytes.empty()) {
    return std::wstring();
  }
  int size = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
  return text;
}

void Copy(const wchar_t* builtProgram, const std::wstring& to) {
  ASSERT_TRUE(CopyFileW((TestProgramDirectory() + builtProgram).c_str(), to.c_str(), FALSE)) << Utf8(to);
}

}  // namespace

LauncherRun::LauncherRun() { LayOut(L"app", L"install"); }

LauncherRun::~LauncherRun() { EXPECT_TRUE(scratch.Remove()) << "left behind: " << Utf8(scratch.Path()); }

void LauncherRun::LayOut(const std::wstring& appName, const std::wstring& installName) {
  app = scratch.Path() + appName + L"\\";
  updaterApp = app;
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
  const std::wstring line = L"\"" + launcher + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  // What a repeat must not find is the failed run's log lines and records.
  // kv-scriptSemaphore needs no restoring: the failed run deleted it or kept
  // it as the repeat does, since every start judges (or deletes) it first.
  ProcessResult result;
  EXPECT_TRUE(RepeatOnceIfWineFailedAStart(RunTraces(app, install), [&] {
    result = RunProcess(line, 120000, environment);
    return result.started ? result.exitCode : result.startError;
  })) << "Wine failed a start twice in a row (ERROR_INTERNAL_ERROR)";
  EXPECT_TRUE(result.started) << "the launcher could not be started: error " << result.startError;
  return result;
}

ProcessResult LauncherRun::Run(const std::wstring& mode, const std::vector<std::wstring>& values) {
  std::wstring arguments = L"1 " + mode;
  for (const std::wstring& value : values) {
    arguments += L" " + QuoteForCommandLine(value);
  }
  return RunRaw(arguments);
}

std::vector<std::wstring> LauncherRun::Values() const { return {L"B", L"S", install, L"A", L"P", L"C"}; }

bool LauncherRun::HeldByCodePage(const std::vector<std::wstring>& values) {
  for (const std::wstring& value : values) {
    if (FromAnsi(Ansi(value)) != value) {
      return false;
    }
  }
  return true;
}

void LauncherRun::GiveToAnotherAccount(const std::wstring& path) {
  ASSERT_TRUE(::GiveToAnotherAccount(path)) << "giving a folder another owner takes a run as root (Wine) or elevated";
}

std::wstring LauncherRun::JavaDirectory() const {
  std::string bytes = ReadBytes(app + L"kv-jre\\bin\\java-directory.txt");
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

std::wstring LauncherRun::UsableShortName(const std::wstring& path) {
  std::wstring name(32768, L'\0');
  name.resize(GetShortPathNameW(path.c_str(), name.data(), static_cast<DWORD>(name.size())));
  const bool usable = !name.empty() && name != path && HeldByCodePage({name}) && name.find(L';') == std::wstring::npos;
  return usable ? name : std::wstring();
}

bool LauncherRun::SameFile(const std::wstring& first, const std::wstring& second) {
  BY_HANDLE_FILE_INFORMATION information[2] = {};
  const std::wstring* paths[] = {&first, &second};
  for (int index = 0; index < 2; ++index) {
    HANDLE file = CreateFileW(paths[index]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      return false;
    }
    BOOL read = GetFileInformationByHandle(file, &information[index]);
    CloseHandle(file);
    if (!read) {
      return false;
    }
  }
  return information[0].dwVolumeSerialNumber == information[1].dwVolumeSerialNumber &&
         information[0].nFileIndexHigh == information[1].nFileIndexHigh &&
         information[0].nFileIndexLow == information[1].nFileIndexLow;
}

std::wstring LauncherRun::ExpectedUpdaterLine(const std::vector<std::wstring>& v) const {
  return L"\"" + updaterApp + L"kv-jre\\bin\\java.exe\" -Dfile.encoding=UTF-8 -classpath \"" + updaterApp +
         L"kv-lib\\*\" -Dlindboot.sourceDirectory=" + QuoteForCommandLine(v[0]) +
         L" -Dlindquay.settings=" + QuoteForCommandLine(v[1]) + L" com.korvane.lindquay.LindquayUpdater " +
         QuoteForCommandLine(v[2]) + L" " + QuoteForCommandLine(v[3]) + L" \"" + updaterApp + L"kv-handle\" " +
         QuoteForCommandLine(v[4]) + L" \"" + updaterApp + L"kv-javaSemaphore\" " + QuoteForCommandLine(v[5]);
}

std::vector<std::wstring> LauncherRun::ExpectedJavaArguments(const std::vector<std::wstring>& v) const {
  return ExpectedUpdaterArguments(updaterApp, v);
}

std::string LauncherRun::UpdaterStartLines(const std::vector<std::wstring>& values) const {
  return LoggedStart("updater", ExpectedUpdaterLine(values), /* redirected */ true);
}

std::string LauncherRun::ElevatedStartLines(const std::vector<std::wstring>& values) const {
  std::wstring parameters = L"1 --child";
  for (const std::wstring& value : values) {
    parameters += L" " + QuoteForCommandLine(value);
  }
  return LoggedElevatedStart(launcher, parameters);
}

std::string LauncherRun::ProductStartLines(const std::wstring& installDirectory) {
  return LoggedStart("product", L"\"" + installDirectory + L"\\bin\\lindquay.exe\"", /* redirected */ false);
}

std::string LauncherRun::StartLines(const std::wstring& mode, const std::vector<std::wstring>& values) const {
  return (mode == L"--elevate" ? ElevatedStartLines(values) : "") + UpdaterStartLines(values);
}

std::string LauncherRun::EndLines(const std::wstring& mode, DWORD code) const {
  return ExitLines(code) + FirstInstanceExitLines(mode, code) + (RestartsProduct(mode, code) ? ProductStartLines() : "");
}

std::string LauncherRun::FirstInstanceExitLines(const std::wstring& mode, DWORD code) {
  return mode == L"--elevate" ? ExitLines(code) : "";
}

std::string LauncherRun::Record(const std::wstring& mode, DWORD code, const std::wstring& passThroughA) {
  char fields[64];
  wsprintfA(fields, "java,0x%08X,%s,", code, mode == L"--direct" ? "direct" : "elevated");
  return fields + Ansi(passThroughA);
}

StartupRecord LauncherRun::JavaStartup() const {
  std::string text = ReadBytes(app + L"kv-jre\\bin\\java-startup.txt");
  StartupRecord record;
  size_t space = text.find(' ');
  if (space != std::string::npos) {
    record.flags = std::stoul(text.substr(0, space));
    record.showWindow = std::stoul(text.substr(space + 1));
  }
  return record;
}

std::vector<std::wstring> LauncherRun::JavaAnsiSplit() const {
  std::string bytes = ReadBytes(app + L"kv-jre\\bin\\java-ansi.bin");
  std::vector<std::wstring> arguments;
  for (size_t start = 0, end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
    arguments.push_back(FromAnsi(bytes.substr(start, end - start)));
  }
  return arguments;
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
      record.openFiles = ReadArgumentList(binDirectory + L"product-files.bin");
      record.outputType = ReadBytes(binDirectory + L"product-output.txt");
      return record;
    }
    Sleep(step);
  }
  return record;
}
