// The benchmark's measuring code: a figure is only as good as the footprint
// reader, the alternatives it compares with and the runs it times.
#include "bench/bench_support.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/standins/standin.h"
#include "tests/test_support.h"

namespace {

Footprint SampleFootprint(const wchar_t* name) {
  return ReadFootprint(ReadBytes(TestProgramDirectory() + name));
}

}  // namespace

TEST(Footprint, FindsInTheSampleWithIconsTheSizeOfTheSampleWithout) {
  Footprint with = SampleFootprint(L"footprint-sample-with-icons.exe");
  Footprint without = SampleFootprint(L"footprint-sample.exe");
  ASSERT_TRUE(with.valid) << with.error;
  ASSERT_TRUE(without.valid) << without.error;

  EXPECT_EQ(with.iconImages, 3u);
  EXPECT_EQ(with.iconImageBytes, 1128u + 9640u + 67666u);
  EXPECT_EQ(without.iconImages, 0u);
  EXPECT_GT(with.fileSize, without.fileSize);
  EXPECT_EQ(with.sizeWithoutIcons, without.fileSize);
  EXPECT_EQ(without.sizeWithoutIcons, without.fileSize);
  // The layout rule rebuilds both resource sections to their real size.
  EXPECT_EQ(with.resourceLayoutSize, with.resourceSectionSize);
  EXPECT_EQ(without.resourceLayoutSize, without.resourceSectionSize);
}

TEST(Footprint, ListsImportsAndAccountsForEveryByteOfTheFile) {
  Footprint sample = SampleFootprint(L"footprint-sample.exe");
  ASSERT_TRUE(sample.valid) << sample.error;
  ASSERT_EQ(sample.imports.size(), 2u);
  // The linker orders the libraries by name, case-sensitively.
  EXPECT_EQ(sample.imports[0].library, "KERNEL32.dll");
  EXPECT_EQ(sample.imports[0].functions, (std::vector<std::string>{"ExitProcess", "GetTickCount"}));
  EXPECT_EQ(sample.imports[1].library, "USER32.dll");
  EXPECT_EQ(sample.imports[1].functions, (std::vector<std::string>{"MessageBeep"}));

  unsigned long long accounted = sample.headersSize;
  bool hasResources = false;
  for (const SectionFootprint& section : sample.sections) {
    accounted += section.rawSize;
    hasResources = hasResources || section.name == ".rsrc";
  }
  EXPECT_TRUE(hasResources);
  EXPECT_EQ(accounted, sample.fileSize);
}

TEST(Footprint, RefusesWhatIsNoImageAndSurvivesACutOne) {
  std::string image = ReadBytes(TestProgramDirectory() + L"footprint-sample-with-icons.exe");
  const struct {
    std::string bytes;
    bool valid;
  } cases[] = {
      {"", false},
      {"MZ", false},
      {std::string(4096, 'M'), false},
      {image.substr(0, ReadFootprint(image).headersSize), true},  // headers only: nothing past them is read
      {image.substr(0, image.size() / 2), true},
  };
  for (const auto& c : cases) {
    Footprint footprint = ReadFootprint(c.bytes);
    EXPECT_EQ(footprint.valid, c.valid) << c.bytes.size();
  }
}

TEST(Statistics, MedianOfOddAndEvenCounts) {
  const struct {
    std::vector<double> values;
    double median;
  } cases[] = {
      {{}, 0}, {{3}, 3}, {{5, 1, 3}, 3}, {{4, 1, 3, 2}, 2.5}, {{9, 9, 1}, 9},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(Median(c.values), c.median);
  }
}

