#pragma once
// Small helpers shared by the stand-in programs.
#include <windows.h>

#include <string>

inline std::wstring OwnDirectory() {
  std::wstring path(32768, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

inline std::wstring EnvironmentValue(const wchar_t* name) {
  DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) {
    return std::wstring();
  }
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), size));
  return value;
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
