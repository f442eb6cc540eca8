#pragma once

#include <windows.h>

// The Windows error codes that every layer reports failures with. A failure
// is always reported by a non-zero code: 0 means success everywhere.

// A string buffer could not get memory: the process ends with this code.
constexpr DWORD ErrorOutOfMemory = ERROR_NOT_ENOUGH_MEMORY;

// Code for a call that reports failure but leaves no error code.
constexpr DWORD ErrorWithoutCode = ERROR_GEN_FAILURE;

// A failure's code, never 0: a failure must not read as success.
inline DWORD FailureCode(DWORD lastError) { return lastError != 0 ? lastError : ErrorWithoutCode; }

// FailureCode of the calling thread's last error: call it first thing after
// the call that failed, before anything else can overwrite the error.
DWORD LastFailureCode();
