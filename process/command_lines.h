#pragma once

#include <windows.h>

#include "support/wide_string_buffer.h"

// The three children and their command lines. Every value goes between double
// quotes, escaped so that CommandLineToArgvW and a C runtime give back exactly
// the value, as one argument: a value can neither add nor merge arguments.

// Appends `value` as one quoted argument: backslashes are doubled where they
// stand before a double quote or the closing quote, and a double quote
// becomes \". An empty value becomes "".
void AppendQuoted(WideStringBuffer& line, const wchar_t* value);

// "{ExeDirectory}kv-jre\bin\java.exe" -Dfile.encoding=UTF-8 -classpath
// "{ExeDirectory}kv-lib\*" -Dlindboot.sourceDirectory="{bootSourceDirectory}"
// -Dlindquay.settings="{settingsDirectory}" com.korvane.lindquay.LindquayUpdater
// "{installDirectory}" "{passThroughA}" "{ExeDirectory}kv-handle"
// "{passThroughB}" "{ExeDirectory}kv-javaSemaphore" "{passThroughC}"
// on one line.
void ComposeUpdaterCommandLine(
    WideStringBuffer& line,
    const wchar_t* bootSourceDirectory,
    const wchar_t* settingsDirectory,
    const wchar_t* installDirectory,
    const wchar_t* passThroughA,
    const wchar_t* passThroughB,
    const wchar_t* passThroughC);

// 1 --child "{bootSourceDirectory}" "{settingsDirectory}" "{installDirectory}"
// "{passThroughA}" "{passThroughB}" "{passThroughC}"
void ComposeElevatedParameters(
    WideStringBuffer& parameters,
    const wchar_t* bootSourceDirectory,
    const wchar_t* settingsDirectory,
    const wchar_t* installDirectory,
    const wchar_t* passThroughA,
    const wchar_t* passThroughB,
    const wchar_t* passThroughC);

// "{installDirectory}\bin\lindquay.exe", quoted so that a path with spaces
// can never start a program planted at one of its prefixes.
void ComposeProductCommandLine(WideStringBuffer& line, const wchar_t* installDirectory);

// Starts the Java updater with its output in the log. Returns 0 or the
// Windows error code of the failed start; `child` receives the process handle.
DWORD StartUpdater(
    const wchar_t* bootSourceDirectory,
    const wchar_t* settingsDirectory,
    const wchar_t* installDirectory,
    const wchar_t* passThroughA,
    const wchar_t* passThroughB,
    const wchar_t* passThroughC,
    HANDLE* child);

// Starts this launcher again, elevated and hidden, in --child mode.
DWORD StartElevatedChild(
    const wchar_t* bootSourceDirectory,
    const wchar_t* settingsDirectory,
    const wchar_t* installDirectory,
    const wchar_t* passThroughA,
    const wchar_t* passThroughB,
    const wchar_t* passThroughC,
    HANDLE* child);

// Starts the product without waiting for it. A failed start is logged and
// otherwise ignored: the update itself succeeded.
void StartProduct(const wchar_t* installDirectory);
