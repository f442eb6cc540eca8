#include "process/starters.h"

#include <objbase.h>
#include <shellapi.h>

#include "process/command_lines.h"
#include "support/byte_buffer.h"
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
constexpr const char* StartWord = "Starting ";
constexpr const char* LabelEnd = ":\n";
// The formats, each written whole: a failed call's name comes as an ASCII
// string (%s). After a child, a line feed first ends a last line that the
// child left unterminated, before the usual error line (LogError).
constexpr const char* ExitBanner =
    "\n--Child exited with code 0x%08X----------------------------\n";
constexpr const char* ErrorAfterChild = "\nError: %s: 0x%08X\n";

constexpr const wchar_t* ElevationVerb = L"runas";
// The shell gives the program the line "file" parameters: two quotes and a
// space around the two.
constexpr int ShellLineOverhead = 3;

// Each start's lines go into the log in one write: every write is a seek
// and a write, each a round trip to the system, and under Wine to its server.
void LogStart(const wchar_t* commandLine, const wchar_t* label, bool redirectToLog) {
  WideStringBuffer lines(0);
  lines.Append(StartWord);
  lines.Append(label);
  lines.Append(LabelEnd);
  lines.Append(CommandPrefix);
  lines.Append(commandLine);
  lines.Append(LineFeed);
  if (redirectToLog) {
    lines.Append(ChildOutputBanner);
  }
  LogText(lines.Text());
}

void LogElevatedStart(const wchar_t* file, const wchar_t* parameters) {
  WideStringBuffer lines(0);
  lines.Append(ElevatedStartLine);
  lines.Append(FilePrefix);
  lines.Append(file);
  lines.Append(LineFeed);
  lines.Append(ParametersPrefix);
  lines.Append(parameters);
  lines.Append(LineFeed);
  lines.Append(ElevatedOutputBanner);
  LogText(lines.Text());
}

// The shell expands environment variables in the file name even without
// SEE_MASK_DOENVSUBST (Wine's always does): a launcher under "C:\%HOMEPATH%\"
// would start whatever lies at the same place under the user's own profile,
// elevated. True when expansion would change `file`.
bool ShellWouldRewrite(const wchar_t* file) {
  if (!Holds(file, L'%')) {
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

// Fills `attributes` with an attribute list that lets a child inherit
// `*handle` alone. Returns null, or the name of the call that failed with
// the thread's last error set.
const char* InheritOnly(ByteBuffer& attributes, HANDLE* handle) {
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(/* lpAttributeList */ nullptr, /* dwAttributeCount */ 1, /* dwFlags */ 0, &size);
  if (!attributes.Allocate(size)) {
    SetLastError(ErrorOutOfMemory);
    return "HeapAlloc";
  }
  auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.Bytes());
  if (!InitializeProcThreadAttributeList(list, /* dwAttributeCount */ 1, /* dwFlags */ 0, &size)) {
    return "InitializeProcThreadAttributeList";
  }
  if (!UpdateProcThreadAttribute(
          /* lpAttributeList */ list,
          /* dwFlags */ 0,
          /* Attribute */ PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
          /* lpValue */ handle,
          /* cbSize */ sizeof(*handle),
          /* lpPreviousValue */ nullptr,
          /* lpReturnSize */ nullptr)) {
    DWORD error = GetLastError();
    DeleteProcThreadAttributeList(list);
    SetLastError(error);
    return "UpdateProcThreadAttribute";
  }
  return nullptr;
}

// The null device, opened so that a child can inherit it.
HANDLE OpenNullDevice() {
  SECURITY_ATTRIBUTES inheritable = {};
  inheritable.nLength = sizeof(inheritable);
  inheritable.bInheritHandle = TRUE;
  return CreateFileW(
      /* lpFileName */ L"NUL",
      /* dwDesiredAccess */ GENERIC_READ | GENERIC_WRITE,
      /* dwShareMode */ FILE_SHARE_READ | FILE_SHARE_WRITE,
      /* lpSecurityAttributes */ &inheritable,
      /* dwCreationDisposition */ OPEN_EXISTING,
      /* dwFlagsAndAttributes */ 0,
      /* hTemplateFile */ nullptr);
}

}  // namespace

