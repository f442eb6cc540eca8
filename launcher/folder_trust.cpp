#include "launcher/folder_trust.h"

#include <sddl.h>

#include "launcher/elevation.h"
#include "support/byte_buffer.h"
#include "support/failure_codes.h"

namespace {

// The names of the principals a refusal may name, in English whatever the
// system's language, and without asking a domain controller: each is a
// WELL_KNOWN_SID_TYPE byte followed by its name and a terminator.
constexpr char KnownNames[] =
    "\x01" "Everyone\0"
    "\x0D" "ANONYMOUS LOGON\0"
    "\x11" "Authenticated Users\0"
    "\x1B" "Users\0"
    "\x1C" "Guests\0"
    "\x1D" "Power Users\0"
    "\x0B" "INTERACTIVE\0"
    "\x09" "NETWORK\0"
    "\x0A" "BATCH\0"
    "\x0C" "SERVICE\0"
    "\x17" "LOCAL SERVICE\0"
    "\x18" "NETWORK SERVICE\0"
    "\x54" "ALL APPLICATION PACKAGES\0";

// How each changing right is called, on a folder and on a file.
constexpr struct {
  ACCESS_MASK right;
  const char* onFolder;
  const char* onFile;
} RightNames[] = {
    {FILE_WRITE_DATA, "add file", "write data"},
    {FILE_APPEND_DATA, "add subfolder", "append data"},
    {FILE_DELETE_CHILD, "delete child", "delete child"},
    {DELETE, "delete", "delete"},
    {WRITE_DAC, "change permissions", "change permissions"},
    {WRITE_OWNER, "change owner", "change owner"},
};

constexpr DWORD SecurityToRead = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
// Enough for the descriptors of an install; a larger one is read again.
constexpr SIZE_T DescriptorBytes = 4096;
// The folders whose every file and subfolder the elevated updater may load.
constexpr const char* JudgedTrees[] = {"kv-jre", "kv-lib"};

bool IsTrusted(PSID sid, PSID trustedUser) {
  return IsWellKnownSid(sid, WinLocalSystemSid) || EqualSid(sid, Administrators.Get()) ||
         EqualSid(sid, TrustedInstaller.Get()) ||
         (trustedUser != nullptr && EqualSid(sid, trustedUser));
}

// The principal an entry grants to or denies: the owner for OWNER RIGHTS,
// nobody for CREATOR OWNER and CREATOR GROUP (which only mean something
// when inherited). Allowed, denied and their conditional (callback) kinds
// keep the SID in the same place.
PSID EntrySid(const ACE_HEADER* header, PSID owner) {
  PSID sid = const_cast<DWORD*>(&reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->SidStart);
  if (IsWellKnownSid(sid, WinCreatorOwnerRightsSid)) {
    return owner;
  }
  if (IsWellKnownSid(sid, WinCreatorOwnerSid) || IsWellKnownSid(sid, WinCreatorGroupSid)) {
    return nullptr;
  }
  return sid;
}

// An entry's rights with the generic ones mapped to a file's: generic read
// and execute hold no changing right.
ACCESS_MASK MappedMask(const ACE_HEADER* header) {
  ACCESS_MASK mask = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->Mask;
  return mask | ((mask & GENERIC_ALL) != 0 ? FILE_ALL_ACCESS : 0) | ((mask & GENERIC_WRITE) != 0 ? FILE_GENERIC_WRITE : 0);
}

const ACE_HEADER* Entry(PACL dacl, DWORD index) {
  void* entry = nullptr;
  return GetAce(dacl, index, &entry) ? static_cast<const ACE_HEADER*>(entry) : nullptr;
}

bool Applies(const ACE_HEADER* header) { return (header->AceFlags & INHERIT_ONLY_ACE) == 0; }

void AppendPrincipal(WideStringBuffer& text, PSID sid) {
  wchar_t* sidText = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, &sidText)) {
    text.Append("nobody");
    return;
  }
  text.Append(sidText);
  LocalFree(sidText);
  for (const char* name = KnownNames; *name != '\0';) {
    if (IsWellKnownSid(sid, static_cast<WELL_KNOWN_SID_TYPE>(*name++))) {
      text.Append(" (");
      text.Append(name);
      text.AppendCharacter(L')');
      return;
    }
    while (*name++ != '\0') {
    }
  }
}

