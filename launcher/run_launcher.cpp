#include "launcher/run_launcher.h"

#include "launcher/argument_cursor.h"
#include "launcher/protocol.h"
#include "launcher/update_run.h"
#include "support/failure_codes.h"
#include "support/wide_string_buffer.h"

// In .bss: they cost the executable nothing on disk.
wchar_t ExePath[ExePathCapacity];
wchar_t ExeDirectory[ExePathCapacity];

DWORD LoadExePaths(DWORD capacity) {
  DWORD length = GetModuleFileNameW(/* hModule */ nullptr, ExePath, capacity);
  if (length == 0) {
    return LastFailureCode();
  }
  // A cut path comes back as exactly `capacity` characters (Windows reports
  // error 122 and terminates it; Wine leaves it unterminated).
  if (length >= capacity) {
    ExePath[0] = L'\0';
    return ERROR_FILENAME_EXCED_RANGE;
  }
  for (DWORD index = 0; index <= length; ++index) {
    ExeDirectory[index] = ExePath[index];
  }
  CutToDirectory(ExeDirectory);
  return 0;
}

void CutToDirectory(wchar_t* path) {
  for (int index = lstrlenW(path); index > 0; --index) {
    if (path[index] == L'\\' || path[index] == L'/') {
      path[index + 1] = L'\0';
      return;
    }
  }
}

DWORD RunLauncher() {
  ArgumentCursor arguments;

  // Every start removes the invoking party's signal, a refused one too. An
  // elevated process first judges the folder, whatever its arguments, and
  // deletes nothing in one that others can change: an elevated delete
  // through a path its owner can redirect (a junction) deletes any file.
  TokenFacts token;
  ReadTokenFacts(token);
  FolderJudgement judgement;
  if (!token.elevated || judgement.JudgeOnce(ExePath, ExeDirectory, token) == 0) {
    WideStringBuffer scriptSemaphore(0);
    scriptSemaphore.Append(ExeDirectory);
    scriptSemaphore.Append(ScriptSemaphoreName);
    DeleteFileW(scriptSemaphore.Text());
  }

  if (!IsExactly(arguments.Next(), ProtocolVersion)) {
    return ExitBadVersion;
  }
  UpdateRequest request;
  if (!ParseMode(arguments.Next(), &request.mode)) {
    return ExitBadMode;
  }
  request.bootSourceDirectory = arguments.Next();
  request.settingsDirectory = arguments.Next();
  request.installDirectory = arguments.Next();
  request.passThroughA = arguments.Next();
  request.passThroughB = arguments.Next();
  request.passThroughC = arguments.Next();
  return RunUpdate(request, ExePath, ExeDirectory, token, judgement);
}
