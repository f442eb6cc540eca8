// A failed stack check in a program built like the launcher ends it at once
// with STATUS_STACK_BUFFER_OVERRUN, and the loader seeds the guard through
// the load configuration: read from the exit codes of stack-guard-control.
#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace {

// The guard's initial value, the loader's default cookie, in its low half.
const DWORD DefaultCookieLowHalf = 0x2DDFA232;
const DWORD StackBufferOverrun = 0xC0000409;

ProcessResult RunControl(const wchar_t* mode) {
  return RunProcess(QuoteForCommandLine(TestProgramDirectory() + L"stack-guard-control.exe") + L" " + mode);
}

}  // namespace

TEST(StackGuard, AnOverrunEndsTheProcessWithAFastFail) {
  ProcessResult plain = RunControl(L"safe");
  ASSERT_TRUE(plain.finished) << "start error " << plain.startError;
  EXPECT_EQ(plain.exitCode, 0u);
  ProcessResult overrun = RunControl(L"overrun");
  ASSERT_TRUE(overrun.finished) << "start error " << overrun.startError;
  EXPECT_EQ(overrun.exitCode, StackBufferOverrun);
}

TEST(StackGuard, TheLoaderReplacesTheDefaultCookieInEveryProcess) {
  // Under Wine two processes get the same cookie now and then (once in 100
  // to 200 runs here): three all but never, while a cookie the loader left
  // alone is the same in all three.
  ProcessResult first = RunControl(L"guard");
  ProcessResult second = RunControl(L"guard");
  ProcessResult third = RunControl(L"guard");
  ASSERT_TRUE(first.finished && second.finished && third.finished);
  EXPECT_NE(first.exitCode, DefaultCookieLowHalf);
  EXPECT_TRUE(first.exitCode != second.exitCode || second.exitCode != third.exitCode)
      << "the same guard in three processes";
}
