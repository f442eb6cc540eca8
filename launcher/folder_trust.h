#pragma once

#include <windows.h>

// What the elevated instance runs comes from the launcher's own folder: the
// Java runtime, the DLLs beside it and every jar of the class path. Where
// ordinary users can change what is there, an elevated update would run
// their code as administrator; so it is refused.

// Code of the refusal.
constexpr DWORD ErrorFolderNotTrusted = ERROR_ACCESS_DENIED;

// True when a security descriptor lets any of the broad groups (Everyone,
// Authenticated Users, Users, INTERACTIVE) change what runs: write or add
// files, add subfolders, delete children, delete, change permissions or the
// owner (the generic rights that include them count too), or when one of
// them owns the object. A descriptor without a DACL grants everyone
// everything. The invoking user's own rights are not judged: a per-user
// install is writable by its user by nature.
bool BroadGroupsCanChange(PSECURITY_DESCRIPTOR descriptor);

// Judges the launcher's folder (`directory`, ending in a separator),
// kv-jre, kv-jre\bin, kv-jre\bin\java.exe and kv-lib. A missing item is
// passed over: the start fails later on its own. Returns 0, or
// ErrorFolderNotTrusted, or the code of a descriptor that could not be read.
DWORD CheckFolderTrusted(const wchar_t* directory);
