// What the launcher costs, against the physical limit and the alternatives,
// measured in one run so that the noise of a shared machine falls on both
// sides of every ratio alike. Prints one table.
//
//   launcher-bench.exe [--repetitions N] [--output-mib N] [--scratch DIR]
//
// --scratch puts the launcher's directory, and so its log, under DIR (by
// default the temporary folder): bench.sh gives it a folder in memory, so
// that the disk's write-back does not decide the output figures.
//
// It lays out a launcher directory as the product ships it (the real
// executable, the stand-in Java runtime and product) in a scratch directory,
// and runs, interleaved, repetition after repetition:
//   - the launcher in --direct mode, with a stand-in updater and product
//     that exit at once;
//   - the same two stand-ins started directly by this program (the limit);
//   - a batch file run by cmd.exe that does the same job (the alternative);
//   - bench-floor.exe, a program that makes only the platform calls every
//     run must make (the floor of the launcher's own cost).
// Then the launcher's CPU time while its updater sleeps, the cost of 256 MiB
// of updater output written through the launcher, straight into a file and
// through a pipe read by the parent, the executable's footprint, and what
// judging a runtime of the usual size costs an elevated run, against listing
// its folders and opening every item and reading its tag and descriptor
// bare, as the judgement does, and against reading every descriptor by name.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <cwchar>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "launcher/elevation.h"
#include "launcher/folder_trust.h"
#include "launcher/protocol.h"
#include "process/command_lines.h"
#include "tests/test_support.h"

namespace {

constexpr int DefaultRepetitions = 61;
constexpr int DefaultOutputMiB = 256;
constexpr int WarmUpRuns = 3;
constexpr DWORD WaitingMs = 2000;
constexpr DWORD ShortSleepMs = 300;
constexpr double ExecutableAim = 30720;

struct Options {
  int repetitions = DefaultRepetitions;
  int outputMiB = DefaultOutputMiB;
  int slowRepetitions = 7;  // for the sampled runs and those that take seconds
  std::wstring scratch;
};

// The scratch layout of the end-to-end tests: app\ holds the launcher, its
// runtime and its log; install\bin\lindquay.exe is the product.
struct Layout {
  ScratchDirectory scratch;
  std::wstring app;
  std::wstring install;
  std::wstring log;
  std::wstring launcherLine;
  std::wstring updaterLine;
  std::wstring productLine;
  std::wstring floorLine;
  std::wstring batchLine;
};

bool Copy(const std::wstring& from, const std::wstring& to) {
  if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
    std::fwprintf(stderr, L"cannot copy %ls to %ls\n", from.c_str(), to.c_str());
    return false;
  }
  return true;
}

bool LayOut(Layout& layout) {
  std::wstring built = TestProgramDirectory();
  layout.app = layout.scratch.Path() + L"app\\";
  layout.install = layout.scratch.Path() + L"install";
  for (const std::wstring& directory :
       {layout.app, layout.app + L"kv-jre", layout.app + L"kv-jre\\bin", layout.app + L"kv-lib", layout.install,
        layout.install + L"\\bin"}) {
    CreateDirectoryW(directory.c_str(), nullptr);
  }
  std::wstring launcher = layout.app + L"lindquay-updater.exe";
  if (!Copy(built + L"lindquay-updater.exe", launcher) ||
      !Copy(built + L"java-standin.exe", layout.app + L"kv-jre\\bin\\java.exe") ||
      !Copy(built + L"product-standin.exe", layout.install + L"\\bin\\lindquay.exe") ||
      !Copy(built + L"bench-floor.exe", layout.app + L"bench-floor.exe")) {
    return false;
  }
  layout.log = layout.app + L"kv-out.txt";

  const std::wstring values[] = {L"B", L"S", layout.install, L"A", L"P", L"C"};
  layout.launcherLine = QuoteForCommandLine(launcher) + L" 1 --direct";
  for (const std::wstring& value : values) {
    layout.launcherLine += L" " + QuoteForCommandLine(value);
  }
  // The very lines the launcher composes, from its own code.
  const UpdateRequest request = {UpdateMode::Direct, values[0].c_str(), values[1].c_str(), values[2].c_str(),
                                 values[3].c_str(), values[4].c_str(), values[5].c_str()};
  WideStringBuffer updater(0);
  ComposeUpdaterCommandLine(updater, layout.app.c_str(), request);
  layout.updaterLine = updater.Text();
  WideStringBuffer product(0);
  ComposeProductCommandLine(product, layout.install.c_str());
  layout.productLine = product.Text();

  layout.floorLine = QuoteForCommandLine(layout.app + L"bench-floor.exe") + L" " + QuoteForCommandLine(layout.log) +
                     L" " + QuoteForCommandLine(layout.updaterLine) + L" " + QuoteForCommandLine(layout.productLine);

  std::wstring batch = layout.app + L"update.bat";
  WriteBytes(batch, UpdateBatchFile(layout.updaterLine, layout.log, layout.install + L"\\bin\\lindquay.exe"));
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  layout.batchLine = QuoteForCommandLine(std::wstring(system) + L"\\cmd.exe") + L" /c " + QuoteForCommandLine(batch);
  return true;
}

