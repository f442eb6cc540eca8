#pragma once

#include <windows.h>

// The launcher's command-line protocol, its exit codes and the process-wide
// paths every side file is named from.
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
constexpr const char* JavaSemaphoreName = "kv-javaSemaphore";
constexpr const char* ScriptSemaphoreName = "kv-scriptSemaphore";

// Bit 29 marks codes that applications define for themselves.
constexpr DWORD ExitMissingArgument = 0x20000001;
constexpr DWORD ExitBadVersion = 0x20000002;
constexpr DWORD ExitBadMode = 0x20000003;
constexpr DWORD ExitOutOfMemory = ERROR_NOT_ENOUGH_MEMORY;
// Any other exit code is either the Windows error code of a start that failed
// or the exit code of the child: the updater's, or the elevated instance's.

// The longest path Windows can name, plus its terminator.
constexpr DWORD ExePathCapacity = 32768;

// Set once by LoadExePaths before anything else runs, never changed after.
// ExePath is the running launcher's full path; ExeDirectory is the same path
// up to and including its last separator.
extern wchar_t ExePath[ExePathCapacity];
extern wchar_t ExeDirectory[ExePathCapacity];

// Fills ExePath and ExeDirectory, asking for at most `capacity` characters.
// Returns 0, or a Windows error code when the path could not be had whole:
// acting on a cut path would touch files of an ancestor directory.
DWORD LoadExePaths(DWORD capacity);

// Cuts a path after its last '\' or '/'; leaves it alone when it has none.
void CutToDirectory(wchar_t* path);

// True when `value` equals the ASCII text `expected` code unit for code unit.
bool IsExactly(const wchar_t* value, const char* expected);

// Deletes kv-scriptSemaphore, checks version and mode, reads the six
// positional arguments and runs the update. Returns the exit code.
DWORD RunLauncher();
