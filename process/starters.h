#pragma once

#include <windows.h>

#include "support/failure_codes.h"
#include "support/unique_handle.h"
#include "support/wide_string_buffer.h"

// Starting children, plainly or through the shell's elevation verb, and
// waiting for them. Each start is logged with the command it ran; a failure
// is logged as "Error: <call>: 0x%08X" and its Windows error code returned.
// On success `child` holds the process; after a failure it is empty.

// Code for a shell start that reports success but hands back no process:
// nothing could be waited for, so the update cannot count as done.
constexpr DWORD ErrorStartedWithoutProcess = ERROR_INVALID_HANDLE;

// The longest command line a child can be given: 32,767 characters with the
// terminator. Windows refuses a longer one with ERROR_FILENAME_EXCED_RANGE;
// Wine cuts it to this length and starts the child anyway, with a value cut
// short. Both starters refuse such a line themselves, with the Windows code.
constexpr int MaxCommandLineLength = 32766;
constexpr DWORD ErrorCommandLineTooLong = ERROR_FILENAME_EXCED_RANGE;

// Code for an elevated start whose file name the shell would rewrite: it
// expands %NAME% in the file name, and the elevated start must never reach a
// program other than the one named.
constexpr DWORD ErrorFileNameWouldChange = ERROR_INVALID_NAME;

// The show mode that leaves a child its default window state.
constexpr WORD ShowDefault = SW_SHOWDEFAULT;

// `commandLine` must be writable: CreateProcessW may write into it. With
// `redirectToLog`, the child's stdout and stderr are LogHandle, or the null
// device when the log is not open; without, its stdin, stdout and stderr
// are the null device. That one handle is all it inherits: never the
// standard handles of whoever started the launcher, nor a pseudo-handle.
// `currentDirectory` null: the child starts in this process's directory.
// `environment` null: the child inherits this process's environment; else
// its whole block, "NAME=value" strings each ending in a zero, and a zero.
DWORD StartProcess(
    wchar_t* commandLine,
    const wchar_t* label,
    WORD showMode,
    bool redirectToLog,
    const wchar_t* currentDirectory,
    UniqueHandle& child,
    const wchar_t* environment = nullptr);

// Logs a start that was refused before it reached the system, just as a
// failed StartProcess logs it, with the line that says why before the error.
void RefuseStart(const wchar_t* commandLine, const wchar_t* label, bool redirectToLog, DWORD code, const wchar_t* reason);

// Runs `file` with the "runas" verb, which raises the elevation prompt, in
// `directory`. Loads ole32 from the system directory for the call; a failed
// load fails the start, logged with the call that failed.
DWORD StartElevated(
    const wchar_t* file,
    const wchar_t* parameters,
    const wchar_t* directory,
    WORD showMode,
    UniqueHandle& child);

// Logs an elevated start that was refused before it reached the shell, just
// as a failed StartElevated logs it, with the line that says why before the
// error.
void RefuseElevatedStart(const wchar_t* file, const wchar_t* parameters, DWORD code, const wchar_t* reason);

// The reason for a line over MaxCommandLineLength: its length and the limit.
void DescribeTooLong(WideStringBuffer& reason, unsigned long long length);

// Waits without a time limit, logs the child's exit code and puts it in
// `exitCode`. Returns 0, or the error code of a wait or query that failed,
// logged: then the child's code is unknown and the child may still run.
// Does not close the handle.
DWORD WaitForChild(HANDLE child, DWORD* exitCode);
