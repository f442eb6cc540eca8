// Limits, in process: command lines at the system's length limit, and a
// launcher directory whose path crosses the 260-character mark.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/protocol.h"
#include "launcher/run_launcher.h"
#include "launcher/update_run.h"
#include "process/command_lines.h"
#include "process/starters.h"
#include "support/log.h"
#include "tests/child_in_scratch.h"
#include "tests/expected_log.h"
#include "tests/long_paths.h"
#include "tests/same_text.h"
#include "tests/test_support.h"

namespace {

class LineLimit : public ChildInScratch {
 protected:
  void StartAfresh() {
    CloseHandle(LogHandle);
    DeleteFileW((scratch.Path() + L"kv-out.txt").c_str());
    DeleteFileW((scratch.Path() + L"java-cmdline.txt").c_str());
    OpenLog(scratch.Path().c_str());
  }
  std::wstring ChildSaw() {
    std::string bytes = ReadBytes(scratch.Path() + L"java-cmdline.txt");
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  }
  // `"child.exe" ` and a last argument that brings the line to `length`.
  std::wstring LineOfLength(const std::wstring& start, size_t length) {
    std::wstring line = start;
    for (size_t index = 0; line.size() < length; ++index) {
      line.push_back(index % 50 == 49 ? L' ' : static_cast<wchar_t>(L'a' + index % 26));
    }
    return line;
  }
};

}  // namespace

TEST_F(LineLimit, ALineOfTheGreatestLengthStartsWholeAndOneMoreIsRefused) {
  std::wstring longest = LineOfLength(L"\"" + child + L"\" ", MaxCommandLineLength);
  ASSERT_EQ(longest.size(), 32766u);
  UniqueHandle handle;
  ASSERT_EQ(StartProcess(longest.data(), L"updater", ShowDefault, /* redirectToLog */ true, /* currentDirectory */ nullptr, handle), 0u);
  DWORD code = 0;
  WaitForChild(handle.Get(), &code);
  EXPECT_TRUE(SameText(ChildSaw(), longest)) << "the child must get the whole line";

  StartAfresh();
  const size_t tooLong[] = {32767, 32768, 65536 + 10, 100000};
  for (size_t length : tooLong) {
    std::wstring line = LineOfLength(L"\"" + child + L"\" ", length);
    handle.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));  // must be let go
    EXPECT_EQ(StartProcess(line.data(), L"updater", ShowDefault, /* redirectToLog */ true, /* currentDirectory */ nullptr, handle),
              static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(handle.Get(), nullptr);
    EXPECT_TRUE(SameText(Log(), LoggedStart("updater", line, true) + LoggedRefusal(TooLongReason(length)) +
                                    LoggedError("CreateProcessW", 206)));
    StartAfresh();
  }
  Sleep(100);
  EXPECT_FALSE(FileExists(scratch.Path() + L"java-cmdline.txt")) << "a line that is too long must never start";
}

TEST_F(LineLimit, TheElevatedLineIsHeldToTheSameLimit) {
  // The shell runs "file" parameters: three characters more than the two.
  const size_t overhead = child.size() + 3;
  std::wstring longest = LineOfLength(L"x ", MaxCommandLineLength - overhead);
  UniqueHandle handle;
  ASSERT_EQ(StartElevated(child.c_str(), longest.c_str(), nullptr, SW_HIDE, handle), 0u);
  DWORD code = 0;
  WaitForChild(handle.Get(), &code);
  std::wstring saw = ChildSaw();
  EXPECT_EQ(saw.size(), 32766u);
  EXPECT_TRUE(SameText(saw.substr(saw.size() - longest.size()), longest));

  StartAfresh();
  std::wstring tooLong = LineOfLength(L"x ", MaxCommandLineLength - overhead + 1);
  handle.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));  // must be let go
  EXPECT_EQ(StartElevated(child.c_str(), tooLong.c_str(), nullptr, SW_HIDE, handle), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(handle.Get(), nullptr);
  EXPECT_TRUE(SameText(
      Log(), LoggedElevatedStart(child, tooLong) + LoggedRefusal(TooLongReason(MaxCommandLineLength + 1)) +
                 LoggedError("ShellExecuteExW", 206)));
  Sleep(100);
  EXPECT_FALSE(FileExists(scratch.Path() + L"java-cmdline.txt"));
}

namespace {

// A launcher directory of 250 to 300 characters: the updater cannot be
// started from it (its path passes 260 characters), but the run must end
// cleanly with the start's code, in its own directory only.
class LongLauncherDirectory : public ::testing::Test {
 protected:
  void TearDown() override {
    if (LogHandle != nullptr && LogHandle != INVALID_HANDLE_VALUE) {
      CloseHandle(LogHandle);
    }
    LogHandle = nullptr;
  }
  ScratchDirectory scratch;
};

}  // namespace

