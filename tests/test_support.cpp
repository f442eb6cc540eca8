#include "tests/test_support.h"

#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdio>

#include "tests/expected_log.h"

namespace {

std::wstring TemporaryFile(const std::wstring& directory, const wchar_t* prefix) {
  wchar_t name[MAX_PATH];
  GetTempFileNameW(directory.c_str(), prefix, 0, name);
  return name;
}

}  // namespace

ScratchDirectory::ScratchDirectory() {
  wchar_t temporary[MAX_PATH];
  GetTempPathW(MAX_PATH, temporary);
  static unsigned counter = 0;
  std::wstring base = std::wstring(temporary) + L"lq-" + std::to_wstring(GetCurrentProcessId()) + L"-";
  do {
    path = base + std::to_wstring(++counter);
  } while (!CreateDirectoryW(path.c_str(), nullptr));
  path += L"\\";
}

bool ScratchDirectory::Remove() const {
  for (int attempt = 0; attempt < 200; ++attempt, Sleep(50)) {
    RemoveTree(path);
    if (!FileExists(path)) {
      return true;
    }
  }
  return false;
}

void RemoveTree(const std::wstring& path) {
  std::wstring directory = path;
  if (!directory.empty() && directory.back() != L'\\') {
    directory += L"\\";
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((directory + L"*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") {
        continue;
      }
      std::wstring child = directory + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(directory.c_str());
}

std::wstring TestProgramDirectory() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return bytes;
  }
  char block[65536];
  DWORD read = 0;
  while (ReadFile(file, block, sizeof(block), &read, nullptr) && read > 0) {
    bytes.append(block, read);
  }
  CloseHandle(file);
  return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::vector<std::wstring> ReadArgumentList(const std::wstring& path) {
  std::string bytes = ReadBytes(path);
  std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
  text.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  std::vector<std::wstring> arguments;
  size_t start = 0;
  for (size_t end = text.find(L'\0'); end != std::wstring::npos; end = text.find(L'\0', start)) {
    arguments.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return arguments;
}

std::string Narrow(const std::wstring& text, UINT codePage) {
  if (text.empty()) {
    return std::string();
  }
  int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

std::string Utf8(const std::wstring& text) { return Narrow(text, CP_UTF8); }

std::vector<std::wstring> ExpectedUpdaterArguments(const std::wstring& directory, const std::vector<std::wstring>& six) {
  return {directory + L"kv-jre\\bin\\java.exe",
          L"-Dfile.encoding=UTF-8",
          L"-classpath",
          directory + L"kv-lib\\*",
          L"-Dlindboot.sourceDirectory=" + six[0],
          L"-Dlindquay.settings=" + six[1],
          L"com.korvane.lindquay.LindquayUpdater",
          six[2],
          six[3],
          directory + L"kv-handle",
          six[4],
          directory + L"kv-javaSemaphore",
          six[5]};
}

std::wstring QuoteForCommandLine(const std::wstring& value) {
  std::wstring quoted = L"\"";
  size_t pendingBackslashes = 0;
  for (wchar_t c : value) {
    if (c == L'\\') {
      ++pendingBackslashes;
      continue;
    }
    quoted.append(c == L'"' ? pendingBackslashes * 2 + 1 : pendingBackslashes, L'\\');
    pendingBackslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(pendingBackslashes * 2, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMilliseconds, const std::wstring& environment) {
  ProcessResult result;
  wchar_t temporary[MAX_PATH];
  GetTempPathW(MAX_PATH, temporary);
  std::wstring outputPath = TemporaryFile(temporary, L"out");
  std::wstring errorPath = TemporaryFile(temporary, L"err");

  SECURITY_ATTRIBUTES inheritable = {};
  inheritable.nLength = sizeof(inheritable);
  inheritable.bInheritHandle = TRUE;
  // Files, not pipes: a grandchild that inherits them could hold a pipe open
  // after the launcher has ended.
  HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, CREATE_ALWAYS, 0, nullptr);
  HANDLE error = CreateFileW(errorPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, CREATE_ALWAYS, 0, nullptr);

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = output;
  startup.hStdError = error;
  PROCESS_INFORMATION process = {};
  std::wstring writable = commandLine;
  std::wstring block = environment + L'\0';
  BOOL started = CreateProcessW(nullptr, writable.data(), nullptr, nullptr, /* bInheritHandles */ TRUE,
                                CREATE_UNICODE_ENVIRONMENT, environment.empty() ? nullptr : block.data(), nullptr,
                                &startup, &process);
  result.started = started != FALSE;
  result.startError = started ? 0 : GetLastError();
  CloseHandle(output);
  CloseHandle(error);
  if (started) {
    result.processId = process.dwProcessId;
    if (WaitForSingleObject(process.hProcess, timeoutMilliseconds) == WAIT_OBJECT_0) {
      result.finished = true;
      GetExitCodeProcess(process.hProcess, &result.exitCode);
    } else {
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, INFINITE);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  result.standardOutput = ReadBytes(outputPath);
  result.standardError = ReadBytes(errorPath);
  DeleteFileW(outputPath.c_str());
  DeleteFileW(errorPath.c_str());
  return result;
}

namespace {
int runsRepeatedAfterWineFailedStart = 0;
}  // namespace

bool WineFailedAStart(DWORD code, const std::string& logged) {
  const DWORD signature = ERROR_INTERNAL_ERROR;
  return code == signature || logged.find(LoggedError("CreateProcessW", signature)) != std::string::npos ||
         logged.find(LoggedError("ShellExecuteExW", signature)) != std::string::npos;
}

void CountRepeatedRun() {
  ++runsRepeatedAfterWineFailedStart;
  std::printf("Wine failed a start (ERROR_INTERNAL_ERROR): the run is repeated\n");
}

void PrintRunsRepeated() {
  std::printf("Runs repeated after a failed start under Wine: %d\n", runsRepeatedAfterWineFailedStart);
  std::fflush(stdout);
}

RunTraces::RunTraces(const std::wstring& app, const std::wstring& install) : log(app + L"kv-out.txt") {
  const std::wstring records[] = {app + L"kv-failure-launcher.txt", app + L"kv-jre\\bin\\java-cmdline.txt",
                                  install + L"\\bin\\product-started.txt"};
  WIN32_FILE_ATTRIBUTE_DATA data;
  logExisted = GetFileAttributesExW(log.c_str(), GetFileExInfoStandard, &data) &&
               !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  logSize = logExisted ? (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow : 0;
  for (const std::wstring& record : records) {
    if (!FileExists(record)) {
      newRecords.push_back(record);
    }
  }
}

std::string RunTraces::Logged() const {
  std::string bytes;
  HANDLE file = CreateFileW(
      log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return bytes;  // no log, or one held open without sharing: nothing was logged
  }
  LARGE_INTEGER size = {};
  GetFileSizeEx(file, &size);
  const unsigned long long end = static_cast<unsigned long long>(size.QuadPart);
  LARGE_INTEGER start = {};
  start.QuadPart = static_cast<LONGLONG>(end > logSize + 4096 ? end - 4096 : std::min(end, logSize));
  bytes.resize(static_cast<size_t>(end - static_cast<unsigned long long>(start.QuadPart)));
  DWORD read = 0;
  SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
  ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  bytes.resize(read);
  CloseHandle(file);
  return bytes;
}

void RunTraces::Undo() const {
  HANDLE file = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    LARGE_INTEGER size = {};
    size.QuadPart = static_cast<LONGLONG>(logSize);
    SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
  }
  if (!logExisted) {
    DeleteFileW(log.c_str());
  }
  for (const std::wstring& record : newRecords) {
    DeleteFileW(record.c_str());
  }
}

void LetEveryoneChange(const std::wstring& path) {
  // What Wine's mode 0777 reads back as, so that the rights a test expects
  // hold on Windows too.
  PSECURITY_DESCRIPTOR writable = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x1301ff;;;WD)", SDDL_REVISION_1, &writable, nullptr);
  if (!SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, writable)) {
    std::fprintf(stderr, "cannot let everyone change %ls\n", path.c_str());
  }
  LocalFree(writable);
}

bool RunOnHost(const char* format, const std::vector<std::wstring>& paths, bool (*done)(const std::wstring& last)) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  auto unixName = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  std::string line;
  size_t next = 0;
  for (const char* cursor = format; *cursor != '\0'; ++cursor) {
    if (cursor[0] == '%' && cursor[1] == 's' && unixName != nullptr && next < paths.size()) {
      char* name = unixName(paths[next++].c_str());
      line += std::string("\"") + (name != nullptr ? name : "") + "\"";
      HeapFree(GetProcessHeap(), 0, name);
      ++cursor;
    } else {
      line.push_back(*cursor);
    }
  }
  std::wstring wide(line.begin(), line.end());
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  CreateProcessW(nullptr, wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
  for (int waited = 0; waited < 5000 && !done(paths.back()); waited += 20) {
    Sleep(20);
  }
  return done(paths.back());
}

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

namespace {

bool OwnedBy(const std::wstring& path, WELL_KNOWN_SID_TYPE account) {
  BYTE descriptor[4096];
  DWORD needed = 0;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  return GetFileSecurityW(path.c_str(), OWNER_SECURITY_INFORMATION, descriptor, sizeof(descriptor), &needed) &&
         GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && IsWellKnownSid(owner, account);
}

// Windows lets a process give away what it owns only with SeRestorePrivilege,
// which an elevated token holds but has not enabled.
bool EnableRestorePrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
    return false;
  }
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // AdjustTokenPrivileges succeeds with ERROR_NOT_ALL_ASSIGNED when the token lacks it.
  bool enabled = LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &privileges.Privileges[0].Luid) &&
                 AdjustTokenPrivileges(
                     /* TokenHandle */ token,
                     /* DisableAllPrivileges */ FALSE,
                     /* NewState */ &privileges,
                     /* BufferLength */ 0,
                     /* PreviousState */ nullptr,
                     /* ReturnLength */ nullptr) &&
                 GetLastError() == ERROR_SUCCESS;
  CloseHandle(token);
  return enabled;
}

// The scenario's entries, each "NAME=value" and a zero, without `name`'s.
std::wstring ScenarioWithout(const std::wstring& path, const std::wstring& name) {
  std::wstring joined;
  for (const std::wstring& entry : ReadArgumentList(path)) {
    if (entry.compare(0, name.size() + 1, name + L"=") != 0) {
      joined += entry + L'\0';
    }
  }
  return joined;
}

void WriteScenario(const std::wstring& path, const std::wstring& entries) {
  WriteBytes(path, std::string(reinterpret_cast<const char*>(entries.data()), entries.size() * sizeof(wchar_t)));
}

}  // namespace

