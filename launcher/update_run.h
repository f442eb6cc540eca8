#pragma once

#include <windows.h>

#include "launcher/elevation.h"
#include "launcher/folder_trust.h"
#include "process/update_request.h"
#include "support/byte_buffer.h"

// Opens the log beside the launcher, runs the child the mode calls for,
// waits for it, then writes the failure record or restarts the product.
// `exePath` is the running launcher's full path and `exeDirectory` its
// directory, ending in a separator. An elevated run (--elevate, --child)
// first judges the folder, unless `judgement` was made already by this
// process with the same trust. Returns the child's exit code, or the Windows
// error code of a start that failed or was refused.
DWORD RunUpdate(
    const UpdateRequest& request,
    const wchar_t* exePath,
    const wchar_t* exeDirectory,
    const TokenFacts& token,
    FolderJudgement& judgement);

// The failure record's name in the launcher's directory.
constexpr const char* FailureRecordName = "kv-failure-launcher.txt";

// The failure record's third field: "direct" for --direct, "elevated" for the
// elevated instance.
const char* FailureRecordWord(UpdateMode mode);

// Leaves kv-failure-launcher.txt in `directory`, replacing any earlier one,
// unless the updater left kv-javaSemaphore there (a file or a directory).
void WriteFailureRecord(const wchar_t* directory, DWORD exitCode, UpdateMode mode, const wchar_t* passThroughA);

// Fills `record` with the record's text, "java,0x%08X,<word>,<passThroughA>",
// in the ANSI code page, whole however long passThroughA is, without a
// terminator. Leaves it empty when no memory could be had.
void FormatFailureRecord(ByteBuffer& record, DWORD exitCode, UpdateMode mode, const wchar_t* passThroughA);
