#pragma once
// Small helpers shared by the stand-in programs.
#include <windows.h>
#include <winternl.h>

#include <string>
#include <vector>

inline std::wstring OwnDirectory() {
  std::wstring path(32768, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// The value of `name` in standin-scenario.txt in this program's own folder;
// empty where the file or the setting is missing.
inline std::wstring ScenarioValue(const wchar_t* name) {
  HANDLE file = CreateFileW((OwnDirectory() + L"standin-scenario.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  std::wstring entries(1 << 16, L'\0');
  DWORD read = 0;
  ReadFile(file, entries.data(), static_cast<DWORD>(entries.size() * sizeof(wchar_t)), &read, nullptr);
  CloseHandle(file);
  entries.resize(read / sizeof(wchar_t));
  const std::wstring key = std::wstring(name) + L"=";
  for (size_t start = 0, end; (end = entries.find(L'\0', start)) != std::wstring::npos; start = end + 1) {
    if (entries.compare(start, key.size(), key) == 0) {
      return entries.substr(start + key.size(), end - start - key.size());
    }
  }
  return std::wstring();
}

inline std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) {
    return std::string();
  }
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), bytes, nullptr, nullptr);
  return result;
}

inline void WriteWholeFile(const std::wstring& path, const void* bytes, size_t count) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr);
  CloseHandle(file);
}

// The bytes that STANDIN_OUTPUT_BYTES asks for: letters in lines of 64.
inline char StandinPatternByte(unsigned long long offset) {
  return offset % 64 == 63 ? '\n' : static_cast<char>('a' + offset % 26);
}

// The paths of every disk file this process holds open, and "process <id>"
// for every process it holds a handle to: inherited handles are among them
// from the start. Zero-terminated UTF-16 strings. On Windows the handles come
// from the system's list of every handle (SystemExtendedHandleInformation).
// Wine's server crashes building that list while any process has just
// started and holds no handle yet (it walks that empty table past its end),
// so under Wine every handle value below the size of this process's handle
// table is tried, which Wine gives as the process's handle count
// (SystemProcessInformation).
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

inline std::wstring OpenFilePaths() {
  using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
  const bool underWine = GetProcAddress(ntdll, "wine_get_version") != nullptr;
  const ULONG SystemProcessInformation = 5, SystemExtendedHandleInformation = 64;
  const LONG InfoLengthMismatch = static_cast<LONG>(0xC0000004);
  std::vector<char> buffer(1 << 16);
  ULONG size = 0;
  LONG status;
  while ((status = query(underWine ? SystemProcessInformation : SystemExtendedHandleInformation, buffer.data(),
                         static_cast<ULONG>(buffer.size()), &size)) == InfoLengthMismatch) {
    buffer.resize(buffer.size() * 2);
  }
  std::vector<HANDLE> handles;
  for (size_t offset = 0, next = 1; underWine && status == 0 && next != 0; offset += next) {
    const auto* process = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data() + offset);
    next = process->NextEntryOffset;
    for (ULONG value = 1; HandleToUlong(process->UniqueProcessId) == GetCurrentProcessId() &&
                          value <= process->HandleCount; ++value) {
      handles.push_back(ULongToHandle(value * 4));
    }
  }
  const HandleList* list = reinterpret_cast<const HandleList*>(buffer.data());
  for (ULONG_PTR index = 0; !underWine && status == 0 && index < list->count; ++index) {
    if (list->entries[index].processId == GetCurrentProcessId()) {
      handles.push_back(reinterpret_cast<HANDLE>(list->entries[index].handleValue));
    }
  }
  std::wstring joined;
  for (HANDLE handle : handles) {
    // A handle to a process is listed as "process <id>".
    if (DWORD process = GetProcessId(handle); process != 0) {
      joined += L"process " + std::to_wstring(process);
      joined.push_back(L'\0');
      continue;
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
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