bool GiveToAnotherAccount(const std::wstring& path) {
  if (UnderWine()) {
    return RunOnHost("/bin/chown nobody %s", {path},
                     [](const std::wstring& owned) { return OwnedBy(owned, WinAnonymousSid); });
  }
  BYTE guests[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(guests);
  std::wstring name = path;
  return EnableRestorePrivilege() && CreateWellKnownSid(WinBuiltinGuestsSid, nullptr, guests, &size) &&
         SetNamedSecurityInfoW(
             /* pObjectName */ name.data(),
             /* ObjectType */ SE_FILE_OBJECT,
             /* SecurityInfo */ OWNER_SECURITY_INFORMATION,
             /* psidOwner */ guests,
             /* psidGroup */ nullptr,
             /* pDacl */ nullptr,
             /* pSacl */ nullptr) == ERROR_SUCCESS &&
         OwnedBy(path, WinBuiltinGuestsSid);
}

bool MakeLink(const std::wstring& link, const std::wstring& target) {
  if (UnderWine()) {
    return RunOnHost("/bin/ln -s %s %s", {target, link}, [](const std::wstring& made) { return FileExists(made); });
  }
  // A mount point's reparse data (user-mode headers need not declare it): the
  // tag, the data's length, a reserved word, the substitute name's offset and
  // length and the print name's, in bytes; then both names, each ending in a zero.
  const std::wstring names = L"\\??\\" + target + L'\0' + target + L'\0';
  const WORD substitute = static_cast<WORD>((target.size() + 4) * sizeof(wchar_t));
  const WORD header[] = {LOWORD(IO_REPARSE_TAG_MOUNT_POINT), HIWORD(IO_REPARSE_TAG_MOUNT_POINT),
                         static_cast<WORD>(8 + names.size() * sizeof(wchar_t)), 0, 0, substitute,
                         static_cast<WORD>(substitute + sizeof(wchar_t)), static_cast<WORD>(target.size() * sizeof(wchar_t))};
  std::string data(reinterpret_cast<const char*>(header), sizeof(header));
  data.append(reinterpret_cast<const char*>(names.data()), names.size() * sizeof(wchar_t));
  if (!CreateDirectoryW(link.c_str(), nullptr)) {
    return false;
  }
  HANDLE folder = CreateFileW(
      /* lpFileName */ link.c_str(),
      /* dwDesiredAccess */ GENERIC_WRITE,
      /* dwShareMode */ 0,
      /* lpSecurityAttributes */ nullptr,
      /* dwCreationDisposition */ OPEN_EXISTING,
      /* dwFlagsAndAttributes */ FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      /* hTemplateFile */ nullptr);
  DWORD returned = 0;
  bool made = folder != INVALID_HANDLE_VALUE &&
              DeviceIoControl(
                  /* hDevice */ folder,
                  /* dwIoControlCode */ FSCTL_SET_REPARSE_POINT,
                  /* lpInBuffer */ data.data(),
                  /* nInBufferSize */ static_cast<DWORD>(data.size()),
                  /* lpOutBuffer */ nullptr,
                  /* nOutBufferSize */ 0,
                  /* lpBytesReturned */ &returned,
                  /* lpOverlapped */ nullptr);
  if (folder != INVALID_HANDLE_VALUE) {
    CloseHandle(folder);
  }
  return made;
}

MappedDriveLetter::MappedDriveLetter(const std::wstring& target)
    : turn(CreateMutexW(nullptr, FALSE, L"lindquay-tests-drive-letter")), target(target) {
  WaitForSingleObject(turn, INFINITE);  // WAIT_ABANDONED, too, hands it over
  wchar_t letter = L'Q';
  while (letter < L'Z' && (GetLogicalDrives() & (1u << (letter - L'A'))) != 0) {
    ++letter;
  }
  root = std::wstring(1, letter) + L":\\";
  // The link lies in the dosdevices folder beside the prefix's C:\.
  link = std::string(" %s/../dosdevices/") + static_cast<char>(letter | 0x20) + ":";
  const bool mapped = UnderWine() ? RunOnHost(("/bin/ln -sfn %s" + link).c_str(), {target, L"C:\\", root}, FileExists)
                                  : DefineDosDeviceW(0, root.substr(0, 2).c_str(), target.c_str());
  if (!mapped || !FileExists(root)) {
    root.clear();
  }
}

MappedDriveLetter::~MappedDriveLetter() {
  if (!root.empty() && UnderWine()) {
    RunOnHost(("/bin/rm -f" + link).c_str(), {L"C:\\", root}, [](const std::wstring& gone) { return !FileExists(gone); });
  } else if (!root.empty()) {
    DefineDosDeviceW(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, root.substr(0, 2).c_str(), target.c_str());
  }
  ReleaseMutex(turn);
  CloseHandle(turn);
}

StandinSetting::StandinSetting(const std::wstring& directory, const wchar_t* name, const std::wstring& value)
    : path(directory + L"standin-scenario.txt"), name(name) {
  WriteScenario(path, ScenarioWithout(path, name) + name + L"=" + value + L'\0');
}

StandinSetting::~StandinSetting() { WriteScenario(path, ScenarioWithout(path, name)); }

ScopedEnvironment::ScopedEnvironment(const wchar_t* name, const std::wstring& value) : name(name) {
  SetEnvironmentVariableW(name, value.c_str());
}

ScopedEnvironment::~ScopedEnvironment() { SetEnvironmentVariableW(name.c_str(), nullptr); }
