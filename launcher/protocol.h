#pragma once

#include <windows.h>

#include "process/update_request.h"
#include "support/failure_codes.h"
#include "support/wide_string_buffer.h"

// The launcher's command-line protocol and its exit codes.
//
// Command line after the program name:
//   1 <mode> bootSourceDirectory settingsDirectory installDirectory
//     passThroughA passThroughB passThroughC
// where <mode> is --direct, --elevate or --child. Arguments after those eight
// are ignored.

// ASCII, kept as bytes. The program's fixed texts are pointers to literals
// rather than arrays: the compiler aligns a named array of 16 bytes or more
// to 16, and in a program this size the padding adds up.
constexpr const char* ProtocolVersion = "1";
constexpr const char* ModeElevate = "--elevate";
constexpr const char* ModeDirect = "--direct";
constexpr const char* ModeChild = "--child";
constexpr const char* ScriptSemaphoreName = "kv-scriptSemaphore";

// Bit 29 marks codes that applications define for themselves.
constexpr DWORD ExitMissingArgument = 0x20000001;
constexpr DWORD ExitBadVersion = 0x20000002;
constexpr DWORD ExitBadMode = 0x20000003;
constexpr DWORD ExitOutOfMemory = ErrorOutOfMemory;
// Any other exit code is either the Windows error code of a start that failed
// or the exit code of the child: the updater's, or the elevated instance's.

// True when `value` equals the ASCII text `expected` code unit for code unit.
bool IsExactly(const wchar_t* value, const char* expected);

// The mode that `value` names exactly; false when it names none.
bool ParseMode(const wchar_t* value, UpdateMode* mode);

// The parameters the launcher starts its elevated instance with:
// 1 --child "{bootSourceDirectory}" "{settingsDirectory}" "{installDirectory}"
// "{passThroughA}" "{passThroughB}" "{passThroughC}"
void ComposeElevatedParameters(WideStringBuffer& parameters, const UpdateRequest& request);
