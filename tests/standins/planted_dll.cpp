// A DLL that an attacker would plant beside the launcher. When a process
// loads it, it appends that process's path to planted-dll-loaded.txt in its
// own directory, then refuses to load, so that the caller carries on as if
// the DLL were missing.
#include <windows.h>

#include <string>

#include "tests/standins/standin.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) {
    return TRUE;
  }
  std::wstring process(32768, L'\0');
  process.resize(GetModuleFileNameW(nullptr, process.data(), static_cast<DWORD>(process.size())));
  std::string line = ToUtf8(process) + "\n";
  // Beside the process, which is beside this DLL.
  HANDLE record = CreateFileW((OwnDirectory() + L"planted-dll-loaded.txt").c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(record, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(record);
  return FALSE;
}
