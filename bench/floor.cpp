// The floor the launcher is measured against: a program built like the
// launcher (no C runtime, an entry point of its own) that makes only the
// platform calls every launcher run must make, and nothing else.
//
//   bench-floor.exe <log file> <updater command line> [<product command line>]
//
// It splits its command line (shell32), opens the log inheritably, formats
// one line (user32) and writes it, starts the updater with the log as its
// output, waits for it, starts the product after a success without waiting
// for it, and ends with the updater's exit code. Under Wine the first call
// into shell32 or user32 costs about as much as starting a bare process, so
// a bare process would be no fair floor.
#include <windows.h>
#include <shellapi.h>

namespace {

constexpr int LogArgument = 1;
constexpr int CommandArgument = 2;
constexpr int ProductArgument = 3;
constexpr DWORD ExitUsage = 0x20000001;

}  // namespace

// Named like the launcher's entry point, so that it is built with exactly the
// launcher's compile and link options.
extern "C" __attribute__((noreturn)) void LauncherEntry() {
  int count = 0;
  // The split strings live in one writable block, so the updater's line can
  // go to CreateProcessW as it is.
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr || count <= CommandArgument) {
    ExitProcess(ExitUsage);
  }

  SECURITY_ATTRIBUTES inheritable = {};
  inheritable.nLength = sizeof(inheritable);
  inheritable.bInheritHandle = TRUE;
  HANDLE log = CreateFileW(
      /* lpFileName */ arguments[LogArgument],
      /* dwDesiredAccess */ GENERIC_WRITE,
      /* dwShareMode */ FILE_SHARE_READ | FILE_SHARE_WRITE,
      /* lpSecurityAttributes */ &inheritable,
      /* dwCreationDisposition */ OPEN_ALWAYS,
      /* dwFlagsAndAttributes */ 0,
      /* hTemplateFile */ nullptr);

  wchar_t line[1025];
  int characters = wsprintfW(line, L"Starting %s:\n", L"updater");
  char bytes[1025];
  for (int index = 0; index < characters; ++index) {
    bytes[index] = static_cast<char>(line[index]);  // The line is ASCII.
  }
  LONG distanceHigh = 0;
  SetFilePointer(log, /* lDistanceToMove */ 0, &distanceHigh, FILE_END);
  DWORD written = 0;
  WriteFile(log, bytes, static_cast<DWORD>(characters), &written, /* lpOverlapped */ nullptr);

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = log;
  startup.hStdError = log;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(
          /* lpApplicationName */ nullptr,
          /* lpCommandLine */ arguments[CommandArgument],
          /* lpProcessAttributes */ nullptr,
          /* lpThreadAttributes */ nullptr,
          /* bInheritHandles */ TRUE,
          /* dwCreationFlags */ 0,
          /* lpEnvironment */ nullptr,
          /* lpCurrentDirectory */ nullptr,
          /* lpStartupInfo */ &startup,
          /* lpProcessInformation */ &process)) {
    ExitProcess(GetLastError());
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);

  if (exitCode == 0 && count > ProductArgument) {
    STARTUPINFOW productStartup = {};
    productStartup.cb = sizeof(productStartup);
    PROCESS_INFORMATION product = {};
    if (CreateProcessW(nullptr, arguments[ProductArgument], nullptr, nullptr, /* bInheritHandles */ FALSE,
                       /* dwCreationFlags */ 0, nullptr, nullptr, &productStartup, &product)) {
      CloseHandle(product.hThread);
      CloseHandle(product.hProcess);
    }
  }
  ExitProcess(exitCode);
}
