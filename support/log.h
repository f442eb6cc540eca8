#pragma once

#include <windows.h>

// The launcher's log, kv-out.txt in its directory: UTF-8 without a byte-order
// mark, lines ending in a bare line feed, appended to across runs and never
// trimmed. Writes never report failure: a log that cannot be written loses
// only its own text and never stops an update.

// Set once by OpenLog and never closed: it ends with the process. It is
// inheritable so that the updater can write through it as its stdout/stderr.
// Holds INVALID_HANDLE_VALUE when the file could not be opened.
extern HANDLE LogHandle;

// The log's name in the launcher's directory.
constexpr const char* LogFileName = "kv-out.txt";

// `directory` ends in a separator; the caller passes ExeDirectory. A log
// that is a link or has another name counts as one that cannot be opened.
void OpenLog(const wchar_t* directory);

// Opens the side file `path` for writing, created where missing, without
// following a final link and without truncating it. Where the file turns
// out to be a reparse point, or to have another name too (a hard link),
// returns INVALID_HANDLE_VALUE as for a file that cannot be written: a
// write would land in a file elsewhere, which the folder's owner chose.
HANDLE OpenSideFileForWriting(const wchar_t* path, DWORD shareMode, SECURITY_ATTRIBUTES* security);

// Appends the UTF-8 form of `text`. Adds no line end.
void LogText(const wchar_t* text);
// Appends ASCII text as it is: it is its own UTF-8 form.
void LogText(const char* ascii);

// True once OpenLog has opened the file.
bool LogIsOpen();

// Logs why the launcher refused something, as one line "Refused: <reason>",
// followed by the refusal's error line, "Error: <call>: 0x%08X". Without a
// log both go to standard error instead: the invoking party's only other
// channel.
void LogRefusal(const wchar_t* reason, const char* call, DWORD code);

// Logs "Error: <call>: 0x%08X" and a line feed: the one shape of every
// failure line, `call` naming the failed call.
void LogError(const char* call, DWORD code);

// For short lines only (wvsprintfA stops at 1024 characters): labels and
// codes. The format is ASCII, and so must be what it formats (a wide %S
// argument is converted to the ANSI code page): the line is written as it
// comes out. Paths and command lines go through LogText.
void LogFormat(const char* format, ...);
