#include "bench/bench_support.h"

#include <psapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <numeric>
#include <random>

#include "tests/pe_image.h"
#include "tests/test_support.h"

namespace {

constexpr DWORD RelayBlockSize = 64 * 1024;
constexpr DWORD SampleIntervalMs = 1;

double FileTimeMs(const FILETIME& time) {
  ULARGE_INTEGER value;
  value.LowPart = time.dwLowDateTime;
  value.HighPart = time.dwHighDateTime;
  return static_cast<double>(value.QuadPart) / 10000.0;  // 100 ns units
}

SIZE_T PeakWorkingSet(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(process, &counters, sizeof(counters))) {
    return 0;
  }
  return counters.PeakWorkingSetSize;
}

// Starts a child with `output` (if any) as stdout and stderr.
bool StartChild(const std::wstring& commandLine, HANDLE output, PROCESS_INFORMATION* process) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (output != nullptr) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
  }
  std::wstring writable = commandLine;
  return CreateProcessW(
             /* lpApplicationName */ nullptr,
             /* lpCommandLine */ writable.data(),
             /* lpProcessAttributes */ nullptr,
             /* lpThreadAttributes */ nullptr,
             /* bInheritHandles */ output != nullptr ? TRUE : FALSE,
             /* dwCreationFlags */ 0,
             /* lpEnvironment */ nullptr,
             /* lpCurrentDirectory */ nullptr,
             /* lpStartupInfo */ &startup,
             /* lpProcessInformation */ process) != FALSE;
}

void Finish(const PROCESS_INFORMATION& process, double started, RunMeasure* measure) {
  measure->wallMs = NowMs() - started;
  GetExitCodeProcess(process.hProcess, &measure->exitCode);
  FILETIME creation, exit, kernel, user;
  if (GetProcessTimes(process.hProcess, &creation, &exit, &kernel, &user)) {
    measure->cpuMs = FileTimeMs(kernel) + FileTimeMs(user);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

// The program of a command line: its first argument, as CreateProcessW
// takes it (quoted or up to the first space).
std::wstring ProgramOf(const std::wstring& commandLine) {
  if (!commandLine.empty() && commandLine[0] == L'"') {
    return commandLine.substr(1, commandLine.find(L'"', 1) - 1);
  }
  return commandLine.substr(0, commandLine.find(L' '));
}

}  // namespace

double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return value;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool RunningUnderWine() {
  static const bool underWine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return underWine;
}

RunMeasure RunMeasured(const std::wstring& commandLine, HANDLE output, bool sample) {
  RunMeasure measure;
  PROCESS_INFORMATION process = {};
  double started = NowMs();
  if (!StartChild(commandLine, output, &process)) {
    measure.startError = GetLastError();
    return measure;
  }
  measure.started = true;
  if (sample) {
    unsigned unixPid = RunningUnderWine() ? FindUnixProcess(ProgramOf(commandLine)) : 0;
    double cpu = -1;
    // Both only grow; the last sample before the end is the closest.
    do {
      measure.peakWorkingSet = std::max(measure.peakWorkingSet, PeakWorkingSet(process.hProcess));
      double now = unixPid != 0 ? UnixProcessCpuMs(unixPid) : -1;
      cpu = std::max(cpu, now);
    } while (WaitForSingleObject(process.hProcess, SampleIntervalMs) == WAIT_TIMEOUT);
    Finish(process, started, &measure);
    if (RunningUnderWine()) {
      measure.cpuMs = cpu;
    }
  } else {
    WaitForSingleObject(process.hProcess, INFINITE);
    Finish(process, started, &measure);
    if (RunningUnderWine()) {
      measure.cpuMs = -1;
    }
  }
  return measure;
}

namespace {

// Calls `visit(pid, command line, /proc directory)` for every Linux process.
// Wine gives each Linux process the Windows command line as its own, so
// /proc/<pid>/cmdline starts with the program's path and a zero.
template <typename Visit>
void ForEachUnixProcess(Visit visit) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &found);
  if (search == INVALID_HANDLE_VALUE) {
    return;
  }
  do {
    wchar_t* end = nullptr;
    unsigned long pid = std::wcstoul(found.cFileName, &end, 10);
    if (pid == 0 || *end != L'\0') {
      continue;
    }
    std::wstring directory = L"Z:\\proc\\" + std::to_wstring(pid) + L"\\";
    visit(static_cast<unsigned>(pid), ReadBytes(directory + L"cmdline"), directory);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

std::string Narrow(const std::wstring& path) {
  std::string narrow;
  for (wchar_t c : path) {
    narrow.push_back(static_cast<char>(c));  // paths here are ASCII
  }
  return narrow;
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, text.data(),
                                                        static_cast<int>(prefix.size()), prefix.data(),
                                                        static_cast<int>(prefix.size())) == CSTR_EQUAL;
}

}  // namespace

