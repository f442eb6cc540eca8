// A program with a known import table, for the footprint reader's tests.
#include <windows.h>

extern "C" __attribute__((noreturn)) void SampleEntry() {
  MessageBeep(MB_OK);
  ExitProcess(GetTickCount() == 0 ? 1 : 0);
}
