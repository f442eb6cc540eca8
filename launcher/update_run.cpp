#include "launcher/update_run.h"

#include "launcher/protocol.h"
#include "process/command_lines.h"
#include "process/starters.h"
#include "support/log.h"
#include "support/wide_string_buffer.h"

namespace {

constexpr const char* FailureRecordName = "kv-failure-launcher.txt";
constexpr const char* FailureRecordFields = "java,0x%08X,%s,";
constexpr int FieldsBufferSize = 64;
// A UTF-16 unit takes at most 3 bytes in any ANSI code page (in UTF-8).
constexpr SIZE_T MaxAnsiBytesPerUnit = 3;

// Converts `value` through wsprintfA's own %S, a character (one unit, or a
// surrogate pair) at a time, straight into `out`: so that the record holds
// exactly the characters, and the replacements, that the platform's
// conversion gives, however long the value. `out` must have room for the
// converted text and a terminator. Returns the count of bytes converted.
DWORD ConvertLikeWsprintf(const wchar_t* value, char* out) {
  DWORD total = 0;
  for (const wchar_t* cursor = value; *cursor != L'\0';) {
    wchar_t character[3] = {cursor[0], L'\0', L'\0'};
    int units = 1;
    if (IS_HIGH_SURROGATE(cursor[0]) && IS_LOW_SURROGATE(cursor[1])) {
      character[1] = cursor[1];
      units = 2;
    }
    total += static_cast<DWORD>(wsprintfA(out + total, "%S", character));
    cursor += units;
  }
  return total;
}

}  // namespace

DWORD RunUpdate(
    bool isDirect,
    bool isChild,
    bool isElevate,
    const wchar_t* bootSourceDirectory,
    const wchar_t* settingsDirectory,
    const wchar_t* installDirectory,
    const wchar_t* passThroughA,
    const wchar_t* passThroughB,
    const wchar_t* passThroughC) {
  OpenLog(ExeDirectory);

  HANDLE child = nullptr;
  DWORD code = 0;
  if (isDirect || isChild) {
    code = StartUpdater(
        bootSourceDirectory, settingsDirectory, installDirectory,
        passThroughA, passThroughB, passThroughC, &child);
  } else {
    code = StartElevatedChild(
        bootSourceDirectory, settingsDirectory, installDirectory,
        passThroughA, passThroughB, passThroughC, &child);
  }
  if (code != 0) {
    return code;  // Already logged; nothing ran, so no record and no restart.
  }

  DWORD exitCode = WaitForChild(child);
  CloseHandle(child);

  // In elevate mode the elevated instance ran the updater and wrote any record.
  if (exitCode != 0 && (isDirect || isChild)) {
    WriteFailureRecord(exitCode, isDirect, passThroughA);
  }
  // The product is restarted by the instance the invoking party started, so
  // it never inherits the elevated rights.
  if (exitCode == 0 && (isDirect || isElevate)) {
    StartProduct(installDirectory);
  }
  return exitCode;
}

char* FormatFailureRecord(DWORD exitCode, bool isDirect, const wchar_t* passThroughA, DWORD* length) {
  // Room for the fields and for the most the value can take: one pass.
  SIZE_T capacity = FieldsBufferSize + static_cast<SIZE_T>(lstrlenW(passThroughA)) * MaxAnsiBytesPerUnit;
  char* record = static_cast<char*>(HeapAlloc(GetProcessHeap(), /* dwFlags */ 0, capacity));
  if (record == nullptr) {
    return nullptr;
  }
  int fieldsLength = wsprintfA(record, FailureRecordFields, exitCode, isDirect ? "direct" : "elevated");
  *length = static_cast<DWORD>(fieldsLength) + ConvertLikeWsprintf(passThroughA, record + fieldsLength);
  return record;
}

void WriteFailureRecord(DWORD exitCode, bool isDirect, const wchar_t* passThroughA) {
  WideStringBuffer semaphore(0);
  semaphore.Append(ExeDirectory);
  semaphore.Append(JavaSemaphoreName);
  if (GetFileAttributesW(semaphore.Text()) != INVALID_FILE_ATTRIBUTES) {
    return;  // The updater reported the failure itself.
  }

  DWORD length = 0;
  char* record = FormatFailureRecord(exitCode, isDirect, passThroughA, &length);
  if (record == nullptr) {
    return;
  }
  WideStringBuffer path(0);
  path.Append(ExeDirectory);
  path.Append(FailureRecordName);
  HANDLE file = CreateFileW(
      /* lpFileName */ path.Text(),
      /* dwDesiredAccess */ GENERIC_WRITE,
      /* dwShareMode */ 0,
      /* lpSecurityAttributes */ nullptr,
      /* dwCreationDisposition */ CREATE_ALWAYS,
      /* dwFlagsAndAttributes */ 0,
      /* hTemplateFile */ nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, record, length, &written, /* lpOverlapped */ nullptr);
    CloseHandle(file);
  }
  HeapFree(GetProcessHeap(), /* dwFlags */ 0, record);
}
