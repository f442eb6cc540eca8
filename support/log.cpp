#include "support/log.h"

#include <limits.h>
#include <stdarg.h>

#include "support/byte_buffer.h"
#include "support/wide_string_buffer.h"

HANDLE LogHandle = nullptr;

namespace {

constexpr const char* RefusalPrefix = "Refused: ";
constexpr const char* ErrorLineFormat = "Error: %s: 0x%08X\n";
constexpr int MaxUtf8BytesPerUnit = 3;
// wvsprintfA writes at most 1024 bytes and a terminator.
constexpr int FormattedLineBytes = 1025;

void WriteBytes(HANDLE file, const char* bytes, DWORD count) {
  DWORD written = 0;
  WriteFile(file, bytes, count, &written, /* lpOverlapped */ nullptr);
}

void LogBytes(const char* bytes, DWORD count) {
  // Another process may have written through its own handle since our last
  // write (the elevated instance, the updater): seek to the end every time.
  // The high half must be passed, or the seek fails once the never-trimmed
  // file passes 4 GiB and the write would land over older text.
  LONG distanceHigh = 0;
  SetFilePointer(LogHandle, /* lDistanceToMove */ 0, &distanceHigh, FILE_END);
  WriteBytes(LogHandle, bytes, count);
}

// Writes UTF-8 bytes at the log's end, or into `file`.
void WriteUtf8(HANDLE file, const char* bytes, DWORD count) {
  if (file == LogHandle) {
    LogBytes(bytes, count);
  } else {
    WriteBytes(file, bytes, count);
  }
}

// Writes the UTF-8 form of `text` at the log's end, or into `file`.
void WriteText(const wchar_t* text, HANDLE file) {
  int characters = lstrlenW(text);
  // A UTF-16 unit takes at most 3 bytes in UTF-8 (a pair of them takes 4),
  // so one conversion into a block of that size does.
  if (characters == 0 || characters > INT_MAX / MaxUtf8BytesPerUnit) {
    return;
  }
  int capacity = characters * MaxUtf8BytesPerUnit;
  ByteBuffer utf8;
  if (!utf8.Allocate(static_cast<SIZE_T>(capacity))) {
    return;  // Logging never ends the launcher: this text is lost, nothing else.
  }
  int bytes = WideCharToMultiByte(
      /* CodePage */ CP_UTF8,
      /* dwFlags */ 0,
      /* lpWideCharStr */ text,
      /* cchWideChar */ characters,
      /* lpMultiByteStr */ utf8.Bytes(),
      /* cbMultiByte */ capacity,
      /* lpDefaultChar */ nullptr,
      /* lpUsedDefaultChar */ nullptr);
  WriteUtf8(file, utf8.Bytes(), static_cast<DWORD>(bytes));
}

}  // namespace

HANDLE OpenSideFileForWriting(const wchar_t* path, DWORD shareMode, SECURITY_ATTRIBUTES* security) {
  HANDLE file = CreateFileW(
      /* lpFileName */ path,
      /* dwDesiredAccess */ GENERIC_WRITE,
      /* dwShareMode */ shareMode,
      /* lpSecurityAttributes */ security,
      /* dwCreationDisposition */ OPEN_ALWAYS,
      /* dwFlagsAndAttributes */ FILE_FLAG_OPEN_REPARSE_POINT,
      /* hTemplateFile */ nullptr);
  BY_HANDLE_FILE_INFORMATION information = {};
  if (file != INVALID_HANDLE_VALUE && (!GetFileInformationByHandle(file, &information) ||
                                       (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
                                       information.nNumberOfLinks != 1)) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

void OpenLog(const wchar_t* directory) {
  WideStringBuffer path(0);
  path.Append(directory);
  path.Append(LogFileName);

  SECURITY_ATTRIBUTES inheritable = {};
  inheritable.nLength = sizeof(inheritable);
  inheritable.bInheritHandle = TRUE;

  // Both launchers of an elevated run have the file open at once, and the
  // invoking party may read it meanwhile: share reading and writing.
  LogHandle = OpenSideFileForWriting(path.Text(), FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable);
}

bool LogIsOpen() { return LogHandle != nullptr && LogHandle != INVALID_HANDLE_VALUE; }

void LogRefusal(const wchar_t* reason, const char* call, DWORD code) {
  HANDLE file = LogIsOpen() ? LogHandle : GetStdHandle(STD_ERROR_HANDLE);
  WideStringBuffer line(0);
  line.Append(RefusalPrefix);
  line.Append(reason);
  line.AppendCharacter(L'\n');
  WriteText(line.Text(), file);
  char error[FormattedLineBytes];
  WriteUtf8(file, error, static_cast<DWORD>(wsprintfA(error, ErrorLineFormat, call, code)));
}

void LogText(const wchar_t* text) { WriteText(text, LogHandle); }

void LogText(const char* ascii) {
  DWORD bytes = 0;
  while (ascii[bytes] != '\0') {
    ++bytes;
  }
  if (bytes > 0) {
    LogBytes(ascii, bytes);
  }
}

void LogError(const char* call, DWORD code) { LogFormat(ErrorLineFormat, call, code); }

void LogFormat(const char* format, ...) {
  char line[FormattedLineBytes];
  va_list arguments;
  va_start(arguments, format);
  wvsprintfA(line, format, arguments);
  va_end(arguments);
  LogText(line);
}
