// The launcher's entry point without its first call, the restriction of the
// DLL search to the system directory. Built only as a control for the DLL
// planting test: it shows that the planted DLL would be loaded, so that the
// test's verdict on the real launcher means something.

#include <windows.h>

#include "launcher/run_launcher.h"

extern "C" __attribute__((noreturn)) void LauncherEntry() {
  DWORD code = LoadExePaths(ExePathCapacity);
  if (code == 0) {
    code = RunLauncher();
  }
  ExitProcess(code);
}
