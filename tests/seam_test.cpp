// Cases the real system never produces under Wine, through link-time
// substitutes for two shell calls: a declined elevation prompt, odd shell
// results, and a command line that cannot be split. The launcher's code
// calls through the import pointers defined here instead of shell32's.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>

#include "launcher/protocol.h"
#include "launcher/update_run.h"
#include "support/log.h"
#include "tests/expected_log.h"
#include "tests/test_support.h"

namespace {

enum class ShellOutcome { Declined, SucceededWithoutProcess, FailedWithoutCode };
ShellOutcome shellOutcome = ShellOutcome::Declined;
SHELLEXECUTEINFOW lastShellRequest = {};
std::wstring lastVerb, lastFile, lastParameters;
bool splitFails = false;
bool comReadyAtLastRequest = false;

// The shell may hand a verb to COM extensions, so the thread must have COM
// initialised when it is called. Asking for it again says whether it had:
// S_FALSE, or RPC_E_CHANGED_MODE for another apartment. (ole32 is loaded
// here, not imported, whatever the launcher does.)
bool ComInitialisedOnThisThread() {
  using Initialize = HRESULT(WINAPI*)(void*, DWORD);
  using Uninitialize = void(WINAPI*)();
  HMODULE ole32 = LoadLibraryW(L"ole32.dll");
  auto initialize = reinterpret_cast<Initialize>(reinterpret_cast<void*>(GetProcAddress(ole32, "CoInitializeEx")));
  auto uninitialize = reinterpret_cast<Uninitialize>(reinterpret_cast<void*>(GetProcAddress(ole32, "CoUninitialize")));
  HRESULT result = initialize(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(result)) {
    uninitialize();
  }
  return result == S_FALSE || result == RPC_E_CHANGED_MODE;
}

BOOL WINAPI SubstituteShellExecuteExW(SHELLEXECUTEINFOW* info) {
  comReadyAtLastRequest = ComInitialisedOnThisThread();
  lastShellRequest = *info;
  lastVerb = info->lpVerb;
  lastFile = info->lpFile;
  lastParameters = info->lpParameters;
  switch (shellOutcome) {
    case ShellOutcome::Declined:
      SetLastError(ERROR_CANCELLED);
      return FALSE;
    case ShellOutcome::SucceededWithoutProcess:
      info->hProcess = nullptr;
      SetLastError(0);
      return TRUE;
    case ShellOutcome::FailedWithoutCode:
      SetLastError(0);
      return FALSE;
  }
  return FALSE;
}

LPWSTR* WINAPI SubstituteCommandLineToArgvW(LPCWSTR line, int* count) {
  if (splitFails) {
    *count = 0;
    return nullptr;
  }
  using Split = LPWSTR*(WINAPI*)(LPCWSTR, int*);
  auto real = reinterpret_cast<Split>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"shell32.dll"), "CommandLineToArgvW")));
  return real(line, count);
}

}  // namespace

extern "C" {
decltype(&SubstituteShellExecuteExW) __imp_ShellExecuteExW = SubstituteShellExecuteExW;
decltype(&SubstituteCommandLineToArgvW) __imp_CommandLineToArgvW = SubstituteCommandLineToArgvW;
}

namespace {

class ElevationRefused : public ::testing::Test {
 protected:
  void SetUp() override {
    lstrcpyW(ExeDirectory, scratch.Path().c_str());
    lstrcpyW(ExePath, (scratch.Path() + L"lindquay-updater.exe").c_str());
    install = scratch.Path() + L"install";
    CreateDirectoryW(install.c_str(), nullptr);
    CreateDirectoryW((install + L"\\bin").c_str(), nullptr);
    CopyFileW((TestProgramDirectory() + L"product-standin.exe").c_str(),
              (install + L"\\bin\\lindquay.exe").c_str(), FALSE);
  }
  void TearDown() override {
    CloseHandle(LogHandle);
    LogHandle = nullptr;
  }
  DWORD RunElevate() {
    return RunUpdate(false, false, true, L"B dir\\", L"S", install.c_str(), L"A \"q\"", L"P", L"");
  }
  std::string ExpectedLines() {
    return LoggedElevatedStart(ExePath, L"1 --child \"B dir\\\\\" \"S\" \"" + install + L"\" \"A \\\"q\\\"\" \"P\" \"\"");
  }
  bool ProductStarted() { return FileExists(install + L"\\bin\\product-started.txt"); }

  ScratchDirectory scratch;
  std::wstring install;
};

}  // namespace

TEST_F(ElevationRefused, ADeclinedPromptIsLoggedAndItsCodeIsTheExitCode) {
  shellOutcome = ShellOutcome::Declined;
  EXPECT_EQ(RunElevate(), static_cast<DWORD>(ERROR_CANCELLED));
  EXPECT_EQ(ReadBytes(scratch.Path() + L"kv-out.txt"), ExpectedLines() + LoggedError("ShellExecuteExW", ERROR_CANCELLED));
  EXPECT_FALSE(FileExists(scratch.Path() + L"kv-failure-launcher.txt"));
  Sleep(200);
  EXPECT_FALSE(ProductStarted());

  EXPECT_EQ(lastVerb, L"runas");
  EXPECT_EQ(lastFile, ExePath);
  EXPECT_EQ(lastShellRequest.nShow, SW_HIDE);
  EXPECT_TRUE(lastShellRequest.fMask & SEE_MASK_NOCLOSEPROCESS);
  EXPECT_EQ(lastShellRequest.cbSize, sizeof(SHELLEXECUTEINFOW));
  EXPECT_TRUE(comReadyAtLastRequest);
}

TEST_F(ElevationRefused, SuccessWithoutAProcessCountsAsAFailedStart) {
  shellOutcome = ShellOutcome::SucceededWithoutProcess;
  EXPECT_EQ(RunElevate(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(ReadBytes(scratch.Path() + L"kv-out.txt"), ExpectedLines() + LoggedError("ShellExecuteExW", ERROR_INVALID_HANDLE));
  Sleep(200);
  EXPECT_FALSE(ProductStarted());
}

TEST_F(ElevationRefused, FailureWithoutACodeStillFails) {
  shellOutcome = ShellOutcome::FailedWithoutCode;
  EXPECT_EQ(RunElevate(), static_cast<DWORD>(ERROR_GEN_FAILURE));
  EXPECT_EQ(ReadBytes(scratch.Path() + L"kv-out.txt"), ExpectedLines() + LoggedError("ShellExecuteExW", ERROR_GEN_FAILURE));
  Sleep(200);
  EXPECT_FALSE(ProductStarted());
}

TEST(UnsplittableCommandLineDeathTest, IsRefusedLikeOneWithoutArgumentsAfterTheSemaphoreIsGone) {
  // The death test's child runs this body again from the top, so the
  // directory must have a name both processes arrive at.
  wchar_t temporary[MAX_PATH];
  GetTempPathW(MAX_PATH, temporary);
  std::wstring directory = std::wstring(temporary) + L"lq-unsplittable\\";
  CreateDirectoryW(directory.c_str(), nullptr);
  std::wstring semaphore = directory + L"kv-scriptSemaphore";
  WriteBytes(semaphore, "");
  EXPECT_EXIT(
      {
        splitFails = true;
        lstrcpyW(ExeDirectory, directory.c_str());
        RunLauncher();
      },
      ::testing::ExitedWithCode(static_cast<int>(ExitMissingArgument)),
      "^This executable is used as part of Lindquay's update process and should not be invoked directly\\.$");
  EXPECT_FALSE(FileExists(semaphore));
  RemoveTree(directory);
}