HANDLE OpenLogForChildren(const std::wstring& path) {
  SECURITY_ATTRIBUTES inheritable = {};
  inheritable.nLength = sizeof(inheritable);
  inheritable.bInheritHandle = TRUE;
  HANDLE log = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_ALWAYS,
                           0, nullptr);
  SetFilePointer(log, 0, nullptr, FILE_END);
  return log;
}

// The limit: the stand-in updater with the log as its output, waited for,
// then the stand-in product, started and let go.
RunMeasure RunStandinsDirectly(const Layout& layout) {
  HANDLE log = OpenLogForChildren(layout.log);
  double started = NowMs();
  RunMeasure updater = RunMeasured(layout.updaterLine, log);
  if (updater.started) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::wstring line = layout.productLine;
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    } else {
      updater.started = false;
      updater.startError = GetLastError();
    }
  }
  updater.wallMs = NowMs() - started;
  CloseHandle(log);
  return updater;
}

bool Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "benchmark run failed: %s\n", what);
  }
  return condition;
}

// A whole run (launcher, minimal program, batch file or stand-ins): it must
// have started, ended with 0 and restarted the product (and, when sampled,
// have a CPU time). On failure it says which of these it missed, and whether
// it was already the repeat of a run that Wine failed to start, so that a
// rare fault can be told apart.
bool CheckRun(const RunMeasure& run, const std::wstring& productBin, const char* what, bool sampled = false) {
  bool productStarted = run.started && run.exitCode == 0 && WaitForProductStandin(productBin);
  bool ok = productStarted && (!sampled || run.cpuMs >= 0);
  if (!ok) {
    std::fprintf(stderr,
                 "benchmark run failed: %s (started %d, start error 0x%08lX, exit code 0x%08lX, product started %d, "
                 "CPU %.2f ms%s)\n",
                 what, run.started ? 1 : 0, static_cast<unsigned long>(run.startError),
                 static_cast<unsigned long>(run.exitCode), productStarted ? 1 : 0, run.cpuMs,
                 run.repeated ? "; already repeated once after Wine failed a process start" : "");
  }
  return ok;
}

// Keeps the wall time of a run that passes CheckRun.
bool Record(const RunMeasure& run, const std::wstring& productBin, const char* what, std::vector<double>& wallMs) {
  if (!CheckRun(run, productBin, what)) {
    return false;
  }
  wallMs.push_back(run.wallMs);
  return true;
}

// ---- 6: the judgement of what an elevated run loads ----

// A runtime of the usual size: 90 folders and some 600 files under kv-jre and
// kv-lib, like a JRE's bin, lib, conf and one legal folder per module.
constexpr int ModuleFolders = 80;
constexpr int FilesPerModule = 6;
constexpr int LibraryFiles = 60;
constexpr int Jars = 40;

struct Judgement {
  bool ok = false;
  int folders = 0;
  int files = 0;
  int items = 0;                   // every item read: these, the launcher and the path to it
  std::vector<double> judgeMs;     // one judgement, in this process
  std::vector<double> floorMs;     // the same items listed and read bare through handles, beside it
  std::vector<double> byNameMs;    // the same items listed and their descriptors read by name
  std::vector<double> elevateMs;   // a whole --elevate run, which judges twice
};