void DescribeFlaw(WideStringBuffer& reason, const DescriptorFlaw& flaw, bool isFolder) {
  switch (flaw.kind) {
    case DescriptorFlaw::Owner:
      reason.Append(" is owned by ");
      AppendPrincipal(reason, flaw.principal);
      return;
    case DescriptorFlaw::Grant: {
      reason.Append(" may be changed by ");
      AppendPrincipal(reason, flaw.principal);
      const char* separator = ": ";
      for (const auto& name : RightNames) {
        if ((flaw.rights & name.right) != 0) {
          reason.Append(separator);
          reason.Append(isFolder ? name.onFolder : name.onFile);
          separator = ", ";
        }
      }
      return;
    }
    case DescriptorFlaw::NoDacl:
      reason.Append(" has no DACL: everyone may change it");
      return;
    case DescriptorFlaw::UnknownEntry:
      reason.Append(" has an access entry of unknown type ");
      reason.AppendNumber(flaw.entryType, /* hexadecimal */ false);
      return;
    case DescriptorFlaw::None:
      return;
  }
}

// One judgement's state: whom it trusts, the block descriptors are read
// into, and where the reason goes.
struct Judge {
  PSID trustedUser;
  WideStringBuffer& reason;
  ByteBuffer descriptor;
};

// Starts the reason with `path`; returns `code`.
DWORD Refuse(Judge& judge, const wchar_t* path, DWORD code) {
  judge.reason.Append(path);
  if (code != ErrorFolderNotTrusted) {
    judge.reason.Append(" cannot be read to judge who may change it");
  }
  return code;
}

DWORD ReadDescriptor(Judge& judge, const wchar_t* path) {
  for (;;) {
    DWORD needed = 0;
    if (GetFileSecurityW(path, SecurityToRead, judge.descriptor.Bytes(),
                         static_cast<DWORD>(judge.descriptor.Capacity()), &needed)) {
      return 0;
    }
    DWORD error = LastFailureCode();
    if (error != ERROR_INSUFFICIENT_BUFFER || needed <= judge.descriptor.Capacity()) {
      return error;
    }
    if (!judge.descriptor.Allocate(needed)) {
      return ErrorOutOfMemory;
    }
  }
}

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The entries `pattern` names: one item by its name, or a folder's with "\*".
// Without short names, which nothing here needs.
HANDLE Find(const wchar_t* pattern, WIN32_FIND_DATAW* found) {
  return FindFirstFileExW(
      /* lpFileName */ pattern,
      /* fInfoLevelId */ FindExInfoBasic,
      /* lpFindFileData */ found,
      /* fSearchOp */ FindExSearchNameMatch,
      /* lpSearchFilter */ nullptr,
      /* dwAdditionalFlags */ FIND_FIRST_EX_LARGE_FETCH);
}

