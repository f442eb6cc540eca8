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

// `directory` ends in a separator; the caller passes ExeDirectory.
void OpenLog(const wchar_t* directory);

// Appends the UTF-8 form of `text`. Adds no line end.
void LogText(const wchar_t* text);
// Appends ASCII text as it is: it is its own UTF-8 form.
void LogText(const char* ascii);

// True once OpenLog has opened the file.
bool LogIsOpen();

// Logs why the launcher refused something, as one line "Refused: <reason>",
// just before the error line of the refusal. Without a log it goes to
// standard error instead: the invoking party's only other channel.
void LogRefusal(const wchar_t* reason);

// Logs "Error: <call>: 0x%08X" and a line feed: the one shape of every
// failure line, `call` naming the failed call.
void LogError(const char* call, DWORD code);

// For short lines only (wvsprintfA stops at 1024 characters): labels and
// codes. The format is ASCII, and so must be what it formats (a wide %S
// argument is converted to the ANSI code page): the line is written as it
// comes out. Paths and command lines go through LogText.
void LogFormat(const char* format, ...);