DWORD StartProcess(
    wchar_t* commandLine,
    const wchar_t* label,
    WORD showMode,
    bool redirectToLog,
    const wchar_t* currentDirectory,
    UniqueHandle& child,
    const wchar_t* environment) {
  child.Reset(nullptr);
  unsigned long long length = static_cast<unsigned long long>(lstrlenW(commandLine));
  if (length > MaxCommandLineLength) {
    WideStringBuffer reason(0);
    DescribeTooLong(reason, length);
    RefuseStart(commandLine, label, redirectToLog, ErrorCommandLineTooLong, reason.Text());
    return ErrorCommandLineTooLong;
  }
  LogStart(commandLine, label, redirectToLog);

  // The child's standard handles are the log's or the null device's, and
  // that is the one handle it inherits: never a handle that whoever started
  // the launcher left inheritable (a pipe it reads until every holder has
  // closed it), never the caller's standard handles. Null handles would not
  // do: a console program fills them with its console's. And never
  // INVALID_HANDLE_VALUE, which is the current-process pseudo-handle: Wine
  // hands the child a real handle to this process for it.
  UniqueHandle nullDevice;
  HANDLE output = LogHandle;
  if (!redirectToLog || !LogIsOpen()) {
    nullDevice.Reset(OpenNullDevice());
    if (!nullDevice.IsValid()) {
      DWORD error = LastFailureCode();
      LogError("CreateFileW", error);
      return error;
    }
    output = nullDevice.Get();
  }
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdOutput = output;
  startup.StartupInfo.hStdError = output;
  // The updater gets no standard input; the product reads the null device.
  startup.StartupInfo.hStdInput = redirectToLog ? nullptr : output;
  if (showMode != ShowDefault) {
    startup.StartupInfo.dwFlags |= STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = showMode;
  }
  // The list holds a pointer to this, not its value: it must outlive the start.
  HANDLE inherited = output;
  ByteBuffer attributes;
  const char* failedCall = InheritOnly(attributes, &inherited);
  if (failedCall != nullptr) {
    DWORD error = LastFailureCode();
    LogError(failedCall, error);
    return error;
  }
  startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.Bytes());
  PROCESS_INFORMATION process = {};
  BOOL started = CreateProcessW(
      /* lpApplicationName */ nullptr,
      /* lpCommandLine */ commandLine,
      /* lpProcessAttributes */ nullptr,
      /* lpThreadAttributes */ nullptr,
      /* bInheritHandles */ TRUE,
      /* dwCreationFlags */ EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT,
      /* lpEnvironment */ const_cast<wchar_t*>(environment),
      /* lpCurrentDirectory */ currentDirectory,
      /* lpStartupInfo */ &startup.StartupInfo,
      /* lpProcessInformation */ &process);
  DWORD error = started ? 0 : LastFailureCode();
  DeleteProcThreadAttributeList(startup.lpAttributeList);
  if (!started) {
    LogError("CreateProcessW", error);
    return error;
  }
  CloseHandle(process.hThread);
  child.Reset(process.hProcess);
  return 0;
}

void RefuseStart(const wchar_t* commandLine, const wchar_t* label, bool redirectToLog, DWORD code, const wchar_t* reason) {
  LogStart(commandLine, label, redirectToLog);
  LogRefusal(reason, "CreateProcessW", code);
}

void DescribeTooLong(WideStringBuffer& reason, unsigned long long length) {
  reason.Append("the command line has ");
  reason.AppendNumber(static_cast<DWORD>(length), /* hexadecimal */ false);
  reason.Append(" characters, more than the ");
  reason.AppendNumber(MaxCommandLineLength, /* hexadecimal */ false);
  reason.Append(" a process can be given");
}