// Reads one item bare: through a handle opened as the judgement opens it,
// its tag and its owner and DACL; or only the owner and DACL, by name.
bool ReadBare(const std::wstring& path, bool throughHandle) {
  static BYTE descriptor[4096];
  const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  if (!throughHandle) {
    return GetFileSecurityW(path.c_str(), wanted, descriptor, sizeof(descriptor), &needed);
  }
  HANDLE item = CreateFileW(
      /* lpFileName */ path.c_str(),
      /* dwDesiredAccess */ FILE_READ_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL,
      /* dwShareMode */ FILE_SHARE_READ | FILE_SHARE_DELETE,
      /* lpSecurityAttributes */ nullptr,
      /* dwCreationDisposition */ OPEN_EXISTING,
      /* dwFlagsAndAttributes */ FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      /* hTemplateFile */ nullptr);
  if (item == INVALID_HANDLE_VALUE) {
    return false;
  }
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  bool read = GetFileInformationByHandleEx(item, FileAttributeTagInfo, &tag, sizeof(tag)) &&
              GetKernelObjectSecurity(item, wanted, descriptor, sizeof(descriptor), &needed);
  CloseHandle(item);
  return read;
}

// The least any judgement of these items must do: read each of `named` and
// every folder and file in `trees` (literal paths), listing each folder as
// the judgement does; of the first of `trees`, the launcher's folder, only
// its files. Judges nothing. Returns the count of items read, -1 if any
// could not be.
int ReadItemsBare(const std::vector<std::wstring>& named, std::vector<std::wstring> trees, bool throughHandle) {
  int items = 0;
  bool ok = true;
  auto read = [&](const std::wstring& path) {
    ok = ReadBare(path, throughHandle) && ok;
    ++items;
  };
  for (const std::wstring& path : named) {
    read(path);
  }
  for (size_t next = 0; next < trees.size(); ++next) {
    const std::wstring folder = trees[next] + L"\\";
    if (next > 0) {
      read(trees[next]);
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(
        /* lpFileName */ (folder + L"*").c_str(),
        /* fInfoLevelId */ FindExInfoBasic,
        /* lpFindFileData */ &found,
        /* fSearchOp */ FindExSearchNameMatch,
        /* lpSearchFilter */ nullptr,
        /* dwAdditionalFlags */ FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
      return -1;
    }
    do {
      std::wstring name = found.cFileName;
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        read(folder + name);
      } else if (next > 0 && name != L"." && name != L"..") {
        trees.push_back(folder + name);
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  return ok ? items : -1;
}

// Lays the runtime out under the drive's root, which only this account may
// change: a scratch folder in /dev/shm or /tmp would be refused at once.
Judgement MeasureJudgement(int repetitions, int slowRepetitions, int* repeats) {
  Judgement result;
  wchar_t drive[MAX_PATH] = L"C:";
  GetEnvironmentVariableW(L"SystemDrive", drive, MAX_PATH);
  const std::wstring root = std::wstring(drive) + L"\\lq-bench-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
  const std::wstring app = root + L"app\\", install = root + L"install";
  std::vector<std::wstring> folders = {root, app, install, install + L"\\bin", app + L"kv-lib", app + L"kv-jre",
                                       app + L"kv-jre\\bin", app + L"kv-jre\\bin\\server", app + L"kv-jre\\conf",
                                       app + L"kv-jre\\conf\\security", app + L"kv-jre\\lib", app + L"kv-jre\\lib\\server",
                                       app + L"kv-jre\\legal"};
  for (int module = 0; module < ModuleFolders; ++module) {
    folders.push_back(app + L"kv-jre\\legal\\java.module" + std::to_wstring(module));
  }
  for (const std::wstring& folder : folders) {
    CreateDirectoryW(folder.c_str(), nullptr);
  }
  result.folders = static_cast<int>(folders.size()) - 4;  // those under kv-jre and kv-lib
  std::vector<std::wstring> files;
  for (int module = 0; module < ModuleFolders; ++module) {
    for (int file = 0; file < FilesPerModule; ++file) {
      files.push_back(app + L"kv-jre\\legal\\java.module" + std::to_wstring(module) + L"\\NOTICE" + std::to_wstring(file));
    }
  }
  for (int file = 0; file < LibraryFiles; ++file) {
    files.push_back(app + L"kv-jre\\lib\\lib" + std::to_wstring(file) + L".dll");
  }
  for (int file = 0; file < Jars; ++file) {
    files.push_back(app + L"kv-lib\\updater" + std::to_wstring(file) + L".jar");
  }
  for (const std::wstring& file : files) {
    WriteBytes(file, "x");
  }
  result.files = static_cast<int>(files.size()) + 1;  // and java.exe
  std::wstring built = TestProgramDirectory();
  std::wstring launcher = app + L"lindquay-updater.exe";
  result.ok = Copy(built + L"lindquay-updater.exe", launcher) &&
              Copy(built + L"java-standin.exe", app + L"kv-jre\\bin\\java.exe") &&
              Copy(built + L"product-standin.exe", install + L"\\bin\\lindquay.exe");

  // What the judgement reads, by the literal names it reads them by.
  const std::wstring literal = L"\\\\?\\";
  const std::vector<std::wstring> named = {literal + launcher, literal + app.substr(0, app.size() - 1),
                                           literal + root.substr(0, root.size() - 1), literal + drive + L"\\"};
  const std::vector<std::wstring> trees = {literal + app.substr(0, app.size() - 1), literal + app + L"kv-jre",
                                           literal + app + L"kv-lib"};
  TokenFacts token;
  ReadTokenFacts(token);
  // Side by side, each first in every third repetition.
  const int everyItem = static_cast<int>(named.size()) + 1 + result.files + result.folders;  // the launcher twice
  for (int repetition = 0; repetition < repetitions && result.ok; ++repetition) {
    for (int turn = 0; turn < 3 && result.ok; ++turn) {
      double started = NowMs();
      switch ((turn + repetition) % 3) {
        case 0: {
          FolderJudgement judgement;
          DWORD code = judgement.JudgeOnce(launcher.c_str(), app.c_str(), token);
          result.judgeMs.push_back(NowMs() - started);
          result.ok = Check(code == 0, "the runtime laid out for the judgement is trusted");
          break;
        }
        case 1:
          result.items = ReadItemsBare(named, trees, /* throughHandle */ true);
          result.floorMs.push_back(NowMs() - started);
          result.ok = Check(result.items == everyItem, "every item read bare through a handle");
          break;
        default:
          result.ok = Check(ReadItemsBare(named, trees, /* throughHandle */ false) == everyItem,
                            "every item's descriptor read by name");
          result.byNameMs.push_back(NowMs() - started);
          break;
      }
    }
  }
  std::wstring line = QuoteForCommandLine(launcher) + L" 1 --elevate";
  for (const std::wstring& value : {std::wstring(L"B"), std::wstring(L"S"), install, std::wstring(L"A"),
                                    std::wstring(L"P"), std::wstring(L"C")}) {
    line += L" " + QuoteForCommandLine(value);
  }
  auto settled = [&] { return WaitForUnixProcessesUnder(root); };
  for (int repetition = 0; repetition < slowRepetitions && result.ok; ++repetition) {
    result.ok = Check(settled(), "the last run's processes ended") &&
                Record(MeasureRepeatingFailedWineStart([&] { return RunMeasured(line); }, repeats, settled),
                       install + L"\\bin\\", "launcher run (--elevate, judged)", result.elevateMs);
  }
  RemoveTree(root);
  return result;
}


std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

std::string Milliseconds(double value) { return Format("%.2f ms", value); }
std::string Ratio(double value) { return Format("%.2fx", value); }

using Statistic = std::function<double(const std::vector<size_t>&)>;

// A ratio of medians over the repetitions in `indices`.
Statistic RatioOfMedians(const std::vector<double>& top, const std::vector<double>& bottom) {
  return [&top, &bottom](const std::vector<size_t>& indices) {
    return Median(Pick(top, indices)) / Median(Pick(bottom, indices));
  };
}

// A ratio with its spread: the 90% bootstrap interval over the repetitions.
std::string RatioWithSpread(size_t repetitions, const Statistic& statistic) {
  std::vector<size_t> all(repetitions);
  for (size_t index = 0; index < repetitions; ++index) {
    all[index] = index;
  }
  Interval spread = BootstrapInterval(repetitions, statistic);
  return Ratio(statistic(all)) + Format(" (%.2f", spread.low) + Format("-%.2f)", spread.high);
}
// A share that rounds to zero is shown as zero, whichever its sign.
std::string Share(double value) { return Format("%.4f", value > -0.00005 && value < 0.00005 ? 0.0 : value); }

struct Row {
  std::string figure, measure, launcher, limit, ratio, aim;
};

void PrintTable(const std::vector<Row>& rows) {
  const Row header = {"", "Measure", "Launcher", "Limit / alternative", "Ratio", "Aim"};
  size_t widths[6] = {};
  auto widen = [&](const Row& row) {
    const std::string* cells[] = {&row.figure, &row.measure, &row.launcher, &row.limit, &row.ratio, &row.aim};
    for (int index = 0; index < 6; ++index) {
      widths[index] = std::max(widths[index], cells[index]->size());
    }
  };
  widen(header);
  for (const Row& row : rows) {
    widen(row);
  }
  auto print = [&](const Row& row) {
    const std::string* cells[] = {&row.figure, &row.measure, &row.launcher, &row.limit, &row.ratio, &row.aim};
    std::string line = "|";
    for (int index = 0; index < 6; ++index) {
      line += " " + *cells[index] + std::string(widths[index] - cells[index]->size(), ' ') + " |";
    }
    std::printf("%s\n", line.c_str());
  };
  print(header);
  std::string rule = "|";
  for (size_t width : widths) {
    rule += std::string(width + 2, '-') + "|";
  }
  std::printf("%s\n", rule.c_str());
  for (const Row& row : rows) {
    print(row);
  }
}

std::string Join(const std::vector<std::string>& parts) {
  std::string joined;
  for (const std::string& part : parts) {
    joined += (joined.empty() ? "" : ", ") + part;
  }
  return joined;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  for (int index = 1; index + 1 < argc; index += 2) {
    std::wstring name = argv[index];
    int value = static_cast<int>(std::wcstol(argv[index + 1], nullptr, 10));
    if (name == L"--scratch") {
      options.scratch = argv[index + 1];
    } else if (name == L"--repetitions" && value > 0) {
      options.repetitions = value;
      options.slowRepetitions = value < options.slowRepetitions ? value : options.slowRepetitions;
    } else if (name == L"--output-mib" && value > 0) {
      options.outputMiB = value;
    } else {
      std::fwprintf(stderr, L"usage: launcher-bench.exe [--repetitions N] [--output-mib N] [--scratch DIR]\n");
      return 2;
    }
  }
  if (!options.scratch.empty()) {
    // The scratch directory is made in the temporary folder.
    SetEnvironmentVariableW(L"TMP", options.scratch.c_str());
    SetEnvironmentVariableW(L"TEMP", options.scratch.c_str());
  }

  Layout layout;
  if (!LayOut(layout)) {
    return 1;
  }
  std::wstring productBin = layout.install + L"\\bin\\";
  bool ok = true;

  // Runs that Wine failed to start (ERROR_INTERNAL_ERROR), each measured
  // once more; the table says how many.
  int repeats = 0;
  // Every process of the last run, the product included, has left before
  // the next starts, a repeat included: nothing of one run's exit falls into
  // another's time.
  auto settled = [&] { return WaitForUnixProcessesUnder(layout.scratch.Path()); };
  auto measure = [&](const std::function<RunMeasure()>& run) {
    return MeasureRepeatingFailedWineStart(run, &repeats, settled);
  };

  // ---- 1 and 2: a whole run whose stand-ins exit at once ----
  std::vector<double> launcherWall, floorWall, batchWall, limitWall;
  enum Method { Launcher, Floor, Batch, Limit, MethodCount };
  auto runOnce = [&](int method) -> bool {
    if (!Check(settled(), "the last run's processes ended")) {
      return false;
    }
    switch (method) {
      case Launcher:
        return Record(measure([&] { return RunMeasured(layout.launcherLine); }), productBin, "launcher run",
                      launcherWall);
      case Floor:
        return Record(measure([&] { return RunMeasured(layout.floorLine); }), productBin, "minimal program",
                      floorWall);
      case Batch:
        return Record(measure([&] { return RunMeasured(layout.batchLine); }), productBin, "batch file", batchWall);
      default:
        return Record(measure([&] { return RunStandinsDirectly(layout); }), productBin, "stand-ins", limitWall);
    }
  };
  for (int method = 0; method < MethodCount; ++method) {
    for (int warm = 0; warm < WarmUpRuns; ++warm) {
      ok = runOnce(method) && ok;
    }
  }
  launcherWall.clear(), floorWall.clear(), batchWall.clear(), limitWall.clear();
  // A different order in every repetition, through all 24 orders of the
  // four: each method runs as often first as last, and as often after each
  // of the others (a plain rotation would always put the same method before
  // the launcher, and under Wine what ran last changes the next start).
  std::array<int, MethodCount> order = {Launcher, Floor, Batch, Limit};
  for (int repetition = 0; repetition < options.repetitions && ok; ++repetition) {
    for (int method : order) {
      ok = runOnce(method) && ok;
    }
    std::next_permutation(order.begin(), order.end());
  }
  DeleteFileW(layout.log.c_str());

  // ---- 2 (CPU, memory) and 3: the same runs, sampled while the updater
  // sleeps, apart from the timed ones so that the sampling never slows them.
  // The launcher's own work is all but done when its updater starts; what
  // the longer sleep adds is what waiting costs.
  enum Sleep { Short, Long, SleepCount };
  const DWORD sleepMs[SleepCount] = {ShortSleepMs, WaitingMs};
  std::vector<double> launcherCpu[SleepCount], floorCpu[SleepCount], launcherPeak, floorPeak;
  for (int repetition = 0; repetition < options.slowRepetitions && ok; ++repetition) {
    for (int sleep = 0; sleep < SleepCount; ++sleep) {
      StandinSetting sleeping(layout.app + L"kv-jre\\bin\\", L"STANDIN_SLEEP_MS", std::to_wstring(sleepMs[sleep]));
      RunMeasure launcher = measure([&] { return RunMeasured(layout.launcherLine, nullptr, /* sample */ true); });
      ok = CheckRun(launcher, productBin, "launcher run (sampled)", /* sampled */ true) && ok;
      RunMeasure floor = measure([&] { return RunMeasured(layout.floorLine, nullptr, /* sample */ true); });
      ok = CheckRun(floor, productBin, "minimal program (sampled)", /* sampled */ true) && ok;
      launcherCpu[sleep].push_back(launcher.cpuMs);
      floorCpu[sleep].push_back(floor.cpuMs);
      if (sleep == Short) {
        launcherPeak.push_back(static_cast<double>(launcher.peakWorkingSet));
        floorPeak.push_back(static_cast<double>(floor.peakWorkingSet));
      }
    }
  }
  DeleteFileW(layout.log.c_str());

  // ---- 4: output ----
  const unsigned long long outputBytes = static_cast<unsigned long long>(options.outputMiB) << 20;
  enum OutputMethod { ThroughLauncher, StraightToFile, ThroughPipe, OutputMethodCount };
  std::vector<double> outputWall[OutputMethodCount][2];
  for (int repetition = 0; repetition < options.slowRepetitions && ok; ++repetition) {
    for (int sized = 0; sized < 2; ++sized) {
      unsigned long long bytes = sized ? outputBytes : 0;
      StandinSetting output(layout.app + L"kv-jre\\bin\\", L"STANDIN_OUTPUT_BYTES", std::to_wstring(bytes));
      for (int step = 0; step < OutputMethodCount && ok; ++step) {
        int method = (step + repetition) % OutputMethodCount;
        unsigned long long copied = 0;
        // Each run, a repeat too, writes into a fresh log.
        RunMeasure run = measure([&] {
          DeleteFileW(layout.log.c_str());
          if (method == ThroughLauncher) {
            return RunMeasured(layout.launcherLine);
          }
          if (method == StraightToFile) {
            HANDLE log = OpenLogForChildren(layout.log);
            RunMeasure straight = RunMeasured(layout.updaterLine, log);
            CloseHandle(log);
            return straight;
          }
          return RunThroughPipe(layout.updaterLine, layout.log, &copied);
        });
        if (method == ThroughLauncher) {
          ok = CheckRun(run, productBin, "launcher run (output)") && ok;
        } else if (method == ThroughPipe) {
          ok = Check(copied == bytes, "pipe relay copied every byte") && ok;
        }
        ok = Check(run.started && run.exitCode == 0, "updater output run") && ok;
        ok = Check(ReadBytes(layout.log).size() >= bytes, "all output in the log") && ok;
        outputWall[method][sized].push_back(run.wallMs);
      }
    }
  }
  DeleteFileW(layout.log.c_str());

  // ---- 6: the judgement ----
  Judgement judgement = ok ? MeasureJudgement(options.repetitions, options.slowRepetitions, &repeats) : Judgement();
  ok = judgement.ok && ok;

  // ---- 5: footprint ----
  Footprint footprint = ReadFootprint(ReadBytes(TestProgramDirectory() + L"lindquay-updater.exe"));
  ok = Check(footprint.valid, "reading the executable") && ok;

  if (!ok) {
    return 1;
  }

  // ---- The table ----
  double launcher = Median(launcherWall), limit = Median(limitWall), batch = Median(batchWall);
  double floor = Median(floorWall);
  // Overheads pair the runs of one repetition, which ran side by side, so
  // that a slow spell of the machine falls on both terms of a difference.
  std::vector<double> launcherOverheads, batchOverheads, floorOverheads;
  for (size_t index = 0; index < launcherWall.size(); ++index) {
    launcherOverheads.push_back(launcherWall[index] - limitWall[index]);
    batchOverheads.push_back(batchWall[index] - limitWall[index]);
    floorOverheads.push_back(floorWall[index] - limitWall[index]);
  }
  double launcherOverhead = Median(launcherOverheads), batchOverhead = Median(batchOverheads);
  double floorOverhead = Median(floorOverheads);
  double launcherOwnCpu = Median(launcherCpu[Short]), floorOwnCpu = Median(floorCpu[Short]);
  double waitedMs = WaitingMs - ShortSleepMs;
  // Each repetition's long run less its short one.
  std::vector<double> launcherWaits, floorWaits;
  for (size_t index = 0; index < launcherCpu[Long].size(); ++index) {
    launcherWaits.push_back(launcherCpu[Long][index] - launcherCpu[Short][index]);
    floorWaits.push_back(floorCpu[Long][index] - floorCpu[Short][index]);
  }
  double launcherWaiting = Median(launcherWaits), floorWaiting = Median(floorWaits);
  double slope[OutputMethodCount];
  std::vector<double> costs[OutputMethodCount];  // each repetition's written minus silent run
  for (int method = 0; method < OutputMethodCount; ++method) {
    for (size_t index = 0; index < outputWall[method][1].size(); ++index) {
      costs[method].push_back(outputWall[method][1][index] - outputWall[method][0][index]);
    }
    slope[method] = Median(costs[method]);
  }
  double mib = options.outputMiB;

  std::vector<Row> rows;
  const size_t repetitions = launcherWall.size();
  const size_t sampled = launcherPeak.size();
  rows.push_back({"1 start-up", "whole --direct run, stand-ins exit at once", Milliseconds(launcher),
                  Milliseconds(limit) + " stand-ins started directly",
                  RatioWithSpread(repetitions, RatioOfMedians(launcherWall, limitWall)), ""});
  rows.push_back({"", "batch file run by cmd.exe, same job", Milliseconds(batch),
                  Milliseconds(limit) + " stand-ins started directly",
                  RatioWithSpread(repetitions, RatioOfMedians(batchWall, limitWall)), ""});
  rows.push_back({"", "overhead beyond the stand-ins", Milliseconds(launcherOverhead),
                  Milliseconds(batchOverhead) + " batch file",
                  RatioWithSpread(repetitions, RatioOfMedians(launcherOverheads, batchOverheads)), "clearly < 1"});
  rows.push_back({"2 own cost", "overhead beyond the stand-ins", Milliseconds(launcherOverhead),
                  Milliseconds(floorOverhead) + " minimal program",
                  RatioWithSpread(repetitions, RatioOfMedians(launcherOverheads, floorOverheads)), "<= 1.10x"});
  rows.push_back({"", "wall time of the whole run", Milliseconds(launcher), Milliseconds(floor) + " minimal program",
                  RatioWithSpread(repetitions, RatioOfMedians(launcherWall, floorWall)), ""});
  rows.push_back({"", "CPU time of the process", Milliseconds(launcherOwnCpu),
                  Milliseconds(floorOwnCpu) + " minimal program",
                  RatioWithSpread(sampled, RatioOfMedians(launcherCpu[Short], floorCpu[Short])), ""});
  rows.push_back({"", "peak working set", Format("%.0f KiB", Median(launcherPeak) / 1024),
                  Format("%.0f KiB", Median(floorPeak) / 1024) + " minimal program",
                  RatioWithSpread(sampled, RatioOfMedians(launcherPeak, floorPeak)), ""});
  rows.push_back({"3 waiting", Format("CPU time while the updater runs %.1f s longer", waitedMs / 1000),
                  Milliseconds(launcherWaiting), Milliseconds(floorWaiting) + " minimal program",
                  Share(launcherWaiting / waitedMs) + " of a core (" + Share(floorWaiting / waitedMs) + ")",
                  "~0"});
  rows.push_back({"4 output", Format("%.0f MiB written through the launcher", mib),
                  Milliseconds(slope[ThroughLauncher]), Milliseconds(slope[StraightToFile]) + " straight into a file",
                  RatioWithSpread(costs[ThroughLauncher].size(),
                                  RatioOfMedians(costs[ThroughLauncher], costs[StraightToFile])),
                  "1.00x"});
  rows.push_back({"", Format("%.0f MiB relayed through a pipe", mib), Milliseconds(slope[ThroughPipe]),
                  Milliseconds(slope[StraightToFile]) + " straight into a file",
                  RatioWithSpread(costs[ThroughPipe].size(), RatioOfMedians(costs[ThroughPipe], costs[StraightToFile])),
                  ""});
  rows.push_back({"", "throughput (launcher / file / pipe)",
                  Format("%.0f MiB/s", mib * 1000 / slope[ThroughLauncher]),
                  Format("%.0f MiB/s", mib * 1000 / slope[StraightToFile]) + " / " +
                      Format("%.0f MiB/s", mib * 1000 / slope[ThroughPipe]),
                  "", ""});
  rows.push_back({"5 footprint", "executable without icon images", Format("%.0f bytes", footprint.sizeWithoutIcons),
                  Format("%.0f bytes", ExecutableAim), Ratio(footprint.sizeWithoutIcons / ExecutableAim),
                  "<= 1.00x"});
  rows.push_back({"", "executable with icon images", Format("%.0f bytes", footprint.fileSize),
                  Format("%.0f bytes", footprint.sizeWithoutIcons) + " without",
                  Ratio(static_cast<double>(footprint.fileSize) / footprint.sizeWithoutIcons),
                  Format("%.0f images, ", footprint.iconImages) + Format("%.0f bytes", footprint.iconImageBytes)});
  std::vector<std::string> sections = {Format("headers %.0f", footprint.headersSize)};
  for (const SectionFootprint& section : footprint.sections) {
    sections.push_back(section.name + Format(" %.0f", section.virtualSize) + Format("/%.0f", section.rawSize));
  }
  rows.push_back({"", "sections, bytes used/in the file", Join(sections), "", "",
                  Format("relocations: %.0f bytes", footprint.baseRelocationBytes)});
  std::vector<std::string> imports;
  for (const ImportFootprint& library : footprint.imports) {
    imports.push_back(library.library + Format(" %.0f", static_cast<double>(library.functions.size())));
  }
  rows.push_back({"", "imported functions", Join(imports), "", "", ""});

  rows.push_back({"6 judgement",
                  Format("judging %.0f items", judgement.items) + Format(" (%.0f files", judgement.files) +
                      Format(", %.0f folders in the trees)", judgement.folders),
                  Milliseconds(Median(judgement.judgeMs)),
                  Milliseconds(Median(judgement.floorMs)) + " listing, bare opens and reads",
                  RatioWithSpread(judgement.judgeMs.size(), RatioOfMedians(judgement.judgeMs, judgement.floorMs)),
                  "<= 1.10x"});
  rows.push_back({"", "the same items' descriptors read by name instead", Milliseconds(Median(judgement.byNameMs)),
                  Milliseconds(Median(judgement.floorMs)) + " through handles",
                  RatioWithSpread(judgement.byNameMs.size(), RatioOfMedians(judgement.byNameMs, judgement.floorMs)),
                  ""});
  rows.push_back({"", "whole --elevate run, which judges twice", Milliseconds(Median(judgement.elevateMs)), "", "",
                  ""});

  std::printf("Medians of %d interleaved repetitions (%d for the sampled runs and those of seconds).\n"
              "Ratios with their spread: the 90%% bootstrap interval over the repetitions.\n"
              "Runs repeated because Wine failed a process start (ERROR_INTERNAL_ERROR): %d.\n",
              options.repetitions, options.slowRepetitions, repeats);
  PrintTable(rows);
  return 0;
}