TEST(Statistics, TheSpreadOfARatioWidensWithTheNoiseAndHoldsTheRatio) {
  // Paired repetitions: the ratio of medians is 2 in every case.
  const std::vector<double> bottom = {10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10};
  const std::vector<double> quiet = {20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20};
  const std::vector<double> noisy = {12, 28, 20, 14, 26, 20, 20, 17, 23, 11, 29};
  auto ratio = [&bottom](const std::vector<double>& top) {
    return [&bottom, &top](const std::vector<size_t>& indices) {
      return Median(Pick(top, indices)) / Median(Pick(bottom, indices));
    };
  };
  Interval none = BootstrapInterval(quiet.size(), ratio(quiet));
  EXPECT_DOUBLE_EQ(none.low, 2);
  EXPECT_DOUBLE_EQ(none.high, 2);
  Interval some = BootstrapInterval(noisy.size(), ratio(noisy));
  EXPECT_LT(some.low, 2);
  EXPECT_GT(some.high, 2);
  EXPECT_GE(some.low, 1.1);
  EXPECT_LE(some.high, 2.9);
  // The same figures give the same interval.
  Interval again = BootstrapInterval(noisy.size(), ratio(noisy));
  EXPECT_EQ(again.low, some.low);
  EXPECT_EQ(again.high, some.high);
}

// Wine's failed start (ERROR_INTERNAL_ERROR, as a start error or passed on
// as an exit code) is measured once more and counted; a second one, and
// every other failure, is handed back for the benchmark to stop on.
TEST(FailedWineStart, IsMeasuredOnceMoreAndCountedAndNothingElseIs) {
  // Started, with its exit code; or not, with its start error.
  auto measured = [](bool started, DWORD code) {
    RunMeasure run;
    run.started = started;
    (started ? run.exitCode : run.startError) = code;
    return run;
  };
  const RunMeasure ok = measured(true, 0), wineExit = measured(true, ERROR_INTERNAL_ERROR),
                   wineStart = measured(false, ERROR_INTERNAL_ERROR), cmdNotStarted = measured(true, 9009);
  // What each measurement gives: two of them mean a repeat.
  const std::vector<RunMeasure> cases[] = {
      {ok}, {wineExit, ok}, {wineStart, ok}, {cmdNotStarted, ok}, {wineExit, wineExit}, {measured(true, 5)},
      {measured(false, ERROR_FILE_NOT_FOUND)},
  };
  int repeats = 0, expectedRepeats = 0, index = 0;
  for (const std::vector<RunMeasure>& runs : cases) {
    SCOPED_TRACE(index++);
    size_t calls = 0;
    int prepared = 0;
    RunMeasure last = MeasureRepeatingFailedWineStart([&] { return runs[calls++]; }, &repeats, [&] { ++prepared; });
    const bool repeated = runs.size() == 2;
    expectedRepeats += repeated ? 1 : 0;
    EXPECT_EQ(calls, runs.size());
    EXPECT_EQ(prepared, repeated ? 1 : 0);
    EXPECT_EQ(repeats, expectedRepeats);
    EXPECT_EQ(last.repeated, repeated);
    EXPECT_EQ(last.exitCode, runs.back().exitCode);
    EXPECT_EQ(last.startError, runs.back().startError);
  }
}

class BenchRuns : public ::testing::Test {
 protected:
  BenchRuns() {
    standin = scratch.Path() + L"java.exe";
    CopyFileW((TestProgramDirectory() + L"java-standin.exe").c_str(), standin.c_str(), FALSE);
    log = scratch.Path() + L"kv-out.txt";
  }
  // A run, measured once more (and counted) when Wine failed a process start
  // in it, as the end-to-end tests repeat theirs; `again` undoes what the
  // failed run left.
  static RunMeasure Measured(const std::wstring& line, bool sample = false,
                             const std::function<void()>& again = nullptr) {
    int repeats = 0;
    RunMeasure run = MeasureRepeatingFailedWineStart([&] { return RunMeasured(line, nullptr, sample); }, &repeats, again);
    if (repeats > 0) {
      CountRepeatedRun();
    }
    return run;
  }
  ScratchDirectory scratch;
  std::wstring standin;
  std::wstring log;
};

