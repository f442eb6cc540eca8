// The executable's entry point. No C runtime start-up runs before it, and it
// never returns: the process ends in ExitProcess with the launcher's code.

#include <windows.h>

#include "launcher/run_launcher.h"

extern "C" __attribute__((noreturn)) void LauncherEntry() {
  // Before anything can load a DLL on demand (the shell and COM do during
  // elevation), keep the search to the system directory: a DLL planted beside
  // the launcher must never run with administrator rights.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

  DWORD code = LoadExePaths(ExePathCapacity);
  if (code == 0) {
    code = RunLauncher();
  }
  ExitProcess(code);
}
