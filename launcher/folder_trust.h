#pragma once

#include <windows.h>

#include "launcher/elevation.h"
#include "support/wide_string_buffer.h"

// The elevated instance runs what lies in and under the launcher's folder:
// the launcher itself, the Java runtime with every DLL and module of
// kv-jre, and every jar of kv-lib. It is trusted only when nobody but
// SYSTEM, Administrators, TrustedInstaller and (where it is the account that
// runs elevated) the running account can change any of it, or the path to
// it. Anything else would let another account's code run as administrator.

// Code of the refusal.
constexpr DWORD ErrorFolderNotTrusted = ERROR_ACCESS_DENIED;

// The rights that change what runs. For a folder: add a file or subfolder,
// delete a child, delete it, write its attributes (enough to make an empty
// folder a mount point), change its permissions or owner. For a file:
// write or append, delete, change permissions or owner. For a folder on the
// path to the launcher's: what lets someone move it away and put another in
// its place.
constexpr ACCESS_MASK FolderChangingRights =
    FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE | FILE_WRITE_ATTRIBUTES | WRITE_DAC | WRITE_OWNER;
constexpr ACCESS_MASK FileChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER;
constexpr ACCESS_MASK PathChangingRights = FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;

// What lets someone outside the trusted accounts change an object.
struct DescriptorFlaw {
  enum Kind { None, Owner, Grant, NoDacl, UnknownEntry } kind = None;
  PSID principal = nullptr;  // Owner, Grant: points into the descriptor
  ACCESS_MASK rights = 0;    // Grant: the changing rights granted
  BYTE entryType = 0;        // UnknownEntry: its ACE type
};

// Judges an object's owner and DACL, in the order an access check walks
// it. `trustedUser` (may be null) is trusted besides SYSTEM, Administrators
// and TrustedInstaller. Inherit-only entries apply to children only; a
// deny cancels a later grant to the very same SID, a conditional deny
// cancels nothing, a conditional grant counts; OWNER RIGHTS stands for the
// owner and CREATOR OWNER or GROUP, outside inheritance, for nobody. An
// entry of any other type, whose layout is not known, is a flaw itself.
DescriptorFlaw JudgeDescriptor(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK changingRights, PSID trustedUser);

// Judges the launcher (`exePath`), its folder (`exeDirectory`, ending in a
// separator) and every file in it but the side files the launcher only
// writes, deletes or names (its log, its record, the semaphores,
// kv-handle), every folder and file under kv-jre and kv-lib, and every
// folder on the path to it, up to the drive's root, which must be the root
// of a fixed disk's volume that stays in the machine (volume_trust.h). Each
// item is opened once, by its literal name (the "\\?\" form of the path
// the start uses, so that no name is read as the neighbour Win32 would
// rewrite it to: "app " as "app"), without following a link and without
// sharing writing, and judged through that handle: an item another process
// holds open for writing is refused, as a handle opened before keeps the
// rights it had. Only kv-jre and kv-lib may be missing (the folder is
// judged against adding them, and the start then fails on its own);
// anything else that cannot be read is refused. So is a link or mount
// point, or a reparse point whose kind cannot be read; one that only stores
// the file differently (compressed, deduplicated, cloud) is judged as a
// file. Judges once: every later call returns the first result.
class FolderJudgement {
 public:
  FolderJudgement() : reason(0) {}
  FolderJudgement(const FolderJudgement&) = delete;
  FolderJudgement& operator=(const FolderJudgement&) = delete;

  // Trusts TrustedAccount(token) besides the fixed accounts. Returns 0,
  // ErrorFolderNotTrusted, or the code of an item that could not be read.
  DWORD JudgeOnce(const wchar_t* exePath, const wchar_t* exeDirectory, const TokenFacts& token);

  DWORD Code() const { return code; }
  // After a refusal: which item, and what makes it untrusted, in one line.
  const wchar_t* Reason() const { return reason.Text(); }

 private:
  bool made = false;
  DWORD code = 0;
  WideStringBuffer reason;
};