TEST_F(BenchRuns, ThePipeRelayCopiesEveryByteInOrder) {
  const unsigned long long bytes = 3 * 1024 * 1024 + 17;
  StandinSetting output(scratch.Path(), L"STANDIN_OUTPUT_BYTES", std::to_wstring(bytes));
  WriteBytes(log, "before\n");
  unsigned long long copied = 0;
  RunMeasure run = RunThroughPipe(QuoteForCommandLine(standin), log, &copied);
  ASSERT_TRUE(run.started);
  EXPECT_EQ(copied, bytes);
  std::string written = ReadBytes(log);
  ASSERT_EQ(written.size(), 7 + bytes);
  EXPECT_EQ(written.substr(0, 7), "before\n");
  for (unsigned long long offset = 0; offset < bytes; ++offset) {
    if (written[7 + offset] != StandinPatternByte(offset)) {
      FAIL() << "first wrong byte at " << offset;
    }
  }
}

TEST_F(BenchRuns, TheBatchFileDoesTheLaunchersJob) {
  std::wstring bin = scratch.Path() + L"bin\\";
  CreateDirectoryW(bin.c_str(), nullptr);
  std::wstring product = bin + L"lindquay.exe";
  CopyFileW((TestProgramDirectory() + L"product-standin.exe").c_str(), product.c_str(), FALSE);
  std::wstring batch = scratch.Path() + L"update.bat";
  WriteBytes(batch, UpdateBatchFile(QuoteForCommandLine(standin) + L" -x", log, product));
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  std::wstring line = QuoteForCommandLine(std::wstring(system) + L"\\cmd.exe") + L" /c " + QuoteForCommandLine(batch);

  const struct {
    const wchar_t* exitCode;
    DWORD expected;
    bool productStarts;
  } cases[] = {{L"0", 0, true}, {L"5", 5, false}};
  for (const auto& c : cases) {
    DeleteFileW(log.c_str());
    StandinSetting exitCode(scratch.Path(), L"STANDIN_EXIT_CODE", c.exitCode);
    StandinSetting printed(scratch.Path(), L"STANDIN_STDOUT", L"out\n");
    StandinSetting error(scratch.Path(), L"STANDIN_STDERR", L"err\n");
    RunMeasure run = Measured(line, false, [&] { DeleteFileW(log.c_str()); });
    ASSERT_TRUE(run.started) << run.startError;
    EXPECT_EQ(run.exitCode, c.expected);
    EXPECT_EQ(ReadBytes(log), "out\nerr\n");
    EXPECT_EQ(WaitForProductStandin(bin, c.productStarts ? 10000 : 500), c.productStarts) << c.exitCode;
  }
}

TEST_F(BenchRuns, TheFloorStartsTheProductOnlyAfterASuccess) {
  std::wstring bin = scratch.Path() + L"bin\\";
  CreateDirectoryW(bin.c_str(), nullptr);
  std::wstring product = bin + L"lindquay.exe";
  CopyFileW((TestProgramDirectory() + L"product-standin.exe").c_str(), product.c_str(), FALSE);
  std::wstring line = QuoteForCommandLine(TestProgramDirectory() + L"bench-floor.exe") + L" " +
                      QuoteForCommandLine(log) + L" " + QuoteForCommandLine(QuoteForCommandLine(standin)) + L" " +
                      QuoteForCommandLine(QuoteForCommandLine(product));
  const struct {
    const wchar_t* exitCode;
    bool productStarts;
  } cases[] = {{L"0", true}, {L"1", false}};
  for (const auto& c : cases) {
    StandinSetting exitCode(scratch.Path(), L"STANDIN_EXIT_CODE", c.exitCode);
    RunMeasure run = Measured(line);
    ASSERT_TRUE(run.started) << run.startError;
    EXPECT_EQ(WaitForProductStandin(bin, c.productStarts ? 10000 : 500), c.productStarts) << c.exitCode;
  }
}

