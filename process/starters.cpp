#include "process/starters.h"

#include <objbase.h>
#include <shellapi.h>

#include "support/log.h"

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

// COM serves only the elevated start, so ole32 is loaded then, from the
// system directory, and not imported: loading it with every start (it brings
// combase and rpcrt4 along) costs each run several milliseconds, under Wine
// about as much as starting a process.
constexpr const wchar_t* ComLibrary = L"ole32.dll";
using CoInitializeExFunction = HRESULT(WINAPI*)(void*, DWORD);
using CoUninitializeFunction = void(WINAPI*)();

FARPROC ComFunction(HMODULE com, const char* name) {
  return com != nullptr ? GetProcAddress(com, name) : nullptr;
}

void LogStart(const wchar_t* commandLine, const wchar_t* label, bool redirectToLog) {
  LogFormat(StartLine, label);
  LogText(CommandPrefix);
  LogText(commandLine);
  LogText(LineFeed);
  if (redirectToLog) {
    LogText(ChildOutputBanner);
  }
}

}  // namespace

DWORD StartProcess(
    wchar_t* commandLine,
    const wchar_t* label,
    WORD showMode,
    bool redirectToLog,
    HANDLE* child) {
  *child = nullptr;

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

  LogStart(commandLine, label, redirectToLog);

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
    DWORD error = FailureCode(GetLastError());
    LogFormat(ErrorLine, "CreateProcessW", error);
    return error;
  }
  CloseHandle(process.hThread);
  *child = process.hProcess;
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
    HANDLE* child) {
  *child = nullptr;

  // The shell may hand the verb to COM extensions. Without ole32 the shell
  // is asked all the same, as after a failed CoInitializeEx.
  HMODULE com = LoadLibraryExW(ComLibrary, /* hFile */ nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  auto coInitializeEx = reinterpret_cast<CoInitializeExFunction>(
      reinterpret_cast<void*>(ComFunction(com, "CoInitializeEx")));
  auto coUninitialize = reinterpret_cast<CoUninitializeFunction>(
      reinterpret_cast<void*>(ComFunction(com, "CoUninitialize")));
  if (coInitializeEx != nullptr) {
    coInitializeEx(/* pvReserved */ nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  }

  SHELLEXECUTEINFOW execute = {};
  execute.cbSize = sizeof(execute);
  execute.fMask = SEE_MASK_NOCLOSEPROCESS;  // Hand back the process to wait for.
  execute.lpVerb = ElevationVerb;
  execute.lpFile = file;
  execute.lpParameters = parameters;
  execute.nShow = showMode;

  LogText(ElevatedStartLine);
  LogText(FilePrefix);
  LogText(file);
  LogText(LineFeed);
  LogText(ParametersPrefix);
  LogText(parameters);
  LogText(LineFeed);
  LogText(ElevatedOutputBanner);

  BOOL started = ShellExecuteExW(&execute);
  DWORD error = started ? 0 : FailureCode(GetLastError());
  if (coUninitialize != nullptr) {
    coUninitialize();
  }
  // ole32 stays loaded: COM may still be winding down threads of its own.

  // The shell may report success without a process (DDE and some
  // associations); there is then nothing to wait for and no exit code.
  if (started && execute.hProcess == nullptr) {
    error = ErrorStartedWithoutProcess;
  }
  if (error != 0) {
    if (execute.hProcess != nullptr) {
      CloseHandle(execute.hProcess);
    }
    LogFormat(ErrorLine, "ShellExecuteExW", error);
    return error;
  }
  *child = execute.hProcess;
  return 0;
}

DWORD WaitForChild(HANDLE child) {
  DWORD exitCode = 0;
  const char* failedCall = nullptr;
  DWORD error = 0;
  if (WaitForSingleObject(child, INFINITE) != WAIT_OBJECT_0) {
    failedCall = "WaitForSingleObject";
    error = FailureCode(GetLastError());
  } else if (!GetExitCodeProcess(child, &exitCode)) {
    failedCall = "GetExitCodeProcess";
    error = FailureCode(GetLastError());
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