// Judges one item as its folder entry describes it. `checkTag` is false for
// a drive's root only, which Wine shows as a reparse point.
DWORD JudgeItem(
    Judge& judge,
    const wchar_t* path,
    const WIN32_FIND_DATAW& found,
    bool checkTag,
    ACCESS_MASK folderRights,
    ACCESS_MASK fileRights) {
  bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // A link or mount point leads to a place whose parents go unjudged.
  // A folder entry holds the tag in dwReserved0; 0 is no tag at all.
  DWORD tag = found.dwReserved0;
  if (checkTag && (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
      (tag == 0 || IsReparseTagNameSurrogate(tag))) {
    Refuse(judge, path, ErrorFolderNotTrusted);
    if (tag == 0) {
      judge.reason.Append(" is a reparse point whose tag cannot be read");
    } else {
      judge.reason.Append(" is a link or mount point (reparse tag ");
      judge.reason.AppendNumber(tag, /* hexadecimal */ true);
      judge.reason.AppendCharacter(L')');
    }
    return ErrorFolderNotTrusted;
  }
  DWORD error = ReadDescriptor(judge, path);
  if (IsMissing(error)) {
    return 0;
  }
  if (error != 0) {
    return Refuse(judge, path, error);
  }
  DescriptorFlaw flaw =
      JudgeDescriptor(judge.descriptor.Bytes(), isFolder ? folderRights : fileRights, judge.trustedUser);
  if (flaw.kind == DescriptorFlaw::None) {
    return 0;
  }
  Refuse(judge, path, ErrorFolderNotTrusted);
  DescribeFlaw(judge.reason, flaw, isFolder);
  return ErrorFolderNotTrusted;
}

// Judges the item at `path` by its own folder entry; `isFolder` says
// whether it exists and is a folder. A missing item passes only where
// `mayBeMissing`: every folder on the launcher's own path exists.
DWORD JudgeNamedItem(
    Judge& judge,
    const wchar_t* path,
    ACCESS_MASK folderRights,
    ACCESS_MASK fileRights,
    bool mayBeMissing,
    bool* isFolder) {
  *isFolder = false;
  WIN32_FIND_DATAW found;
  HANDLE search = Find(path, &found);
  if (search == INVALID_HANDLE_VALUE) {
    DWORD error = LastFailureCode();
    return mayBeMissing && IsMissing(error) ? 0 : Refuse(judge, path, error);
  }
  FindClose(search);
  *isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return JudgeItem(judge, path, found, /* checkTag */ true, folderRights, fileRights);
}

// Judges every folder and file under the folders listed in `pending`, each
// a path followed by a terminator; folders found on the way join the list.
// A list rather than recursion: a tree of any depth takes no more stack.
DWORD JudgeTrees(Judge& judge, WideStringBuffer& pending) {
  WideStringBuffer path(0);
  for (unsigned long long next = 0; next < pending.Length();) {
    path.Truncate(0);
    path.Append(pending.Text() + next);
    next += path.Length() + 1;
    const unsigned long long folderLength = path.Length() + 1;
    path.Append("\\*");
    WIN32_FIND_DATAW found;
    HANDLE search = Find(path.Text(), &found);
    path.Truncate(folderLength - 1);
    if (search == INVALID_HANDLE_VALUE) {
      DWORD error = LastFailureCode();
      if (IsMissing(error)) {
        continue;
      }
      return Refuse(judge, path.Text(), error);
    }
    DWORD code = 0;
    do {
      const wchar_t* name = found.cFileName;
      if (name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'))) {
        continue;
      }
      path.Truncate(folderLength - 1);
      path.AppendCharacter(L'\\');
      path.Append(name);
      code = JudgeItem(judge, path.Text(), found, /* checkTag */ true, FolderChangingRights, FileChangingRights);
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        pending.Append(path.Text());
        pending.AppendCharacter(L'\0');
      }
    } while (code == 0 && FindNextFileW(search, &found));
    if (code == 0 && GetLastError() != ERROR_NO_MORE_FILES) {
      code = LastFailureCode();
      path.Truncate(folderLength - 1);
      Refuse(judge, path.Text(), code);
    }
    FindClose(search);
    if (code != 0) {
      return code;
    }
  }
  return 0;
}

bool IsSeparator(wchar_t character) { return character == L'\\' || character == L'/'; }

// The length of the drive root that `path` starts with, "X:\" or
// "\\?\X:\"; 0 for a share or any other path.
unsigned LocalRootLength(const wchar_t* path) {
  unsigned start = 0;
  if (path[0] == L'\\' && path[1] == L'\\' && path[2] == L'?' && path[3] == L'\\') {
    start = 4;
  }
  wchar_t letter = static_cast<wchar_t>(path[start] | 0x20);
  return letter >= L'a' && letter <= L'z' && path[start + 1] == L':' && IsSeparator(path[start + 2]) ? start + 3 : 0;
}

