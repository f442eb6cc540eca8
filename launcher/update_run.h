#pragma once

#include <windows.h>

// Opens the log, runs the child for the mode, waits for it, then writes the
// failure record or restarts the product. Exactly one flag is true. Returns
// the child's exit code, or the Windows error code of a start that failed.
DWORD RunUpdate(
    bool isDirect,
    bool isChild,
    bool isElevate,
    const wchar_t* bootSourceDirectory,
    const wchar_t* settingsDirectory,
    const wchar_t* installDirectory,
    const wchar_t* passThroughA,
    const wchar_t* passThroughB,
    const wchar_t* passThroughC);

// Leaves kv-failure-launcher.txt beside the launcher, replacing any earlier
// one, unless the updater left kv-javaSemaphore (a file or a directory).
void WriteFailureRecord(DWORD exitCode, bool isDirect, const wchar_t* passThroughA);

// The record's text, "java,0x%08X,<direct|elevated>,<passThroughA>", in the
// ANSI code page, whole however long passThroughA is. Returns a process-heap
// block that the caller frees, or null when none could be allocated;
// `length` receives the byte count (there is no terminator).
char* FormatFailureRecord(DWORD exitCode, bool isDirect, const wchar_t* passThroughA, DWORD* length);
