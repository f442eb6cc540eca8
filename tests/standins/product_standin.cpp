// Stands in for the product, bin\lindquay.exe. It records, in its own
// directory, in product-started.txt (UTF-16): its process id, its parent's
// process id and its command line, one to a line; and first, in
// product-files.bin, the path of every file it holds open from its start (an
// inherited handle among them), as zero-terminated UTF-16 strings; and in
// product-output.txt, the type of its standard output (GetFileType, in
// decimal: the null device is a character device).
#include <windows.h>
#include <tlhelp32.h>

#include <string>

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

}  // namespace

int wmain() {
  std::wstring files = OpenFilePaths();
  WriteWholeFile(OwnDirectory() + L"product-files.bin", files.data(), files.size() * sizeof(wchar_t));
  std::string outputType = std::to_string(GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)));
  WriteWholeFile(OwnDirectory() + L"product-output.txt", outputType.data(), outputType.size());
  std::wstring record = std::to_wstring(GetCurrentProcessId()) + L"\n" +
                        std::to_wstring(ParentProcessId()) + L"\n" + GetCommandLineW();
  WriteWholeFile(OwnDirectory() + L"product-started.txt", record.data(), record.size() * sizeof(wchar_t));
  return 0;
}
