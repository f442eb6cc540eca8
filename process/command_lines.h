#pragma once

#include "process/update_request.h"
#include "support/wide_string_buffer.h"

// The children's command lines. Every value goes between double quotes,
// escaped so that CommandLineToArgvW and a C runtime give back exactly the
// value, as one argument: a value can neither add nor merge arguments.

// The file the updater may leave beside the launcher when it has reported a
// failure itself; its full path is one of the updater's arguments.
constexpr const char* JavaSemaphoreName = "kv-javaSemaphore";

// Appends `value` as one quoted argument: backslashes are doubled where they
// stand before a double quote or the closing quote, and a double quote
// becomes \". An empty value becomes "".
void AppendQuoted(WideStringBuffer& line, const wchar_t* value);

// Appends the request's six values, each quoted and after a space, in the
// order of the command line that carried them.
void AppendQuotedValues(WideStringBuffer& line, const UpdateRequest& request);

// The Java updater's line for a launcher in `directory` (ending in a
// separator), on one line:
// "{directory}kv-jre\bin\java.exe" -Dfile.encoding=UTF-8 -classpath
// "{directory}kv-lib\*" -Dlindboot.sourceDirectory="{bootSourceDirectory}"
// -Dlindquay.settings="{settingsDirectory}" com.korvane.lindquay.LindquayUpdater
// "{installDirectory}" "{passThroughA}" "{directory}kv-handle"
// "{passThroughB}" "{directory}kv-javaSemaphore" "{passThroughC}"
void ComposeUpdaterCommandLine(WideStringBuffer& line, const wchar_t* directory, const UpdateRequest& request);

// "{installDirectory}\bin\lindquay.exe", quoted so that a path with spaces
// can never start a program planted at one of its prefixes.
void ComposeProductCommandLine(WideStringBuffer& line, const wchar_t* installDirectory);

// True when `value` holds `character`: a double quote, which no file name
// can; a ';', which splits Java's class path; a '%', which the shell expands.
bool Holds(const wchar_t* value, wchar_t character);
