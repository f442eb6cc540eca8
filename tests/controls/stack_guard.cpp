// Built exactly like the launcher (its flags, its load configuration and
// stack guard), to show what a failed stack check does in such a program.
//
//   stack-guard-control.exe overrun   writes past a stack buffer; the check
//                                     at the function's end must fast-fail
//                                     the process with 0xC0000409
//   stack-guard-control.exe guard     ends with the low half of the guard, as
//                                     the loader left it
//   stack-guard-control.exe safe      ends with 0 (the program itself works)
#include <windows.h>

extern "C" UINT_PTR __stack_chk_guard;

namespace {

// `extra` comes from the command line, so the compiler cannot see the overrun.
__attribute__((noinline)) DWORD Overrun(int extra) {
  char buffer[16];
  volatile char* cursor = buffer;
  for (int index = 0; index < static_cast<int>(sizeof(buffer)) + extra; ++index) {
    cursor[index] = 'x';
  }
  return static_cast<DWORD>(buffer[extra & 15]);
}

}  // namespace

extern "C" __attribute__((noreturn)) void LauncherEntry() {
  const wchar_t* line = GetCommandLineW();
  int length = lstrlenW(line);
  // The mode is the last word: its last letter tells them apart.
  wchar_t mode = length > 0 ? line[length - 1] : L'\0';
  if (mode == L'n') {  // overrun
    ExitProcess(Overrun(length > 24 ? 24 : length));
  }
  if (mode == L'd') {  // guard
    ExitProcess(static_cast<DWORD>(__stack_chk_guard));
  }
  ExitProcess(0);
}
