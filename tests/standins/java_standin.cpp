// Stands in for kv-jre\bin\java.exe in the tests. It records the command line
// it received, in its own directory:
//   java-cmdline.txt  the raw line (UTF-16)
//   java-split.bin    the line as CommandLineToArgvW splits it
//   java-argv.bin     the line as this C runtime's argv has it
//   java-files.bin    the paths of the files it held open from its start,
//                     and the processes it held a handle to
//   java-directory.txt  its working directory
//   java-options.txt  which of the JVM option variables it was given, as
//                     GetEnvironmentVariableW or the C runtime's getenv
//                     finds them
// (each .bin file holds the arguments as zero-terminated UTF-16 strings, one
// after the other), and its ANSI view, what a program that reads
// GetCommandLineA sees (the Java launcher does):
//   java-ansi-cmdline.txt  the raw ANSI line
//   java-ansi.bin          that line split by CommandLineToArgvW's rules, as
//                          zero-terminated 8-bit strings
//   java-startup.txt       the STARTUPINFO it was given: "dwFlags wShowWindow"
// Then it does what its scenario asks: standin-scenario.txt beside it, a file
// (not the environment, which Windows does not carry across an elevation) of
// UTF-16 entries "NAME=value", each ended by a zero character, so that a
// value may hold line feeds:
//   STANDIN_STDOUT, STANDIN_STDERR  text to print (as UTF-8)
//   STANDIN_OUTPUT_BYTES            that many pattern bytes on stdout
//   STANDIN_STDOUT_HEX              raw bytes for stdout, as hexadecimal pairs
//                                   (for output that is not text)
//   STANDIN_SLEEP_MS                time to sleep before exiting
//   STANDIN_SEMAPHORE               "file" or "dir": create the semaphore it
//                                   was given (its eleventh argument)
//   STANDIN_EXIT_CODE               the exit code (decimal or 0x hex)
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/standins/standin.h"