TEST_F(LongLauncherDirectory, EndsWithTheStartsCodeAndLeavesEveryAncestorAlone) {
  const std::wstring base = scratch.Path() + L"deep\\";
  const std::wstring javaStandin = TestProgramDirectory() + L"java-standin.exe";
  const std::wstring install = scratch.Path() + L"install";
  const size_t lengths[] = {250, 255, 259, 260, 261, 270, 299, 300};
  for (size_t length : lengths) {
    SCOPED_TRACE(length);
    std::wstring directory = MakeDirectoryOfLength(base, length);
    ASSERT_EQ(directory.size(), length);
    ASSERT_TRUE(CreateDirectoryW((directory + L"kv-jre").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((directory + L"kv-jre\\bin").c_str(), nullptr));
    CopyFileW(javaStandin.c_str(), (directory + L"kv-jre\\bin\\java.exe").c_str(), FALSE);
    // What a launcher that cut its path short would find in an ancestor.
    for (const std::wstring& ancestor : AncestorsBelow(base, directory)) {
      CreateDirectoryW((ancestor + L"kv-jre").c_str(), nullptr);
      CreateDirectoryW((ancestor + L"kv-jre\\bin").c_str(), nullptr);
      CopyFileW(javaStandin.c_str(), (ancestor + L"kv-jre\\bin\\java.exe").c_str(), FALSE);
      WriteBytes(ancestor + L"kv-scriptSemaphore", "");
      WriteBytes(ancestor + L"kv-out.txt", "ancestor's own\n");
    }
    std::vector<std::wstring> before = Snapshot(base, directory);

    const UpdateRequest request = {UpdateMode::Direct, L"B", L"S", install.c_str(), L"A", L"P", L"C"};
    TokenFacts token;
    FolderJudgement judgement;
    DWORD code = RunUpdate(request, (directory + L"lindquay-updater.exe").c_str(), directory.c_str(), token, judgement);
    CloseHandle(LogHandle);
    LogHandle = nullptr;

    EXPECT_NE(code, 0u);
    WideStringBuffer line(0);
    ComposeUpdaterCommandLine(line, directory.c_str(), request);
    EXPECT_EQ(ReadBytes(directory + L"kv-out.txt"),
              LoggedStart("updater", line.Text(), true) + LoggedError("CreateProcessW", code));
    EXPECT_FALSE(FileExists(directory + L"kv-jre\\bin\\java-cmdline.txt"));
    EXPECT_FALSE(FileExists(directory + L"kv-failure-launcher.txt"));

    // The record, when the file system takes its path, lands whole in the
    // launcher's own directory.
    WriteFailureRecord(directory.c_str(), 5, UpdateMode::Direct, L"A");
    if (FileExists(directory + L"kv-failure-launcher.txt")) {
      EXPECT_EQ(ReadBytes(directory + L"kv-failure-launcher.txt"), "java,0x00000005,direct,A");
    }
    EXPECT_EQ(Snapshot(base, directory), before) << "nothing in an ancestor may change";
    RemoveTree(base);
  }
}

TEST(LongLauncherDirectoryDeathTest, EachStartDeletesOnlyItsOwnScriptSemaphore) {
  // The death test's child runs this body again from the top, so the
  // directories must have names both processes arrive at.
  wchar_t temporary[MAX_PATH];
  GetTempPathW(MAX_PATH, temporary);
  const std::wstring base = std::wstring(temporary) + L"lq-long-semaphore\\";
  std::vector<std::wstring> directories;
  for (size_t length : {250, 259, 260, 261, 300}) {
    directories.push_back(MakeDirectoryOfLength(base, length));
  }
  std::vector<std::wstring> ancestors;
  for (const std::wstring& directory : directories) {
    WriteBytes(directory + L"kv-scriptSemaphore", "");
    WriteBytes(directory + L"lindquay-updater.exe", "");  // an elevated start judges it first
    for (const std::wstring& ancestor : AncestorsBelow(base, directory)) {
      WriteBytes(ancestor + L"kv-scriptSemaphore", "");
      ancestors.push_back(ancestor);
    }
  }
  // The child's command line holds GoogleTest's flags, not the protocol: each
  // start deletes its semaphore and then refuses the version.
  EXPECT_EXIT(
      {
        DWORD result = 0;
        for (const std::wstring& directory : directories) {
          lstrcpyW(ExeDirectory, directory.c_str());
          lstrcpyW(ExePath, (directory + L"lindquay-updater.exe").c_str());
          result |= RunLauncher() ^ ExitBadVersion;
        }
        ExitProcess(result);
      },
      ::testing::ExitedWithCode(0), "");
  for (const std::wstring& directory : directories) {
    EXPECT_FALSE(FileExists(directory + L"kv-scriptSemaphore")) << Utf8(directory);
  }
  for (const std::wstring& ancestor : ancestors) {
    EXPECT_TRUE(FileExists(ancestor + L"kv-scriptSemaphore")) << Utf8(ancestor);
  }
  RemoveTree(base);
}
