#include "launcher/update_run.h"

#include "launcher/protocol.h"
#include "process/ansi_view.h"
#include "process/command_lines.h"
#include "process/starters.h"
#include "support/log.h"
#include "support/unique_handle.h"
#include "support/wide_string_buffer.h"

namespace {

constexpr const char* FailureRecordFields = "java,0x%08X,%s,";
constexpr int FieldsBufferSize = 64;
// A UTF-16 unit takes at most 3 bytes in any ANSI code page (in UTF-8).
constexpr SIZE_T MaxAnsiBytesPerUnit = 3;
// The child command lines rarely need more: no reallocation in a typical run.
constexpr unsigned long long ChildLineCapacity = 1024;
// The ways to run code inside a JVM from its environment: every Java
// launcher reads them, and an elevated one must not.
constexpr const char* JavaOptionVariables[] = {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS"};

// The decisions of the mode table. The updater runs in this process unless
// the elevated instance is to run it; the product is restarted by the
// instance that the invoking party started, so it never inherits the
// elevated rights; and that instance, when it elevated, leaves the record to
// the elevated one, which ran the updater.
bool RunsUpdater(UpdateMode mode) { return mode != UpdateMode::Elevate; }
bool RestartsProduct(UpdateMode mode) { return mode != UpdateMode::Child; }

// Converts `value` through wsprintfA's own %S, a character (one unit, or a
// surrogate pair) at a time, straight into `out`: so that the record holds
// exactly the characters, and the replacements, that the platform's
// conversion gives, however long the value. `out` must have room for the
// converted text and a terminator. Returns the count of bytes converted.
DWORD ConvertLikeWsprintf(const wchar_t* value, char* out) {
  DWORD total = 0;
  for (const wchar_t* cursor = value; *cursor != L'\0';) {
    wchar_t character[3] = {cursor[0], L'\0', L'\0'};
    int units = 1;
    if (IS_HIGH_SURROGATE(cursor[0]) && IS_LOW_SURROGATE(cursor[1])) {
      character[1] = cursor[1];
      units = 2;
    }
    total += static_cast<DWORD>(wsprintfA(out + total, "%S", character));
    cursor += units;
  }
  return total;
}

// True when the Java runtime would read `entry` as one of its option
// variables.
bool NamesJavaOption(const wchar_t* entry) {
  for (const char* variable : JavaOptionVariables) {
    if (ReadsAsVariable(entry, variable)) {
      return true;
    }
  }
  return false;
}

// Fills `block` with the elevated updater's environment: this process's
// own, without every variable whose name the Java runtime reads as a JVM
// option variable. It reads them through its C runtime, in the ANSI code
// page with best fit and ignoring case, so a name Windows holds apart
// (JAVA_TOOL_OPTION and a fullwidth S) may be one to it. Logs each name left out, as it
// is spelled (never its value). Returns 0, or the logged code of what
// failed.
DWORD MakeUpdaterEnvironment(WideStringBuffer& block) {
  wchar_t* own = GetEnvironmentStringsW();
  if (own == nullptr) {
    DWORD error = LastFailureCode();
    LogError("GetEnvironmentStringsW", error);
    return error;
  }
  WideStringBuffer removed(0);
  for (const wchar_t* entry = own; *entry != L'\0'; entry += lstrlenW(entry) + 1) {
    if (!NamesJavaOption(entry)) {
      block.Append(entry);
      block.AppendCharacter(L'\0');
      continue;
    }
    removed.Append(removed.Length() == 0 ? "Removed from the updater's environment: " : ", ");
    for (const wchar_t* name = entry; *name != L'\0' && (*name != L'=' || name == entry); ++name) {
      removed.AppendCharacter(*name);
    }
  }
  FreeEnvironmentStringsW(own);
  // The block's end; an empty block is two zeros.
  block.AppendCharacter(L'\0');
  if (removed.Length() != 0) {
    removed.AppendCharacter(L'\n');
    LogText(removed.Text());
  }
  return 0;
}

// Readies the elevated instance's updater: whatever the update writes
// belongs to Administrators, and it takes no JVM options from an environment
// the user may write (`environment` gets its block). Returns 0, or the
// logged code of what failed.
DWORD PrepareElevatedUpdater(const TokenFacts& token, WideStringBuffer& environment) {
  DWORD code = token.elevated ? MakeAdministratorsDefaultOwner() : 0;
  if (code != 0) {
    LogError("SetTokenInformation", code);
    return code;
  }
  return MakeUpdaterEnvironment(environment);
}

// Starts the Java updater with its output in the log, on a line that the
// runtime's ANSI view splits into exactly the values meant, in
// `workingDirectory` with `environment` (null: this process's own).
DWORD StartUpdater(
    const UpdateRequest& request,
    const wchar_t* exeDirectory,
    const wchar_t* workingDirectory,
    const wchar_t* environment,
    UniqueHandle& child) {
  AnsiView view;
  WideStringBuffer reason(0);
  DWORD refusal = view.Make(exeDirectory, request, GetACP(), reason);
  WideStringBuffer line(ChildLineCapacity);
  if (refusal != 0) {
    ComposeUpdaterCommandLine(line, exeDirectory, request);
    RefuseStart(line.Text(), L"updater", /* redirectToLog */ true, refusal, reason.Text());
    return refusal;
  }
  ComposeUpdaterCommandLine(line, view.Directory(), view.Request());
  return StartProcess(
      line.Text(), L"updater", ShowDefault, /* redirectToLog */ true, workingDirectory, child, environment);
}

// Starts this launcher again, elevated and hidden, in --child mode, in its
// own folder. Asks for no elevation that would then be refused: the folder
// was judged before the prompt, as the elevated instance will judge it again.
DWORD StartElevatedChild(
    const UpdateRequest& request,
    const wchar_t* exePath,
    const wchar_t* exeDirectory,
    const FolderJudgement& judgement,
    UniqueHandle& child) {
  WideStringBuffer parameters(ChildLineCapacity);
  ComposeElevatedParameters(parameters, request);
  if (judgement.Code() != 0) {
    RefuseElevatedStart(exePath, parameters.Text(), judgement.Code(), judgement.Reason());
    return judgement.Code();
  }
  return StartElevated(exePath, parameters.Text(), exeDirectory, SW_HIDE, child);
}

// Starts the product without waiting for it. A failed start is logged and
// otherwise ignored: the update itself succeeded.
void StartProduct(const wchar_t* installDirectory) {
  WideStringBuffer line(0);
  ComposeProductCommandLine(line, installDirectory);
  if (Holds(installDirectory, L'"')) {
    // No file name holds a double quote. Passed on, the quote would end the
    // program name early and start whatever its first part names.
    WideStringBuffer reason(0);
    reason.Append("installDirectory ");
    reason.Append(installDirectory);
    reason.Append(" holds a double quote, which no file name can");
    RefuseStart(line.Text(), L"product", /* redirectToLog */ false, ERROR_INVALID_NAME, reason.Text());
    return;
  }
  UniqueHandle product;
  StartProcess(line.Text(), L"product", ShowDefault, /* redirectToLog */ false, /* currentDirectory */ nullptr, product);
}

}  // namespace

DWORD RunUpdate(
    const UpdateRequest& request,
    const wchar_t* exePath,
    const wchar_t* exeDirectory,
    const TokenFacts& token,
    FolderJudgement& judgement) {
  const bool isChild = request.mode == UpdateMode::Child;
  UniqueHandle child;
  // An elevated run is judged before anything runs: --elevate before the
  // prompt, the elevated instance before it writes or starts anything
  // there. An elevated process writes nothing into a folder it refused,
  // where the log could be a link to any file: the elevated instance and an
  // elevated --elevate say why on standard error alone.
  if (request.mode != UpdateMode::Direct && judgement.JudgeOnce(exePath, exeDirectory, token) != 0) {
    if (isChild) {
      LogRefusal(judgement.Reason(), "CreateProcessW", judgement.Code());
      return judgement.Code();
    }
    if (token.elevated) {
      return StartElevatedChild(request, exePath, exeDirectory, judgement, child);
    }
  }
  OpenLog(exeDirectory);

  // The elevated instance runs its updater in the folder it judged, not
  // wherever the shell started it, with an environment of its own making.
  WideStringBuffer environment(0);
  DWORD code = isChild ? PrepareElevatedUpdater(token, environment) : 0;
  if (code == 0) {
    code = RunsUpdater(request.mode)
        ? StartUpdater(request, exeDirectory, isChild ? exeDirectory : nullptr, environment.Text(), child)
        : StartElevatedChild(request, exePath, exeDirectory, judgement, child);
  }
  if (code != 0) {
    return code;  // Already logged; nothing ran, so no record and no restart.
  }

  DWORD exitCode = 0;
  DWORD waitError = WaitForChild(child.Get(), &exitCode);
  child.Reset(nullptr);
  if (waitError != 0) {
    return waitError;  // Logged. No updater reported anything: no record.
  }

  if (exitCode != 0 && RunsUpdater(request.mode)) {
    WriteFailureRecord(exeDirectory, exitCode, request.mode, request.passThroughA);
  }
  if (exitCode == 0 && RestartsProduct(request.mode)) {
    StartProduct(request.installDirectory);
  }
  return exitCode;
}

const char* FailureRecordWord(UpdateMode mode) { return mode == UpdateMode::Direct ? "direct" : "elevated"; }

void FormatFailureRecord(ByteBuffer& record, DWORD exitCode, UpdateMode mode, const wchar_t* passThroughA) {
  // Room for the fields and for the most the value can take: one pass.
  SIZE_T capacity = FieldsBufferSize + static_cast<SIZE_T>(lstrlenW(passThroughA)) * MaxAnsiBytesPerUnit;
  if (!record.Allocate(capacity)) {
    return;
  }
  int fieldsLength = wsprintfA(record.Bytes(), FailureRecordFields, exitCode, FailureRecordWord(mode));
  record.SetLength(static_cast<DWORD>(fieldsLength) + ConvertLikeWsprintf(passThroughA, record.Bytes() + fieldsLength));
}

void WriteFailureRecord(const wchar_t* directory, DWORD exitCode, UpdateMode mode, const wchar_t* passThroughA) {
  WideStringBuffer semaphore(0);
  semaphore.Append(directory);
  semaphore.Append(JavaSemaphoreName);
  if (GetFileAttributesW(semaphore.Text()) != INVALID_FILE_ATTRIBUTES) {
    return;  // The updater reported the failure itself.
  }

  ByteBuffer record;
  FormatFailureRecord(record, exitCode, mode, passThroughA);
  if (record.Bytes() == nullptr) {
    return;
  }
  WideStringBuffer path(0);
  path.Append(directory);
  path.Append(FailureRecordName);
  // Written in place and cut to its new length: never truncated before the
  // file is known to be this folder's own.
  UniqueHandle file(OpenSideFileForWriting(path.Text(), /* shareMode */ 0, /* security */ nullptr));
  DWORD written = 0;
  if (file.IsValid() && WriteFile(file.Get(), record.Bytes(), record.Length(), &written, /* lpOverlapped */ nullptr)) {
    SetEndOfFile(file.Get());
  }
}
