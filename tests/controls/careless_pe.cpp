// A deliberately careless executable for the PE checks to catch: linked
// without the hardening flags and with a time stamp, a section both writable
// and executable, a stack frame that needs a probe routine, an import the
// launcher does not have, and an entry point that starts with something else.
// Its link (tests/CMakeLists.txt) adds imports and unwind data in the code
// section, writable resources, a CodeView debug entry and no load
// configuration.
#include <windows.h>

asm(".section .wxcode, \"wx\"\n"
    "  ret\n"
    ".text\n");

namespace {

__attribute__((noinline)) DWORD BigFrame(DWORD seed) {
  volatile unsigned char buffer[3 * 4096];
  for (unsigned i = 0; i < sizeof(buffer); i += 512) {
    buffer[i] = static_cast<unsigned char>(seed + i);
  }
  return buffer[seed % sizeof(buffer)];
}

}  // namespace

extern "C" __attribute__((noreturn)) void CarelessEntry() {
  DWORD ticks = GetTickCount();
  wchar_t name[64];
  DWORD size = 64;
  GetUserNameW(name, &size);
  ExitProcess(BigFrame(ticks + size));
}
