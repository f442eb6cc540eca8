#include "process/starters.h"

#include <objbase.h>
#include <shellapi.h>

#include "support/failure_codes.h"
#include "support/log.h"
#include "support/wide_string_buffer.h"

namespace {

// The fixed texts that are written as they are, kept as ASCII bytes.
constexpr const char* ElevatedStartLine = "Starting elevated child:\n";
constexpr const char* CommandPrefix = "    cmd=";
constexpr const char* FilePrefix = "    exe=";
constexpr const char* ParametersPrefix = "    arg=";
constexpr const char* LineFeed = "\n";
constexpr const char* ChildOutputBanner =
    "--Child output here---------------------------------------------\n";
constexpr const char* ElevatedOutputBanner =
    "--Elevated child output here------------------------------------\n";
// The formats. A label comes as a wide string (%S), a failed call's name as
// an ASCII one (%s).
constexpr const char* StartLine = "Starting %S:\n";
constexpr const char* ExitBanner =
    "--Child exited with code 0x%08X----------------------------\n";
constexpr const char* ErrorLine = "Error: %s: 0x%08X\n";

constexpr const wchar_t* ElevationVerb = L"runas";
// The shell gives the program the line "file" parameters: two quotes and a
// space around the two.
constexpr int ShellLineOverhead = 3;

void LogStart(const wchar_t* commandLine, const wchar_t* label, bool redirectToLog) {
  LogFormat(StartLine, label);
  LogText(CommandPrefix);
  LogText(commandLine);
  LogText(LineFeed);
  if (redirectToLog) {
    LogText(ChildOutputBanner);
  }
}

void LogElevatedStart(const wchar_t* file, const wchar_t* parameters) {
  LogText(ElevatedStartLine);
  LogText(FilePrefix);
  LogText(file);
  LogText(LineFeed);
  LogText(ParametersPrefix);
  LogText(parameters);
  LogText(LineFeed);
  LogText(ElevatedOutputBanner);
}

// The shell expands environment variables in the file name even without
// SEE_MASK_DOENVSUBST (Wine's always does): a launcher under "C:\%HOMEPATH%\"
// would start whatever lies at the same place under the user's own profile,
// elevated. True when expansion would change `file`.
bool ShellWouldRewrite(const wchar_t* file) {
  bool holdsPercent = false;
  for (const wchar_t* cursor = file; *cursor != L'\0'; ++cursor) {
    holdsPercent = holdsPercent || *cursor == L'%';
  }
  if (!holdsPercent) {
    return false;
  }
  DWORD size = ExpandEnvironmentStringsW(file, /* lpDst */ nullptr, /* nSize */ 0);
  if (size == 0) {
    return true;  // Cannot tell: take the safe side.
  }
  WideStringBuffer expanded(size);
  ExpandEnvironmentStringsW(file, expanded.Text(), size);
  const wchar_t* original = file;
  const wchar_t* result = expanded.Text();
  while (*original != L'\0' && *original == *result) {
    ++original;
    ++result;
  }
  return *original != *result;
}

}  // namespace

DWORD StartProcess(
    wchar_t* commandLine,
    const wchar_t* label,
    WORD showMode,
    bool redirectToLog,
    UniqueHandle& child) {
  child.Reset(nullptr);
  LogStart(commandLine, label, redirectToLog);
  if (lstrlenW(commandLine) > MaxCommandLineLength) {
    LogFormat(ErrorLine, "CreateProcessW", ErrorCommandLineTooLong);
    return ErrorCommandLineTooLong;
  }

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (redirectToLog) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = LogHandle;
    startup.hStdError = LogHandle;
  }
  if (showMode != ShowDefault) {
    startup.dwFlags |= STARTF_USESHOWWINDOW;
    startup.wShowWindow = showMode;
  }
  PROCESS_INFORMATION process = {};
  BOOL started = CreateProcessW(
      /* lpApplicationName */ nullptr,
      /* lpCommandLine */ commandLine,
      /* lpProcessAttributes */ nullptr,
      /* lpThreadAttributes */ nullptr,
      /* bInheritHandles */ redirectToLog ? TRUE : FALSE,
      /* dwCreationFlags */ 0,
      /* lpEnvironment */ nullptr,
      /* lpCurrentDirectory */ nullptr,
      /* lpStartupInfo */ &startup,
      /* lpProcessInformation */ &process);
  if (!started) {
    DWORD error = LastFailureCode();
    LogFormat(ErrorLine, "CreateProcessW", error);
    return error;
  }
  CloseHandle(process.hThread);
  child.Reset(process.hProcess);
  return 0;
}

void RefuseStart(const wchar_t* commandLine, const wchar_t* label, bool redirectToLog, DWORD code) {
  LogStart(commandLine, label, redirectToLog);
  LogFormat(ErrorLine, "CreateProcessW", code);
}

DWORD StartElevated(
    const wchar_t* file,
    const wchar_t* parameters,
    WORD showMode,
    UniqueHandle& child) {
  child.Reset(nullptr);
  LogElevatedStart(file, parameters);

  SHELLEXECUTEINFOW execute = {};
  UniqueHandle process;
  DWORD error = 0;
  if (lstrlenW(file) + ShellLineOverhead + lstrlenW(parameters) > MaxCommandLineLength) {
    error = ErrorCommandLineTooLong;
  } else if (ShellWouldRewrite(file)) {
    error = ErrorFileNameWouldChange;
  } else {
    // The shell may hand the verb to COM extensions.
    CoInitializeEx(/* pvReserved */ nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    execute.cbSize = sizeof(execute);
    execute.fMask = SEE_MASK_NOCLOSEPROCESS;  // Hand back the process to wait for.
    execute.lpVerb = ElevationVerb;
    execute.lpFile = file;
    execute.lpParameters = parameters;
    execute.nShow = showMode;
    BOOL started = ShellExecuteExW(&execute);
    error = started ? 0 : LastFailureCode();
    CoUninitialize();
    process.Reset(execute.hProcess);

    // The shell may report success without a process (DDE and some
    // associations); there is then nothing to wait for and no exit code.
    if (started && execute.hProcess == nullptr) {
      error = ErrorStartedWithoutProcess;
    }
  }
  if (error != 0) {
    LogFormat(ErrorLine, "ShellExecuteExW", error);
    return error;
  }
  child = static_cast<UniqueHandle&&>(process);
  return 0;
}

DWORD WaitForChild(HANDLE child) {
  DWORD exitCode = 0;
  const char* failedCall = nullptr;
  DWORD error = 0;
  if (WaitForSingleObject(child, INFINITE) != WAIT_OBJECT_0) {
    failedCall = "WaitForSingleObject";
    error = LastFailureCode();
  } else if (!GetExitCodeProcess(child, &exitCode)) {
    failedCall = "GetExitCodeProcess";
    error = LastFailureCode();
  }

  // Ends a last line that the child left unterminated.
  LogText(LineFeed);
  if (failedCall != nullptr) {
    LogFormat(ErrorLine, failedCall, error);
    return error;
  }
  LogFormat(ExitBanner, exitCode);
  return exitCode;
}