DWORD StartElevated(
    const wchar_t* file,
    const wchar_t* parameters,
    const wchar_t* directory,
    WORD showMode,
    UniqueHandle& child) {
  child.Reset(nullptr);
  unsigned long long length = static_cast<unsigned long long>(lstrlenW(file)) + ShellLineOverhead + lstrlenW(parameters);
  WideStringBuffer reason(0);
  DWORD refusal = 0;
  if (length > MaxCommandLineLength) {
    refusal = ErrorCommandLineTooLong;
    DescribeTooLong(reason, length);
  } else if (ShellWouldRewrite(file)) {
    refusal = ErrorFileNameWouldChange;
    reason.Append(file);
    reason.Append(" holds an environment variable that the shell would expand");
  }
  if (refusal != 0) {
    RefuseElevatedStart(file, parameters, refusal, reason.Text());
    return refusal;
  }
  LogElevatedStart(file, parameters);

  const char* failedCall = "ShellExecuteExW";
  DWORD error = 0;
  UniqueHandle process;
  // Only this start needs COM, so ole32 is loaded here, from the system
  // directory alone, rather than by every run through the import table.
  HMODULE ole32 = LoadLibraryExW(L"ole32.dll", /* hFile */ nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  auto coInitializeEx = reinterpret_cast<decltype(&CoInitializeEx)>(
      reinterpret_cast<void*>(ole32 != nullptr ? GetProcAddress(ole32, "CoInitializeEx") : nullptr));
  auto coUninitialize = reinterpret_cast<decltype(&CoUninitialize)>(
      reinterpret_cast<void*>(ole32 != nullptr ? GetProcAddress(ole32, "CoUninitialize") : nullptr));
  if (coInitializeEx == nullptr || coUninitialize == nullptr) {
    failedCall = ole32 == nullptr ? "LoadLibraryExW" : "GetProcAddress";
    error = LastFailureCode();
  } else {
    // The shell may hand the verb to COM extensions.
    coInitializeEx(/* pvReserved */ nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof(execute);
    // Hand back the process to wait for, and never raise an error box: the
    // update may run with nobody at the screen. A failure is logged instead.
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    execute.lpVerb = ElevationVerb;
    execute.lpFile = file;
    execute.lpParameters = parameters;
    execute.lpDirectory = directory;
    execute.nShow = showMode;
    BOOL started = ShellExecuteExW(&execute);
    error = started ? 0 : LastFailureCode();
    coUninitialize();
    process.Reset(execute.hProcess);

    // The shell may report success without a process (DDE and some
    // associations); there is then nothing to wait for and no exit code.
    if (started && execute.hProcess == nullptr) {
      error = ErrorStartedWithoutProcess;
    }
  }
  if (ole32 != nullptr) {
    FreeLibrary(ole32);
  }
  if (error != 0) {
    LogError(failedCall, error);
    return error;
  }
  child = static_cast<UniqueHandle&&>(process);
  return 0;
}

void RefuseElevatedStart(const wchar_t* file, const wchar_t* parameters, DWORD code, const wchar_t* reason) {
  LogElevatedStart(file, parameters);
  LogRefusal(reason, "ShellExecuteExW", code);
}

DWORD WaitForChild(HANDLE child, DWORD* exitCode) {
  *exitCode = 0;
  const char* failedCall = nullptr;
  DWORD error = 0;
  if (WaitForSingleObject(child, INFINITE) != WAIT_OBJECT_0) {
    failedCall = "WaitForSingleObject";
    error = LastFailureCode();
  } else if (!GetExitCodeProcess(child, exitCode)) {
    failedCall = "GetExitCodeProcess";
    error = LastFailureCode();
  }

  if (failedCall != nullptr) {
    LogFormat(ErrorAfterChild, failedCall, error);
    return error;
  }
  LogFormat(ExitBanner, *exitCode);
  return 0;
}