namespace {

constexpr int SemaphoreArgumentIndex = 11;

void WriteArgumentList(const std::wstring& path, wchar_t** arguments, int count) {
  std::wstring joined;
  for (int index = 0; index < count; ++index) {
    joined += arguments[index];
    joined.push_back(L'\0');
  }
  WriteWholeFile(path, joined.data(), joined.size() * sizeof(wchar_t));
}

// CommandLineToArgvW's rules on an 8-bit line. The program name runs to the
// next quote if it starts with one, else to the first space or tab. After it,
// 2n backslashes and a quote give n backslashes and open or close quoting;
// 2n+1 give n and a literal quote; other backslashes are literal; a third
// quote in a row inside quotes is a literal one.
std::string SplitAnsi(const char* s) {
  std::string joined;
  if (*s == '"') {
    for (++s; *s != '\0' && *s != '"'; ++s) joined.push_back(*s);
    if (*s == '"') ++s;
  } else {
    for (; *s != '\0' && *s != ' ' && *s != '\t'; ++s) joined.push_back(*s);
  }
  joined.push_back('\0');
  while (*s == ' ' || *s == '\t') ++s;
  if (*s == '\0') return joined;
  int quotes = 0;
  size_t backslashes = 0;
  while (*s != '\0') {
    if ((*s == ' ' || *s == '\t') && quotes == 0) {
      while (*s == ' ' || *s == '\t') ++s;
      if (*s == '\0') break;
      joined.push_back('\0');
      backslashes = 0;
    } else if (*s == '\\') {
      joined.push_back(*s++);
      ++backslashes;
    } else if (*s == '"') {
      joined.resize(joined.size() - backslashes / 2 - backslashes % 2);
      if (backslashes % 2 == 0) {
        ++quotes;
      } else {
        joined.push_back('"');
      }
      backslashes = 0;
      for (++s; *s == '"'; ++s) {
        if (++quotes == 3) {
          joined.push_back('"');
          quotes = 0;
        }
      }
      if (quotes == 2) quotes = 0;
    } else {
      joined.push_back(*s++);
      backslashes = 0;
    }
  }
  joined.push_back('\0');
  return joined;
}

void WriteToHandle(HANDLE handle, const char* bytes, size_t count) {
  while (count > 0) {
    DWORD chunk = count > (1u << 20) ? (1u << 20) : static_cast<DWORD>(count);
    DWORD written = 0;
    if (!WriteFile(handle, bytes, chunk, &written, nullptr) || written == 0) {
      return;
    }
    bytes += written;
    count -= written;
  }
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return 0;
}

std::string FromHex(const std::wstring& hex) {
  std::string bytes;
  for (size_t index = 0; index + 1 < hex.size(); index += 2) {
    bytes.push_back(static_cast<char>(HexDigit(hex[index]) * 16 + HexDigit(hex[index + 1])));
  }
  return bytes;
}

void WritePattern(HANDLE handle, unsigned long long count) {
  std::vector<char> block(1 << 20);
  unsigned long long offset = 0;
  while (offset < count) {
    size_t chunk = count - offset < block.size() ? static_cast<size_t>(count - offset) : block.size();
    for (size_t index = 0; index < chunk; ++index) {
      block[index] = StandinPatternByte(offset + index);
    }
    WriteToHandle(handle, block.data(), chunk);
    offset += chunk;
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring directory = OwnDirectory();
  std::wstring files = OpenFilePaths();
  WriteWholeFile(directory + L"java-files.bin", files.data(), files.size() * sizeof(wchar_t));
  const wchar_t* commandLine = GetCommandLineW();
  WriteWholeFile(directory + L"java-cmdline.txt", commandLine, wcslen(commandLine) * sizeof(wchar_t));
  int splitCount = 0;
  wchar_t** split = CommandLineToArgvW(commandLine, &splitCount);
  WriteArgumentList(directory + L"java-split.bin", split, split != nullptr ? splitCount : 0);
  WriteArgumentList(directory + L"java-argv.bin", argv, argc);
  const char* ansiLine = GetCommandLineA();
  WriteWholeFile(directory + L"java-ansi-cmdline.txt", ansiLine, strlen(ansiLine));
  std::string ansiSplit = SplitAnsi(ansiLine);
  WriteWholeFile(directory + L"java-ansi.bin", ansiSplit.data(), ansiSplit.size());
  wchar_t workingDirectory[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, workingDirectory);
  WriteWholeFile(directory + L"java-directory.txt", workingDirectory, wcslen(workingDirectory) * sizeof(wchar_t));
  std::string options;
  for (const char* name : {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS"}) {
    // As Windows finds them, and as the Java runtime does: through its C
    // runtime, whose environment is the ANSI code page's best-fit view.
    const std::wstring wide(name, name + std::strlen(name));
    options += GetEnvironmentVariableW(wide.c_str(), nullptr, 0) != 0 || std::getenv(name) != nullptr
                   ? std::string(name) + " " : "";
  }
  WriteWholeFile(directory + L"java-options.txt", options.data(), options.size());
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  GetStartupInfoW(&startup);
  std::string startupText = std::to_string(startup.dwFlags) + " " + std::to_string(startup.wShowWindow);
  WriteWholeFile(directory + L"java-startup.txt", startupText.data(), startupText.size());

  std::string output = ToUtf8(ScenarioValue(L"STANDIN_STDOUT"));
  WriteToHandle(GetStdHandle(STD_OUTPUT_HANDLE), output.data(), output.size());
  std::string error = ToUtf8(ScenarioValue(L"STANDIN_STDERR"));
  WriteToHandle(GetStdHandle(STD_ERROR_HANDLE), error.data(), error.size());
  std::string raw = FromHex(ScenarioValue(L"STANDIN_STDOUT_HEX"));
  WriteToHandle(GetStdHandle(STD_OUTPUT_HANDLE), raw.data(), raw.size());
  std::wstring patternBytes = ScenarioValue(L"STANDIN_OUTPUT_BYTES");
  if (!patternBytes.empty()) {
    WritePattern(GetStdHandle(STD_OUTPUT_HANDLE), wcstoull(patternBytes.c_str(), nullptr, 0));
  }

  std::wstring semaphore = ScenarioValue(L"STANDIN_SEMAPHORE");
  if (!semaphore.empty() && split != nullptr && splitCount > SemaphoreArgumentIndex) {
    const wchar_t* path = split[SemaphoreArgumentIndex];
    if (semaphore == L"dir") {
      CreateDirectoryW(path, nullptr);
    } else {
      WriteWholeFile(path, "", 0);
    }
  }

  std::wstring sleep = ScenarioValue(L"STANDIN_SLEEP_MS");
  if (!sleep.empty()) {
    Sleep(static_cast<DWORD>(wcstoul(sleep.c_str(), nullptr, 0)));
  }
  std::wstring exitCode = ScenarioValue(L"STANDIN_EXIT_CODE");
  // ExitProcess carries every 32-bit code, 0xC0000005 included.
  ExitProcess(exitCode.empty() ? 0 : static_cast<UINT>(wcstoul(exitCode.c_str(), nullptr, 0)));
}
