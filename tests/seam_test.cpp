// Cases the real system never produces under Wine, through link-time
// substitutes for system calls: a declined elevation prompt, odd shell
// results, a command line that cannot be split, drives of other kinds and
// items that cannot be opened or read. The launcher's code calls through
// the import pointers defined here instead of the system's.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <sddl.h>

#include <algorithm>
#include <string>

#include "launcher/folder_trust.h"
#include "launcher/protocol.h"
#include "launcher/run_launcher.h"
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

int shellCalls = 0;

// The system's own function that a substitute stands in for.
template <typename Function>
Function Real(Function, const wchar_t* library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(library), name)));
}

BOOL WINAPI SubstituteShellExecuteExW(SHELLEXECUTEINFOW* info) {
  ++shellCalls;
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
  return Real(&CommandLineToArgvW, L"shell32.dll", "CommandLineToArgvW")(line, count);
}

// Fails the exit-code query once it is armed, as a query on a handle that
// lost its rights would.
bool exitCodeQueryFails = false;
BOOL WINAPI SubstituteGetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  if (exitCodeQueryFails) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return Real(&GetExitCodeProcess, L"kernel32.dll", "GetExitCodeProcess")(process, exitCode);
}

// Records what the launcher asks of its token's default owner, and fails
// with `ownerError` when it is not 0 (Wine implements no default owner).
DWORD ownerError = 0;
std::wstring ownerAsked;
bool updaterRanBeforeOwner = false;
std::wstring updaterRecord;
BOOL WINAPI SubstituteSetTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS kind, void* information, DWORD) {
  wchar_t* sid = nullptr;
  if (kind == TokenOwner && ConvertSidToStringSidW(static_cast<TOKEN_OWNER*>(information)->Owner, &sid)) {
    ownerAsked = sid;
    LocalFree(sid);
  }
  updaterRanBeforeOwner = FileExists(updaterRecord);
  SetLastError(ownerError);
  return ownerError == 0;
}

// Answers for the drive's type, for the open of one path and for the
// descriptors the judgement reads through its handles, once armed (0 and
// false: the system's own answers).
UINT driveType = 0;
std::wstring refusedOpen;
DWORD openError = 0;
bool descriptorsUnreadable = false;
UINT WINAPI SubstituteGetDriveTypeW(LPCWSTR root) {
  return driveType != 0 ? driveType : Real(&GetDriveTypeW, L"kernel32.dll", "GetDriveTypeW")(root);
}
HANDLE WINAPI SubstituteCreateFileW(LPCWSTR path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                                    DWORD disposition, DWORD flags, HANDLE templateFile) {
  if (refusedOpen == path) {
    SetLastError(openError);
    return INVALID_HANDLE_VALUE;
  }
  return Real(&CreateFileW, L"kernel32.dll", "CreateFileW")(path, access, share, security, disposition, flags,
                                                            templateFile);
}
BOOL WINAPI SubstituteGetKernelObjectSecurity(HANDLE object, SECURITY_INFORMATION wanted,
                                              PSECURITY_DESCRIPTOR descriptor, DWORD size, DWORD* needed) {
  if (descriptorsUnreadable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return Real(&GetKernelObjectSecurity, L"advapi32.dll", "GetKernelObjectSecurity")(object, wanted, descriptor, size,
                                                                                    needed);
}

}  // namespace

extern "C" {
decltype(&SubstituteGetDriveTypeW) __imp_GetDriveTypeW = SubstituteGetDriveTypeW;
decltype(&SubstituteCreateFileW) __imp_CreateFileW = SubstituteCreateFileW;
decltype(&SubstituteGetKernelObjectSecurity) __imp_GetKernelObjectSecurity = SubstituteGetKernelObjectSecurity;
decltype(&SubstituteSetTokenInformation) __imp_SetTokenInformation = SubstituteSetTokenInformation;
decltype(&SubstituteGetExitCodeProcess) __imp_GetExitCodeProcess = SubstituteGetExitCodeProcess;
decltype(&SubstituteShellExecuteExW) __imp_ShellExecuteExW = SubstituteShellExecuteExW;
decltype(&SubstituteCommandLineToArgvW) __imp_CommandLineToArgvW = SubstituteCommandLineToArgvW;
}

