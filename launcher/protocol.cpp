#include "launcher/protocol.h"

#include "launcher/argument_cursor.h"
#include "launcher/update_run.h"
#include "process/starters.h"
#include "support/wide_string_buffer.h"

// In .bss: they cost the executable nothing on disk.
wchar_t ExePath[ExePathCapacity];
wchar_t ExeDirectory[ExePathCapacity];

DWORD LoadExePaths(DWORD capacity) {
  DWORD length = GetModuleFileNameW(/* hModule */ nullptr, ExePath, capacity);
  if (length == 0) {
    return LastFailureCode();
  }
  // A cut path comes back as exactly `capacity` characters (Windows reports
  // error 122 and terminates it; Wine leaves it unterminated).
  if (length >= capacity) {
    ExePath[0] = L'\0';
    return ERROR_FILENAME_EXCED_RANGE;
  }
  for (DWORD index = 0; index <= length; ++index) {
    ExeDirectory[index] = ExePath[index];
  }
  CutToDirectory(ExeDirectory);
  return 0;
}

void CutToDirectory(wchar_t* path) {
  for (int index = lstrlenW(path); index > 0; --index) {
    if (path[index] == L'\\' || path[index] == L'/') {
      path[index + 1] = L'\0';
      return;
    }
  }
}

bool IsExactly(const wchar_t* value, const char* expected) {
  // An ordinal comparison: lstrcmpW compares linguistically, and would take a
  // mode holding ignorable characters (a soft hyphen, say) for a real one.
  for (;; ++value, ++expected) {
    if (*value != static_cast<unsigned char>(*expected)) {
      return false;
    }
    if (*value == L'\0') {
      return true;
    }
  }
}

DWORD RunLauncher() {
  ArgumentCursor arguments;

  // Every start removes the invoking party's signal, a refused one too.
  WideStringBuffer scriptSemaphore(0);
  scriptSemaphore.Append(ExeDirectory);
  scriptSemaphore.Append(ScriptSemaphoreName);
  DeleteFileW(scriptSemaphore.Text());

  if (!IsExactly(arguments.Next(), ProtocolVersion)) {
    return ExitBadVersion;
  }
  const wchar_t* mode = arguments.Next();
  bool isDirect = IsExactly(mode, ModeDirect);
  bool isChild = IsExactly(mode, ModeChild);
  bool isElevate = IsExactly(mode, ModeElevate);
  if (!isDirect && !isChild && !isElevate) {
    return ExitBadMode;
  }

  const wchar_t* bootSourceDirectory = arguments.Next();
  const wchar_t* settingsDirectory = arguments.Next();
  const wchar_t* installDirectory = arguments.Next();
  const wchar_t* passThroughA = arguments.Next();
  const wchar_t* passThroughB = arguments.Next();
  const wchar_t* passThroughC = arguments.Next();
  return RunUpdate(
      isDirect,
      isChild,
      isElevate,
      bootSourceDirectory,
      settingsDirectory,
      installDirectory,
      passThroughA,
      passThroughB,
      passThroughC);
}
