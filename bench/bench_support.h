#pragma once
// What the benchmark measures with: timed child processes, the two ways
// other launchers pass an updater's output on (a pipe read by the parent, a
// batch file run by cmd.exe), and an executable's footprint.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// ---- Child processes ------------------------------------------------------

struct RunMeasure {
  bool started = false;
  DWORD startError = 0;  // when it could not be started
  DWORD exitCode = 0;
  double wallMs = 0;          // from CreateProcessW to the end of the process
  double cpuMs = -1;          // the process's own user and kernel time; -1 if unknown
  SIZE_T peakWorkingSet = 0;  // 0 unless sampled
  bool repeated = false;      // measured again after Wine failed a process start
};

double NowMs();

// True under Wine, whose GetProcessTimes on another process answers with the
// caller's own times (Wine 8): there the child's CPU time must be sampled.
bool RunningUnderWine();

// Starts `commandLine` (with `output` as stdout and stderr when it is not
// null) and waits for it. Without `sample`, the wait is a plain blocking one
// and the CPU time comes from GetProcessTimes (unknown under Wine). With
// `sample`, polls the child every millisecond while it runs: its peak working
// set, and under Wine its CPU time as the Linux kernel counts it (to the
// nanosecond, the last millisecond before its end excepted).
RunMeasure RunMeasured(const std::wstring& commandLine, HANDLE output = nullptr, bool sample = false);

// The Linux process that runs `program` under Wine (the first argument of
// its command line is the program's Windows path), 0 if there is none.
unsigned FindUnixProcess(const std::wstring& program);

// The CPU time, in milliseconds, that the Linux kernel has given the threads
// of process `unixPid`; -1 once it is gone.
double UnixProcessCpuMs(unsigned unixPid);

// The Linux processes that run a program from under `directory` (a Windows
// path), and a wait until there are none. Wine signals a process's end to
// the waiting parent before its Linux process has left: a run that starts
// meanwhile shares the machine with that exit. False after `timeoutMs`.
int CountUnixProcessesUnder(const std::wstring& directory);
bool WaitForUnixProcessesUnder(const std::wstring& directory, DWORD timeoutMs = 10000);

// Starts `commandLine` with a pipe as stdout and stderr, and copies what
// comes through it into `logPath` (appending) until the child closes it,
// as a launcher that relays its updater's output would. `bytesCopied`
// receives the count.
RunMeasure RunThroughPipe(const std::wstring& commandLine, const std::wstring& logPath,
                          unsigned long long* bytesCopied);

// Waits until the product stand-in in `binDirectory` has recorded its start
// and has ended, then removes its record: so that a product a run started in
// passing never overlaps the next measurement. False after `timeoutMs`.
bool WaitForProductStandin(const std::wstring& binDirectory, DWORD timeoutMs = 10000);

// The batch file people write instead of a launcher: the updater with its
// output appended to the log, then the product if the updater succeeded, and
// the updater's exit code as the batch file's. CRLF line ends.
std::string UpdateBatchFile(const std::wstring& updaterCommandLine, const std::wstring& logPath,
                            const std::wstring& productPath);

// ---- Wine's failed process start ------------------------------------------

// Under load, Wine now and then fails a process start with
// ERROR_INTERNAL_ERROR (0x0000054F): its CreateProcessW reports that when the
// new process ends before it has started. The end-to-end tests repeat such a
// run once; so does the benchmark.

// True when `run` failed so: it could not be started with that error, or it
// ended with that code, which the launcher and the minimal program pass on
// when their own start of a child failed so, or with 9009, the code cmd.exe
// ends the batch file's run with when it could not start the updater.
bool FailedWineStart(const RunMeasure& run);

// Measures a run with `measure` and, when Wine failed a process start in it,
// calls `beforeRepeat` (if any) and measures it once more, marked
// `repeated`, adding one to `*repeats`. A second failure is returned as it
// is, for the caller to judge like any other.
RunMeasure MeasureRepeatingFailedWineStart(const std::function<RunMeasure()>& measure, int* repeats,
                                           const std::function<void()>& beforeRepeat = nullptr);

// ---- Statistics -----------------------------------------------------------

double Median(std::vector<double> values);
double Mean(const std::vector<double>& values);

// The values at `indices`.
std::vector<double> Pick(const std::vector<double>& values, const std::vector<size_t>& indices);

struct Interval {
  double low = 0;
  double high = 0;
};

// The spread of a figure computed from `count` repetitions: `statistic` is
// computed again on `resamples` resamplings of the repetitions (drawn with
// replacement, from a fixed seed) and the 5th and 95th percentiles of the
// results are returned, a 90% bootstrap interval. Paired figures (two
// methods of one repetition) stay paired: `statistic` gets the indices.
Interval BootstrapInterval(size_t count, const std::function<double(const std::vector<size_t>&)>& statistic,
                           int resamples = 1000);

// ---- Footprint ------------------------------------------------------------

struct SectionFootprint {
  std::string name;
  DWORD virtualSize = 0;
  DWORD rawSize = 0;  // bytes in the file, padded to the file alignment
  DWORD characteristics = 0;
};

struct ImportFootprint {
  std::string library;
  std::vector<std::string> functions;  // "#n" for an import by ordinal
};

struct Footprint {
  bool valid = false;
  std::string error;
  unsigned long long fileSize = 0;
  DWORD fileAlignment = 0;
  DWORD headersSize = 0;
  std::vector<SectionFootprint> sections;
  std::vector<ImportFootprint> imports;
  DWORD baseRelocationBytes = 0;
  // Icon images (RT_ICON) and icon groups (RT_GROUP_ICON) in the resources.
  unsigned iconImages = 0;
  unsigned long long iconImageBytes = 0;
  // The size the file would have without its icons: the same file with the
  // resource section laid out again (as windres lays it out) without the
  // icon images and their group.
  unsigned long long sizeWithoutIcons = 0;
  // The resource section's size as laid out from the tree that was read;
  // equals the section's own size when the layout rule is right.
  unsigned long long resourceLayoutSize = 0;
  unsigned long long resourceSectionSize = 0;
};

// Reads a PE32+ image from its bytes, through the tests' PE reader.
Footprint ReadFootprint(const std::string& image);