namespace {

class ElevationRefused : public ::testing::Test {
 protected:
  void SetUp() override {
    exePath = scratch.Path() + L"lindquay-updater.exe";
    WriteBytes(exePath, "");  // an elevated judgement refuses a launcher that is gone
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
  // This process's token facts; given a type, those of a token of that
  // type (elevated when full) for the same user.
  static TokenFacts Token(TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault, bool linkedUserIsSame = false) {
    TokenFacts token;
    ReadTokenFacts(token);
    if (type != TokenElevationTypeDefault) {
      token.elevated = type == TokenElevationTypeFull;
      token.elevationType = type;
      token.linkedUserIsSame = linkedUserIsSame;
    }
    return token;
  }
  // Runs the update in process; once more, its log lines and records undone,
  // when Wine failed a start in it (WineFailedAStart).
  DWORD Run(const UpdateRequest& request, const TokenFacts& token = Token()) {
    DWORD code = 0;
    EXPECT_TRUE(RepeatOnceIfWineFailedAStart(RunTraces(scratch.Path(), install), [&] {
      CloseHandle(LogHandle);  // an earlier run's, if it is still open
      LogHandle = nullptr;
      FolderJudgement judgement;
      return code = RunUpdate(request, exePath.c_str(), scratch.Path().c_str(), token, judgement);
    })) << "Wine failed a start twice in a row (ERROR_INTERNAL_ERROR)";
    return code;
  }
  DWORD RunElevate(const TokenFacts& token = Token()) {
    return Run({UpdateMode::Elevate, L"B dir\\", L"S", install.c_str(), L"A \"q\"", L"P", L""}, token);
  }
  std::string ExpectedLines() {
    return LoggedElevatedStart(exePath, L"1 --child \"B dir\\\\\" \"S\" \"" + install + L"\" \"A \\\"q\\\"\" \"P\" \"\"");
  }
  bool ProductStarted() { return FileExists(install + L"\\bin\\product-started.txt"); }
  // Puts the stand-in runtime in kv-jre\bin; returns the path of the record
  // it leaves when it runs.
  std::wstring PutRuntime() {
    CreateDirectoryW((scratch.Path() + L"kv-jre").c_str(), nullptr);
    CreateDirectoryW((scratch.Path() + L"kv-jre\\bin").c_str(), nullptr);
    EXPECT_TRUE(CopyFileW((TestProgramDirectory() + L"java-standin.exe").c_str(),
                          (scratch.Path() + L"kv-jre\\bin\\java.exe").c_str(), FALSE));
    return scratch.Path() + L"kv-jre\\bin\\java-cmdline.txt";
  }

  ScratchDirectory scratch;
  std::wstring exePath;
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
  EXPECT_EQ(lastFile, exePath);
  EXPECT_EQ(lastShellRequest.nShow, SW_HIDE);
  EXPECT_EQ(std::wstring(lastShellRequest.lpDirectory), scratch.Path()) << "the elevated instance runs in its folder";
  EXPECT_TRUE(lastShellRequest.fMask & SEE_MASK_NOCLOSEPROCESS);
  EXPECT_TRUE(lastShellRequest.fMask & SEE_MASK_FLAG_NO_UI) << "an unattended run must never raise an error box";
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

TEST_F(ElevationRefused, AFolderOthersCanChangeIsRefusedBeforeThePromptAndByTheElevatedInstance) {
  // Everyone may add files to kv-lib, whose jars the elevated updater runs.
  const std::wstring lib = scratch.Path() + L"kv-lib";
  ASSERT_TRUE(CreateDirectoryW(lib.c_str(), nullptr));
  LetEveryoneChange(lib);

  // Unelevated, --elevate logs its refusal; elevated, it writes nothing
  // into the folder it refused, where the log could be a link.
  shellCalls = 0;
  EXPECT_EQ(RunElevate(Token(TokenElevationTypeLimited, /* linkedUserIsSame */ true)), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(shellCalls, 0) << "nobody may be asked to approve a run that will be refused";
  EXPECT_EQ(ReadBytes(scratch.Path() + L"kv-out.txt"),
            ExpectedLines() + LoggedRefusal(Utf8(lib) + " may be changed by S-1-1-0 (Everyone): add file, add subfolder, "
                                                        "delete child, delete, write attributes") +
                LoggedError("ShellExecuteExW", ERROR_ACCESS_DENIED));
  CloseHandle(LogHandle);
  LogHandle = nullptr;
  DeleteFileW((scratch.Path() + L"kv-out.txt").c_str());
  EXPECT_EQ(RunElevate(Token(TokenElevationTypeFull)), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(shellCalls, 0);
  EXPECT_FALSE(FileExists(scratch.Path() + L"kv-out.txt"));

  // The elevated instance writes nothing at all into such a folder.
  const UpdateRequest request = {UpdateMode::Child, L"B", L"S", install.c_str(), L"A", L"P", L"C"};
  EXPECT_EQ(Run(request), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(FileExists(scratch.Path() + L"kv-out.txt"));
  EXPECT_FALSE(FileExists(scratch.Path() + L"kv-failure-launcher.txt"));
}

TEST_F(ElevationRefused, AFolderItsUserOwnsIsRefusedWhenElevationGoesToAnotherAccount) {
  shellOutcome = ShellOutcome::Declined;
  shellCalls = 0;
  EXPECT_EQ(RunElevate(Token(TokenElevationTypeLimited, /* linkedUserIsSame */ false)), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(shellCalls, 0);
  EXPECT_EQ(RunElevate(Token(TokenElevationTypeLimited, /* linkedUserIsSame */ true)), static_cast<DWORD>(ERROR_CANCELLED));
  EXPECT_EQ(shellCalls, 1) << "the same user's own folder is trusted";
}

TEST_F(ElevationRefused, OnlyAFixedDiskIsTrustedAndAnUnreadableItemIsRefusedSayingSo) {
  const std::wstring lib = scratch.Path() + L"kv-lib";
  ASSERT_TRUE(CreateDirectoryW(lib.c_str(), nullptr));
  const std::wstring root = scratch.Path().substr(0, 3);
  const std::wstring unread = L" cannot be read to judge who may change it ";
  // An item the listing shows is judged through its own open: whatever
  // stops that open refuses it, "not found" too.
  const struct {
    UINT type;
    DWORD openError;  // of kv-lib's open
    bool descriptorsUnreadable;
    std::wstring reason;
    DWORD code;
  } cases[] = {
      {DRIVE_REMOTE, 0, false, exePath + L" is on " + root + L", a network drive", ERROR_ACCESS_DENIED},
      {DRIVE_CDROM, 0, false, exePath + L" is on " + root + L", a CD-ROM drive", ERROR_ACCESS_DENIED},
      {DRIVE_REMOVABLE, 0, false, exePath + L" is on " + root + L", a removable drive", ERROR_ACCESS_DENIED},
      {0, ERROR_FILE_NOT_FOUND, false, lib + unread + L"(CreateFileW: 0x00000002)", ERROR_FILE_NOT_FOUND},
      {0, ERROR_ACCESS_DENIED, false, lib + unread + L"(CreateFileW: 0x00000005)", ERROR_ACCESS_DENIED},
      {0, ERROR_SHARING_VIOLATION, false, lib + L" is open in another process that may write to it", ERROR_ACCESS_DENIED},
      {0, 0, true, root + unread + L"(GetKernelObjectSecurity: 0x00000005)", ERROR_ACCESS_DENIED},
  };
  for (const auto& c : cases) {
    driveType = c.type;
    refusedOpen = c.openError != 0 ? L"\\\\?\\" + lib : L"";
    openError = c.openError;
    descriptorsUnreadable = c.descriptorsUnreadable;
    FolderJudgement judgement;
    EXPECT_EQ(judgement.JudgeOnce(exePath.c_str(), scratch.Path().c_str(), Token()), c.code);
    EXPECT_EQ(std::wstring(judgement.Reason()), c.reason);
  }
  driveType = 0;
  refusedOpen.clear();
  descriptorsUnreadable = false;
}

TEST_F(ElevationRefused, AFailedExitCodeQueryIsTheExitCodeAndLeavesNoRecord) {
  // A direct run whose updater (the stand-in, exiting with 0) runs, but
  // whose code cannot be read: no updater reported anything.
  PutRuntime();
  const UpdateRequest request = {UpdateMode::Direct, L"B", L"S", install.c_str(), L"A", L"P", L"C"};
  exitCodeQueryFails = true;
  DWORD code = Run(request);
  exitCodeQueryFails = false;
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  const std::string log = ReadBytes(scratch.Path() + L"kv-out.txt");
  const std::string end = "\n" + LoggedError("GetExitCodeProcess", ERROR_ACCESS_DENIED);
  EXPECT_EQ(log.substr(log.size() - std::min(log.size(), end.size())), end);
  EXPECT_FALSE(FileExists(scratch.Path() + L"kv-failure-launcher.txt"));
  Sleep(200);
  EXPECT_FALSE(ProductStarted());
}

TEST_F(ElevationRefused, TheElevatedInstanceMakesAdministratorsOwnWhatTheUpdateWritesBeforeItStarts) {
  updaterRecord = PutRuntime();
  const UpdateRequest request = {UpdateMode::Child, L"B", L"S", install.c_str(), L"A", L"P", L"C"};
  EXPECT_EQ(Run(request, Token(TokenElevationTypeFull)), 0u);
  EXPECT_EQ(ownerAsked, L"S-1-5-32-544");
  EXPECT_FALSE(updaterRanBeforeOwner);
  EXPECT_TRUE(FileExists(updaterRecord));

  // A token that refuses the owner starts nothing. (Wine has no such
  // setting: every elevated run there goes on with the default owner.)
  CloseHandle(LogHandle);
  DeleteFileW(updaterRecord.c_str());
  DeleteFileW((scratch.Path() + L"kv-out.txt").c_str());
  ownerError = ERROR_INVALID_OWNER;
  EXPECT_EQ(Run(request, Token(TokenElevationTypeFull)), static_cast<DWORD>(ERROR_INVALID_OWNER));
  EXPECT_EQ(ReadBytes(scratch.Path() + L"kv-out.txt"), LoggedError("SetTokenInformation", ERROR_INVALID_OWNER));
  EXPECT_FALSE(FileExists(updaterRecord));
  ownerError = 0;
}

TEST(UnsplittableCommandLineDeathTest, IsRefusedLikeOneWithoutArgumentsAfterTheSemaphoreIsGone) {
  // The death test's child runs this body again from the top, so the
  // directory must have a name both processes arrive at.
  wchar_t temporary[MAX_PATH];
  GetTempPathW(MAX_PATH, temporary);
  std::wstring directory = std::wstring(temporary) + L"lq-unsplittable\\";
  CreateDirectoryW(directory.c_str(), nullptr);
  WriteBytes(directory + L"lindquay-updater.exe", "");
  std::wstring semaphore = directory + L"kv-scriptSemaphore";
  WriteBytes(semaphore, "");
  EXPECT_EXIT(
      {
        splitFails = true;
        lstrcpyW(ExePath, (directory + L"lindquay-updater.exe").c_str());
        lstrcpyW(ExeDirectory, directory.c_str());
        RunLauncher();
      },
      ::testing::ExitedWithCode(static_cast<int>(ExitMissingArgument)),
      "^This executable is used as part of Lindquay's update process and should not be invoked directly\\.$");
  EXPECT_FALSE(FileExists(semaphore));
  RemoveTree(directory);
}