DWORD JudgeInstall(Judge& judge, const wchar_t* exePath, const wchar_t* exeDirectory) {
  // On a share, the descriptors name the server's accounts, and the share's
  // own permissions cannot be read at all.
  unsigned rootLength = LocalRootLength(exeDirectory);
  WideStringBuffer path(0);
  path.Append(exeDirectory);
  path.Truncate(rootLength);
  if (rootLength == 0 || GetDriveTypeW(path.Text() + rootLength - 3) == DRIVE_REMOTE) {
    Refuse(judge, exePath, ErrorFolderNotTrusted);
    judge.reason.Append(" is not on a local drive");
    return ErrorFolderNotTrusted;
  }

  // The root, then every folder down to the launcher's, which is judged as
  // what the updater runs from; the others only for what lets someone
  // replace them. The root's entry cannot be found by name; it is a folder.
  const unsigned long long folderEnd = lstrlenW(exeDirectory) - 1;
  WIN32_FIND_DATAW root = {};
  root.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  DWORD code = JudgeItem(
      judge, path.Text(), root, /* checkTag */ false, rootLength > folderEnd ? FolderChangingRights : PathChangingRights, 0);
  for (unsigned long long index = rootLength; code == 0 && index <= folderEnd; ++index) {
    // A doubled separator adds no folder to judge.
    if (IsSeparator(exeDirectory[index]) && !IsSeparator(exeDirectory[index - 1])) {
      bool isFolder = false;
      ACCESS_MASK rights = index == folderEnd ? FolderChangingRights : PathChangingRights;
      code = JudgeNamedItem(judge, path.Text(), rights, rights, /* mayBeMissing */ false, &isFolder);
    }
    path.AppendCharacter(exeDirectory[index]);
  }

  bool isFolder = false;
  if (code == 0) {
    code = JudgeNamedItem(judge, exePath, FolderChangingRights, FileChangingRights, /* mayBeMissing */ true, &isFolder);
  }
  WideStringBuffer pending(0);
  for (const char* tree : JudgedTrees) {
    if (code == 0) {
      path.Truncate(0);
      path.Append(exeDirectory);
      path.Append(tree);
      code = JudgeNamedItem(
          judge, path.Text(), FolderChangingRights, FileChangingRights, /* mayBeMissing */ true, &isFolder);
      if (isFolder) {
        pending.Append(path.Text());
        pending.AppendCharacter(L'\0');
      }
    }
  }
  return code != 0 ? code : JudgeTrees(judge, pending);
}

}  // namespace

DescriptorFlaw JudgeDescriptor(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK changingRights, PSID trustedUser) {
  DescriptorFlaw flaw;
  BOOL defaulted = FALSE;
  PSID owner = nullptr;
  // An owner may always rewrite the permissions.
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr ||
      !IsTrusted(owner, trustedUser)) {
    flaw.kind = DescriptorFlaw::Owner;
    flaw.principal = owner;
    return flaw;
  }
  BOOL present = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || dacl == nullptr) {
    flaw.kind = DescriptorFlaw::NoDacl;  // No DACL: everyone may do everything.
    return flaw;
  }
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    const ACE_HEADER* header = Entry(dacl, index);
    if (header != nullptr && !Applies(header)) {
      continue;  // Applies to children only, not to this object.
    }
    BYTE type = header != nullptr ? header->AceType : 0xFF;
    if (type != ACCESS_ALLOWED_ACE_TYPE && type != ACCESS_ALLOWED_CALLBACK_ACE_TYPE &&
        type != ACCESS_DENIED_ACE_TYPE && type != ACCESS_DENIED_CALLBACK_ACE_TYPE) {
      flaw.kind = DescriptorFlaw::UnknownEntry;
      flaw.entryType = type;
      return flaw;
    }
    PSID sid = EntrySid(header, owner);
    if (type == ACCESS_DENIED_ACE_TYPE || type == ACCESS_DENIED_CALLBACK_ACE_TYPE || sid == nullptr ||
        IsTrusted(sid, trustedUser)) {
      continue;
    }
    // What an earlier, unconditional deny to the very same SID took away
    // stays taken; a deny to another group the same user may hold does not
    // (a batch or network logon holds Users without INTERACTIVE).
    ACCESS_MASK granted = MappedMask(header) & changingRights;
    for (DWORD earlier = 0; earlier < index && granted != 0; ++earlier) {
      const ACE_HEADER* deny = Entry(dacl, earlier);
      PSID denied = deny != nullptr && deny->AceType == ACCESS_DENIED_ACE_TYPE && Applies(deny) ? EntrySid(deny, owner)
                                                                                              : nullptr;
      if (denied != nullptr && EqualSid(denied, sid)) {
        granted &= ~MappedMask(deny);
      }
    }
    if (granted != 0) {
      flaw.kind = DescriptorFlaw::Grant;
      flaw.principal = sid;
      flaw.rights = granted;
      return flaw;
    }
  }
  return flaw;
}

DWORD FolderJudgement::JudgeOnce(const wchar_t* exePath, const wchar_t* exeDirectory, PSID trustedUser) {
  if (!made) {
    made = true;
    Judge judge = {trustedUser, reason, ByteBuffer()};
    code = judge.descriptor.Allocate(DescriptorBytes) ? JudgeInstall(judge, exePath, exeDirectory)
                                                      : Refuse(judge, exePath, ErrorOutOfMemory);
  }
  return code;
}
