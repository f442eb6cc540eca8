#pragma once
// What the tests share: scratch directories, whole-file reads and writes,
// running a program and reading its full 32-bit exit code.
#include <windows.h>

#include <string>
#include <vector>

// A fresh directory under the temporary folder, removed with its contents
// when the object goes.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory() { Remove(); }
  // Removes it, again and again for up to 10 s while a process that a test
  // did not wait for (the product, a console host) still holds something in
  // it. False when it stays.
  bool Remove() const;
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // Ends in a backslash.
  const std::wstring& Path() const { return path; }

 private:
  std::wstring path;
};

// The directory of the running test program, ending in a backslash; the
// launcher and the stand-ins are built into the same one.
std::wstring TestProgramDirectory();

bool FileExists(const std::wstring& path);
std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);
void RemoveTree(const std::wstring& path);

// Reads a file of zero-terminated UTF-16 strings (the stand-in's records).
std::vector<std::wstring> ReadArgumentList(const std::wstring& path);

std::string Utf8(const std::wstring& text);
// `text` in `codePage`, converted as the system converts (best fit included).
std::string Narrow(const std::wstring& text, UINT codePage);

// The thirteen arguments the updater must receive from a launcher in
// `directory` (ending in a backslash) given the six values.
std::vector<std::wstring> ExpectedUpdaterArguments(const std::wstring& directory, const std::vector<std::wstring>& six);

// Quotes one argument for a command line (the test's own rules, so that the
// launcher's quoting is checked against something independent).
std::wstring QuoteForCommandLine(const std::wstring& value);

// What ProcessResult::exitCode holds when there is none: the program did not
// start, or did not end in time. No test expects it from a program.
constexpr DWORD NoExitCode = 0xDEADC0DE;

struct ProcessResult {
  bool started = false;  // false: startError says why
  bool finished = false;
  DWORD exitCode = NoExitCode;
  DWORD processId = 0;
  DWORD startError = 0;
  std::string standardOutput;
  std::string standardError;
};

// Starts `commandLine`, with stdout and stderr captured, and waits for it.
// `environment`, when not empty, is the child's whole environment block
// ("NAME=value" strings, each ending in a zero).
ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMilliseconds = 120000,
                         const std::wstring& environment = std::wstring());

// Wine now and then fails a process start with ERROR_INTERNAL_ERROR, whatever
// the cause on the Linux side: a test's own start, or one that the launcher
// makes, which then is the code it ends with or a line it logs ("Error:
// CreateProcessW: 0x0000054F", or ShellExecuteExW). `code` is the start
// error or the run's code, `logged` what the run appended to its log. A run that
// shows that one signature is repeated once, and counted (CountRepeatedRun,
// which says so); the test program prints the count when it ends.
bool WineFailedAStart(DWORD code, const std::string& logged);
void CountRepeatedRun();
void PrintRunsRepeated();

// What a run of the launcher in `app` (ending in a backslash) leaves that its
// repeat must not find: the lines it appended to kv-out.txt, and the records
// that the launcher, the stand-in runtime and the stand-in product under
// `install` write whole, where they did not exist before it.
class RunTraces {
 public:
  RunTraces(const std::wstring& app, const std::wstring& install);
  // What the run appended to the log: its last 4 KiB, where a failed start
  // shows (the log may be too large to read whole).
  std::string Logged() const;
  void Undo() const;

 private:
  std::wstring log;
  bool logExisted;
  unsigned long long logSize = 0;
  std::vector<std::wstring> newRecords;
};

// Runs `attempt`, which returns what would show a failed start (its start
// error, or the run's code), and once more, after undoing its traces and
// counting the repeat, when Wine failed a start in it. False when the repeat
// failed so too.
template <typename Attempt>
bool RepeatOnceIfWineFailedAStart(const RunTraces& traces, Attempt attempt) {
  if (!WineFailedAStart(attempt(), traces.Logged())) {
    return true;
  }
  CountRepeatedRun();
  traces.Undo();
  return !WineFailedAStart(attempt(), traces.Logged());
}

// Makes `path` writable by Everyone (under Wine: Unix mode 0777).
void LetEveryoneChange(const std::wstring& path);

// True when the program runs under Wine (its ntdll exports wine_get_version),
// false on Windows.
bool UnderWine();

// Gives `path` to another account, and says whether it now has that owner:
// under Wine the host's owner nobody, which reads as Anonymous Logon
// (S-1-5-7); on Windows Guests (S-1-5-32-546), which takes SeRestorePrivilege,
// so an elevated run.
bool GiveToAnotherAccount(const std::wstring& path);

// Makes `link` a link to the folder `target`: under Wine a host symbolic link
// (which Wine shows as a reparse point without a tag); on Windows a junction
// (tag IO_REPARSE_TAG_MOUNT_POINT).
bool MakeLink(const std::wstring& link, const std::wstring& target);

// Maps a free drive letter onto the folder `target` for as long as the object
// lives: under Wine a link in the prefix's dosdevices folder, made while its
// server runs (so the mount manager never learns of it); on Windows
// DefineDosDeviceW, as subst does. Test programs side by side (a shard, the
// test kit) take turns: each holds one named mutex while its letter lives, so
// that two never map the same free letter.
class MappedDriveLetter {
 public:
  explicit MappedDriveLetter(const std::wstring& target);
  ~MappedDriveLetter();
  MappedDriveLetter(const MappedDriveLetter&) = delete;
  MappedDriveLetter& operator=(const MappedDriveLetter&) = delete;

  // "X:\", or empty when no letter could be mapped.
  const std::wstring& Root() const { return root; }

 private:
  HANDLE turn;
  std::wstring target;
  std::wstring root;
  std::string link;  // under Wine: the link's path on the host, after the prefix's C:\ as %s
};

// Runs a Linux command on the host Wine runs on, with each Windows path in
// `paths` put in place of a %s in `format`, and waits (up to 5 s) until
// `done`, given the last path, says it has done its work: Wine hands back no process for a Linux
// program. For what only the host can do, such as giving a folder another
// owner or making a symbolic link. Returns what `done` last said.
bool RunOnHost(const char* format, const std::vector<std::wstring>& paths, bool (*done)(const std::wstring& last));

// Sets one setting of the stand-in runtime's scenario, in the file
// standin-scenario.txt in `directory` (the folder of the java.exe that runs;
// see java_standin.cpp), for as long as the object lives. A file, not the
// environment: Windows gives an elevated process an environment of its own.
class StandinSetting {
 public:
  StandinSetting(const std::wstring& directory, const wchar_t* name, const std::wstring& value);
  ~StandinSetting();
  StandinSetting(const StandinSetting&) = delete;
  StandinSetting& operator=(const StandinSetting&) = delete;

 private:
  std::wstring path;
  std::wstring name;
};

// Sets an environment variable for as long as the object lives: for what a
// test gives the launcher's own environment.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const std::wstring& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::wstring name;
};