unsigned FindUnixProcess(const std::wstring& program) {
  std::string wanted = Narrow(program);
  wanted.push_back('\0');
  // The previous run of the same program may still be leaving /proc when
  // this one starts: of several, the one started last is the one.
  unsigned result = 0;
  unsigned long long latestStart = 0;
  ForEachUnixProcess([&](unsigned pid, const std::string& line, const std::wstring& directory) {
    if (line.compare(0, wanted.size(), wanted) != 0) {
      return;
    }
    // The start time is the 22nd field of stat, the 20th after the name.
    std::string stat = ReadBytes(directory + L"stat");
    size_t field = stat.rfind(')');
    for (int skip = 0; skip < 20 && field != std::string::npos; ++skip) {
      field = stat.find(' ', field + 1);
    }
    unsigned long long start = field == std::string::npos ? 0 : std::strtoull(stat.c_str() + field + 1, nullptr, 10);
    if (result == 0 || start >= latestStart) {
      result = pid;
      latestStart = start;
    }
  });
  return result;
}

int CountUnixProcessesUnder(const std::wstring& directory) {
  std::string prefix = Narrow(directory);
  int count = 0;
  ForEachUnixProcess([&](unsigned, const std::string& line, const std::wstring&) {
    count += StartsWithIgnoringCase(line, prefix) ? 1 : 0;
  });
  return count;
}

bool WaitForUnixProcessesUnder(const std::wstring& directory, DWORD timeoutMs) {
  double deadline = NowMs() + timeoutMs;
  while (CountUnixProcessesUnder(directory) > 0) {
    if (NowMs() > deadline) {
      return false;
    }
    Sleep(1);
  }
  return true;
}

