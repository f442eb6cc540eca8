#include "launcher/argument_cursor.h"

#include <shellapi.h>

#include "launcher/protocol.h"

ArgumentCursor::ArgumentCursor() : items(nullptr), count(0), position(0) {
  items = CommandLineToArgvW(GetCommandLineW(), &count);
  if (items == nullptr) {
    count = 0;  // A line that cannot be split counts as a line without arguments.
  }
  // Skip the program name without Next(): a vector without one must still
  // reach the caller, which deletes kv-scriptSemaphore before it refuses.
  if (!IsAtEnd()) {
    ++position;
  }
}

ArgumentCursor::~ArgumentCursor() {
  if (items != nullptr) {
    LocalFree(items);
  }
}

const wchar_t* ArgumentCursor::Next() {
  if (IsAtEnd()) {
    DWORD written = 0;
    WriteFile(
        /* hFile */ GetStdHandle(STD_ERROR_HANDLE),
        /* lpBuffer */ RefusalMessage,
        /* nNumberOfBytesToWrite */ sizeof(RefusalMessage) - 1,
        /* lpNumberOfBytesWritten */ &written,
        /* lpOverlapped */ nullptr);
    ExitProcess(ExitMissingArgument);
  }
  return items[position++];
}