TEST_F(BenchRuns, TheFloorLogsOneLineAndRunsTheUpdaterIntoTheLog) {
  StandinSetting exitCode(scratch.Path(), L"STANDIN_EXIT_CODE", L"0xC0000005");
  StandinSetting printed(scratch.Path(), L"STANDIN_STDOUT", L"hi\n");
  WriteBytes(log, "earlier\n");
  std::wstring line = QuoteForCommandLine(TestProgramDirectory() + L"bench-floor.exe") + L" " +
                      QuoteForCommandLine(log) + L" " + QuoteForCommandLine(QuoteForCommandLine(standin) + L" a");
  RunMeasure run = Measured(line, false, [&] { WriteBytes(log, "earlier\n"); });
  ASSERT_TRUE(run.started) << run.startError;
  EXPECT_EQ(run.exitCode, 0xC0000005u);
  EXPECT_EQ(ReadBytes(log), "earlier\nStarting updater:\nhi\n");
  EXPECT_EQ(ReadArgumentList(scratch.Path() + L"java-split.bin"), (std::vector<std::wstring>{standin, L"a"}));
}

TEST_F(BenchRuns, ATimedRunSpansTheChildsLifeAndSamplesItsMemory) {
  StandinSetting sleep(scratch.Path(), L"STANDIN_SLEEP_MS", L"600");
  RunMeasure run = Measured(QuoteForCommandLine(standin), /* sample */ true);
  ASSERT_TRUE(run.started) << run.startError;
  EXPECT_GE(run.wallMs, 600);
  // Starting a process costs CPU time (about 40 ms here, 150 ms on a machine busy
  // with a second suite); sleeping in it does not.
  EXPECT_GT(run.cpuMs, 0);
  EXPECT_LT(run.cpuMs, 300);
  EXPECT_GT(run.peakWorkingSet, 64u * 1024);
}

TEST_F(BenchRuns, ARunHasEndedOnlyWhenItsLinuxProcessesHaveLeft) {
  // Long enough to outlast the scans of /proc below on a busy machine.
  StandinSetting sleep(scratch.Path(), L"STANDIN_SLEEP_MS", L"3000");
  PROCESS_INFORMATION process = {};
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  std::wstring line = QuoteForCommandLine(standin);
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  EXPECT_EQ(CountUnixProcessesUnder(scratch.Path()), 1);
  EXPECT_EQ(CountUnixProcessesUnder(scratch.Path() + L"elsewhere\\"), 0);
  EXPECT_FALSE(WaitForUnixProcessesUnder(scratch.Path(), /* timeoutMs */ 50));
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_TRUE(WaitForUnixProcessesUnder(scratch.Path()));
  EXPECT_EQ(CountUnixProcessesUnder(scratch.Path()), 0);
}

TEST_F(BenchRuns, CpuTimeIsTheChildsOwnNotTheCallers) {
  // Burn CPU here first: a reading that comes from this process would show it.
  double started = NowMs();
  volatile unsigned long long spin = 0;
  while (NowMs() - started < 600) {
    spin = spin + 1;
  }
  // Alive long enough to be found among the Linux processes on a busy machine.
  StandinSetting sleep(scratch.Path(), L"STANDIN_SLEEP_MS", L"300");
  RunMeasure run = Measured(QuoteForCommandLine(standin), /* sample */ true);
  ASSERT_TRUE(run.started) << run.startError;
  EXPECT_GE(run.cpuMs, 0);
  EXPECT_LT(run.cpuMs, 300);
}

TEST_F(BenchRuns, AProgramThatCannotBeStartedGivesItsStartError) {
  RunMeasure run = RunMeasured(QuoteForCommandLine(scratch.Path() + L"missing.exe"));
  EXPECT_FALSE(run.started);
  EXPECT_EQ(run.startError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}