double UnixProcessCpuMs(unsigned unixPid) {
  std::wstring tasks = L"Z:\\proc\\" + std::to_wstring(unixPid) + L"\\task\\";
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((tasks + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return -1;
  }
  double total = -1;
  do {
    if (found.cFileName[0] == L'.') {
      continue;
    }
    // The first field of schedstat is the thread's time on a CPU, in ns.
    std::string schedstat = ReadBytes(tasks + found.cFileName + L"\\schedstat");
    if (!schedstat.empty()) {
      total = std::max(total, 0.0) + std::strtod(schedstat.c_str(), nullptr) / 1e6;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return total;
}

RunMeasure RunThroughPipe(const std::wstring& commandLine, const std::wstring& logPath,
                          unsigned long long* bytesCopied) {
  RunMeasure measure;
  *bytesCopied = 0;
  HANDLE log = CreateFileW(logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, 0, nullptr);
  if (log == INVALID_HANDLE_VALUE) {
    return measure;
  }
  SetFilePointer(log, 0, nullptr, FILE_END);

  double started = NowMs();
  SECURITY_ATTRIBUTES inheritable = {};
  inheritable.nLength = sizeof(inheritable);
  inheritable.bInheritHandle = TRUE;
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inheritable, RelayBlockSize)) {
    CloseHandle(log);
    return measure;
  }
  // Only the child may hold the write end, or the pipe never reports its end.
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  PROCESS_INFORMATION process = {};
  bool ok = StartChild(commandLine, writeEnd, &process);
  measure.startError = ok ? 0 : GetLastError();
  CloseHandle(writeEnd);
  if (ok) {
    measure.started = true;
    std::vector<char> block(RelayBlockSize);
    DWORD read = 0;
    while (ReadFile(readEnd, block.data(), RelayBlockSize, &read, nullptr) && read > 0) {
      DWORD written = 0;
      WriteFile(log, block.data(), read, &written, nullptr);
      *bytesCopied += written;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    Finish(process, started, &measure);
  }
  CloseHandle(readEnd);
  CloseHandle(log);
  return measure;
}

bool WaitForProductStandin(const std::wstring& binDirectory, DWORD timeoutMs) {
  std::wstring record = binDirectory + L"product-started.txt";
  double deadline = NowMs() + timeoutMs;
  while (NowMs() < deadline) {
    HANDLE file = CreateFileW(record.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      char text[64] = {};
      DWORD read = 0;
      ReadFile(file, text, sizeof(text) - 2, &read, nullptr);
      CloseHandle(file);
      // The record starts with the stand-in's process id (UTF-16) and a line
      // feed; until the line feed is there, the record is still being written.
      std::wstring content(reinterpret_cast<const wchar_t*>(text), read / sizeof(wchar_t));
      size_t end = content.find(L'\n');
      if (end != std::wstring::npos) {
        DWORD id = static_cast<DWORD>(std::wcstoul(content.substr(0, end).c_str(), nullptr, 10));
        HANDLE product = OpenProcess(SYNCHRONIZE, FALSE, id);
        if (product != nullptr) {
          WaitForSingleObject(product, timeoutMs);
          CloseHandle(product);
        }
        DeleteFileW(record.c_str());
        return true;
      }
    }
    Sleep(1);
  }
  return false;
}

std::string UpdateBatchFile(const std::wstring& updaterCommandLine, const std::wstring& logPath,
                            const std::wstring& productPath) {
  auto narrow = [](const std::wstring& text) {
    std::string bytes(static_cast<size_t>(WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr);
    bytes.resize(bytes.size() - 1);
    return bytes;
  };
  return "@echo off\r\n" + narrow(updaterCommandLine) + " >>\"" + narrow(logPath) +
         "\" 2>&1\r\n"
         "if errorlevel 1 exit /b %errorlevel%\r\n"
         "start \"\" \"" +
         narrow(productPath) +
         "\"\r\n"
         "exit /b 0\r\n";
}

bool FailedWineStart(const RunMeasure& run) {
  const DWORD CommandNotStarted = 9009;  // cmd.exe's errorlevel for a command it could not start
  return run.started ? run.exitCode == ERROR_INTERNAL_ERROR || run.exitCode == CommandNotStarted
                     : run.startError == ERROR_INTERNAL_ERROR;
}

RunMeasure MeasureRepeatingFailedWineStart(const std::function<RunMeasure()>& measure, int* repeats,
                                           const std::function<void()>& beforeRepeat) {
  RunMeasure run = measure();
  if (!FailedWineStart(run)) {
    return run;
  }
  ++*repeats;
  if (beforeRepeat) {
    beforeRepeat();
  }
  run = measure();
  run.repeated = true;
  return run;
}

double Median(std::vector<double> values) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

Interval BootstrapInterval(size_t count, const std::function<double(const std::vector<size_t>&)>& statistic,
                           int resamples) {
  Interval interval;
  if (count == 0 || resamples <= 0) {
    return interval;
  }
  std::mt19937 random(0x5EED);  // fixed: the same figures give the same interval
  std::uniform_int_distribution<size_t> pick(0, count - 1);
  std::vector<double> values;
  std::vector<size_t> sample(count);
  for (int resample = 0; resample < resamples; ++resample) {
    for (size_t& index : sample) {
      index = pick(random);
    }
    values.push_back(statistic(sample));
  }
  std::sort(values.begin(), values.end());
  interval.low = values[values.size() * 5 / 100];
  interval.high = values[values.size() * 95 / 100];
  return interval;
}

std::vector<double> Pick(const std::vector<double>& values, const std::vector<size_t>& indices) {
  std::vector<double> picked;
  for (size_t index : indices) {
    picked.push_back(index < values.size() ? values[index] : 0);
  }
  return picked;
}

double Mean(const std::vector<double>& values) {
  if (values.empty()) {
    return 0;
  }
  return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

// ---- Footprint ------------------------------------------------------------

namespace {

constexpr WORD IconType = 3;       // RT_ICON
constexpr WORD IconGroupType = 14;  // RT_GROUP_ICON
constexpr DWORD ResourceDataAlignment = 8;
constexpr DWORD SubdirectoryFlag = 0x80000000;
constexpr DWORD NamedEntryFlag = 0x80000000;

unsigned long long RoundUp(unsigned long long value, unsigned long long alignment) {
  return alignment == 0 ? value : (value + alignment - 1) / alignment * alignment;
}

// One resource type's subtree: its names, each with its languages' sizes.
struct ResourceType {
  bool named = false;
  unsigned nameLength = 0;
  WORD id = 0;
  std::vector<std::vector<DWORD>> names;  // per name: the data sizes of its languages
  unsigned namedEntriesBelow = 0;
  unsigned long long nameCharactersBelow = 0;
};

// The size windres gives a resource section holding `types`: every directory
// (16 bytes and 8 per entry), then a 16-byte entry per resource, then the
// name strings, then each resource's data on an 8-byte boundary.
unsigned long long ResourceLayoutSize(const std::vector<ResourceType>& types) {
  unsigned long long directories = 16 + 8 * types.size();
  unsigned long long leaves = 0;
  unsigned long long strings = 0;
  unsigned long long data = 0;
  for (const ResourceType& type : types) {
    directories += 16 + 8 * type.names.size();
    if (type.named) {
      strings += 2 + 2ull * type.nameLength;
    }
    strings += 2ull * type.namedEntriesBelow + 2 * type.nameCharactersBelow;
    for (const std::vector<DWORD>& languages : type.names) {
      directories += 16 + 8 * languages.size();
      leaves += 16 * languages.size();
      for (DWORD size : languages) {
        data += RoundUp(size, ResourceDataAlignment);
      }
    }
  }
  return directories + leaves + RoundUp(strings, ResourceDataAlignment) + data;
}

}  // namespace

Footprint ReadFootprint(const std::string& bytes) {
  Footprint footprint;
  footprint.fileSize = bytes.size();
  PeImage image = PeImage::FromBytes(bytes);
  if (!image.Valid()) {
    footprint.error = "not a 64-bit PE image";
    return footprint;
  }
  footprint.fileAlignment = image.OptionalHeader().FileAlignment;
  footprint.headersSize = image.OptionalHeader().SizeOfHeaders;
  for (const IMAGE_SECTION_HEADER& header : image.Sections()) {
    SectionFootprint section;
    section.name = PeImage::NameOf(header);
    section.virtualSize = header.Misc.VirtualSize;
    section.rawSize = header.SizeOfRawData;
    section.characteristics = header.Characteristics;
    footprint.sections.push_back(section);
  }
  for (const PeImport& library : image.Imports()) {
    footprint.imports.push_back({library.library, library.functions});
  }
  footprint.baseRelocationBytes = image.Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC).Size;

  // Resources: type, name and language directories down to the data entries.
  footprint.sizeWithoutIcons = footprint.fileSize;
  DWORD root = image.Directory(IMAGE_DIRECTORY_ENTRY_RESOURCE).VirtualAddress;
  const IMAGE_SECTION_HEADER* resourceSection = image.SectionOfDirectory(IMAGE_DIRECTORY_ENTRY_RESOURCE);
  auto read = [&](DWORD rva, auto* value) {
    const unsigned char* at = image.AtRva(rva, sizeof(*value));
    if (at != nullptr) {
      std::memcpy(value, at, sizeof(*value));
    }
    return at != nullptr;
  };
  IMAGE_RESOURCE_DIRECTORY rootHeader = {};
  if (resourceSection != nullptr && read(root, &rootHeader)) {
    auto entriesOf = [&](DWORD table) {
      IMAGE_RESOURCE_DIRECTORY header = {};
      std::vector<IMAGE_RESOURCE_DIRECTORY_ENTRY> entries;
      read(table, &header);
      unsigned count = header.NumberOfNamedEntries + header.NumberOfIdEntries;
      for (unsigned index = 0; index < count; ++index) {
        IMAGE_RESOURCE_DIRECTORY_ENTRY entry = {};
        if (!read(table + sizeof(IMAGE_RESOURCE_DIRECTORY) + index * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY), &entry)) {
          break;
        }
        entries.push_back(entry);
      }
      return entries;
    };
    auto nameLength = [&](DWORD name) {
      WORD length = 0;
      read(root + (name & ~NamedEntryFlag), &length);
      return length;
    };

    std::vector<ResourceType> kept;
    std::vector<ResourceType> all;
    for (const IMAGE_RESOURCE_DIRECTORY_ENTRY& typeEntry : entriesOf(root)) {
      ResourceType type;
      type.named = (typeEntry.Name & NamedEntryFlag) != 0;
      type.nameLength = type.named ? nameLength(typeEntry.Name) : 0;
      type.id = type.named ? 0 : static_cast<WORD>(typeEntry.Name);
      if ((typeEntry.OffsetToData & SubdirectoryFlag) == 0) {
        continue;
      }
      for (const IMAGE_RESOURCE_DIRECTORY_ENTRY& nameEntry : entriesOf(root + (typeEntry.OffsetToData & ~SubdirectoryFlag))) {
        if (nameEntry.Name & NamedEntryFlag) {
          ++type.namedEntriesBelow;
          type.nameCharactersBelow += nameLength(nameEntry.Name);
        }
        std::vector<DWORD> languages;
        if (nameEntry.OffsetToData & SubdirectoryFlag) {
          for (const IMAGE_RESOURCE_DIRECTORY_ENTRY& languageEntry :
               entriesOf(root + (nameEntry.OffsetToData & ~SubdirectoryFlag))) {
            IMAGE_RESOURCE_DATA_ENTRY data = {};
            read(root + languageEntry.OffsetToData, &data);
            languages.push_back(data.Size);
            if (!type.named && type.id == IconType) {
              ++footprint.iconImages;
              footprint.iconImageBytes += data.Size;
            }
          }
        }
        type.names.push_back(languages);
      }
      all.push_back(type);
      if (type.named || (type.id != IconType && type.id != IconGroupType)) {
        kept.push_back(type);
      }
    }
    footprint.resourceLayoutSize = ResourceLayoutSize(all);
    footprint.resourceSectionSize = resourceSection->Misc.VirtualSize;
    unsigned long long without = RoundUp(ResourceLayoutSize(kept), footprint.fileAlignment);
    footprint.sizeWithoutIcons = footprint.fileSize - resourceSection->SizeOfRawData + without;
  }
  footprint.valid = true;
  return footprint;
}
