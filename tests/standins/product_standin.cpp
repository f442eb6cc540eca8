// Stands in for the product, bin\lindquay.exe. It records, in its own
// directory, in product-started.txt (UTF-16): its process id, its parent's
// process id and its command line, one to a line; and first, in
// product-files.bin, the path of every file it holds open from its start (an
// inherited handle among them), as zero-terminated UTF-16 strings.
#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "tests/standins/standin.h"

namespace {

DWORD ParentProcessId() {
  DWORD self = GetCurrentProcessId();
  DWORD parent = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self) {
      parent = entry.th32ParentProcessID;
    }
  }
  CloseHandle(snapshot);
  return parent;
}

// The system's list of every handle (SystemExtendedHandleInformation), for
// this process's own: inherited ones are among them from the start.
struct HandleEntry {
  void* object;
  ULONG_PTR processId;
  ULONG_PTR handleValue;
  ULONG grantedAccess;
  USHORT creatorBackTraceIndex;
  USHORT objectTypeIndex;
  ULONG handleAttributes;
  ULONG reserved;
};
struct HandleList {
  ULONG_PTR count;
  ULONG_PTR reserved;
  HandleEntry entries[1];
};

std::wstring OpenFilePaths() {
  using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  const ULONG SystemExtendedHandleInformation = 64;
  const LONG InfoLengthMismatch = static_cast<LONG>(0xC0000004);
  std::vector<char> buffer(1 << 16);
  ULONG size = 0;
  LONG status;
  while ((status = query(SystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &size)) ==
         InfoLengthMismatch) {
    buffer.resize(buffer.size() * 2);
  }
  std::wstring joined;
  const HandleList* list = reinterpret_cast<const HandleList*>(buffer.data());
  for (ULONG_PTR index = 0; status == 0 && index < list->count; ++index) {
    HANDLE handle = reinterpret_cast<HANDLE>(list->entries[index].handleValue);
    if (list->entries[index].processId != GetCurrentProcessId() || GetFileType(handle) != FILE_TYPE_DISK) {
      continue;
    }
    wchar_t path[1024];
    DWORD length = GetFinalPathNameByHandleW(handle, path, 1024, FILE_NAME_NORMALIZED);
    if (length > 0 && length < 1024) {
      joined.append(path, length);
      joined.push_back(L'\0');
    }
  }
  return joined;
}

}  // namespace

int wmain() {
  std::wstring files = OpenFilePaths();
  WriteWholeFile(OwnDirectory() + L"product-files.bin", files.data(), files.size() * sizeof(wchar_t));
  std::wstring record = std::to_wstring(GetCurrentProcessId()) + L"\n" +
                        std::to_wstring(ParentProcessId()) + L"\n" + GetCommandLineW();
  WriteWholeFile(OwnDirectory() + L"product-started.txt", record.data(), record.size() * sizeof(wchar_t));
  return 0;
}
