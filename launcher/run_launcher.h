#pragma once

#include <windows.h>

// The process-wide paths every side file is named from, and the run from the
// command line to the exit code.

// The longest path Windows can name, plus its terminator.
constexpr DWORD ExePathCapacity = 32768;

// Set once by LoadExePaths before anything else runs, never changed after.
// ExePath is the running launcher's full path; ExeDirectory is the same path
// up to and including its last separator. Only the launcher's top level
// reads them; everything below gets the path or directory as an argument.
extern wchar_t ExePath[ExePathCapacity];
extern wchar_t ExeDirectory[ExePathCapacity];

// Fills ExePath and ExeDirectory, asking for at most `capacity` characters.
// Returns 0, or a Windows error code when the path could not be had whole:
// acting on a cut path would touch files of an ancestor directory.
DWORD LoadExePaths(DWORD capacity);

// Cuts a path after its last '\' or '/'; leaves it alone when it has none.
void CutToDirectory(wchar_t* path);

// Deletes kv-scriptSemaphore, checks version and mode, reads the six
// positional arguments and runs the update. Returns the exit code.
DWORD RunLauncher();
