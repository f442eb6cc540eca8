#include "launcher/folder_trust.h"

#include <sddl.h>

#include "launcher/elevation.h"
#include "launcher/protocol.h"
#include "launcher/update_run.h"
#include "launcher/volume_trust.h"
#include "process/command_lines.h"
#include "support/byte_buffer.h"
#include "support/failure_codes.h"
#include "support/log.h"
#include "support/unique_handle.h"

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
    {FILE_WRITE_ATTRIBUTES, "write attributes", "write attributes"},
    {WRITE_DAC, "change permissions", "change permissions"},
    {WRITE_OWNER, "change owner", "change owner"},
};

constexpr DWORD SecurityToRead = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
// Enough for the descriptors of an install; a larger one is read again.
constexpr SIZE_T DescriptorBytes = 4096;
// The folders whose every file and subfolder the elevated updater may load.
constexpr const char* JudgedTrees[] = {"kv-jre", "kv-lib"};
// The files beside the launcher that it writes itself without following a
// link (the log, the record), only deletes or tests for (the semaphores),
// or only names to the updater (kv-handle): none is loaded as code, and
// they may belong to whoever ran the last update.
constexpr const char* SideFiles[] = {LogFileName, FailureRecordName, ScriptSemaphoreName, JavaSemaphoreName, "kv-handle"};
// How each item is opened to be judged: its data may be read, so that the
// open fails where another process holds it open for writing (sharing
// reading and deletion only); and its tag and descriptor are read through
// the handle, which pins the very object judged.
constexpr ACCESS_MASK JudgingAccess = FILE_READ_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL;
// The prefix that makes Win32 pass a path on as it is: no segment loses
// trailing spaces or dots, and no length limit applies.
constexpr const char* LiteralPrefix = "\\\\?\\";
constexpr unsigned LiteralPrefixLength = 4;

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
// into, where the reason goes, and how much of each path is the literal
// prefix the judgement added itself, which reasons leave out.
struct Judge {
  PSID trustedUser;
  WideStringBuffer& reason;
  ByteBuffer descriptor;
  unsigned addedPrefix;
};

// Starts the reason with `path`.
DWORD Refuse(Judge& judge, const wchar_t* path) {
  judge.reason.Append(path + judge.addedPrefix);
  return ErrorFolderNotTrusted;
}

// Refuses an item that `call` could not read, whatever the error: nothing
// that exists may pass unjudged. Returns `error`.
DWORD RefuseUnread(Judge& judge, const wchar_t* path, const char* call, DWORD error) {
  Refuse(judge, path);
  judge.reason.Append(" cannot be read to judge who may change it (");
  judge.reason.Append(call);
  judge.reason.Append(": ");
  judge.reason.AppendNumber(error, /* hexadecimal */ true);
  judge.reason.AppendCharacter(L')');
  return error;
}

// Reads the owner and DACL of the item `item` is a handle to.
DWORD ReadDescriptor(Judge& judge, HANDLE item) {
  for (;;) {
    DWORD needed = 0;
    if (GetKernelObjectSecurity(item, SecurityToRead, judge.descriptor.Bytes(),
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

// A link or mount point leads to a place whose parents go unjudged; a
// reparse point without a tag cannot be told from one. Its tag (0: none) is
// valid with the attribute only.
bool IsLinkLike(DWORD attributes, DWORD tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && (tag == 0 || IsReparseTagNameSurrogate(tag));
}

DWORD RefuseLink(Judge& judge, const wchar_t* path, DWORD tag) {
  Refuse(judge, path);
  if (tag == 0) {
    judge.reason.Append(" is a reparse point whose tag cannot be read");
  } else {
    judge.reason.Append(" is a link or mount point (reparse tag ");
    judge.reason.AppendNumber(tag, /* hexadecimal */ true);
    judge.reason.AppendCharacter(L')');
  }
  return ErrorFolderNotTrusted;
}

// Judges the item at `path` through one handle, which pins it: its tag, its
// kind and its descriptor all come from the object that will be run.
// `listed` is its folder entry (null for a drive's root, which has none and
// which Wine shows as a reparse point); a link in either view refuses (Wine
// shows a host link as such only in the listing). Sets `isFolder`.
DWORD JudgeItem(
    Judge& judge,
    const wchar_t* path,
    const WIN32_FIND_DATAW* listed,
    ACCESS_MASK folderRights,
    ACCESS_MASK fileRights,
    bool* isFolder) {
  *isFolder = false;
  // A folder entry holds the tag in dwReserved0.
  if (listed != nullptr && IsLinkLike(listed->dwFileAttributes, listed->dwReserved0)) {
    return RefuseLink(judge, path, listed->dwReserved0);
  }
  UniqueHandle item(CreateFileW(
      /* lpFileName */ path,
      /* dwDesiredAccess */ JudgingAccess,
      /* dwShareMode: readers are welcome, writers are not */ FILE_SHARE_READ | FILE_SHARE_DELETE,
      /* lpSecurityAttributes */ nullptr,
      /* dwCreationDisposition */ OPEN_EXISTING,
      /* dwFlagsAndAttributes: folders too, and a link itself */
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      /* hTemplateFile */ nullptr));
  if (!item.IsValid()) {
    DWORD error = LastFailureCode();
    if (error != ERROR_SHARING_VIOLATION) {
      return RefuseUnread(judge, path, "CreateFileW", error);
    }
    // Access is checked when a handle is opened, never again: a handle
    // opened while the item was writable still writes after it is not.
    Refuse(judge, path);
    judge.reason.Append(" is open in another process that may write to it");
    return ErrorFolderNotTrusted;
  }
  FILE_ATTRIBUTE_TAG_INFO kind = {};
  if (!GetFileInformationByHandleEx(item.Get(), FileAttributeTagInfo, &kind, sizeof(kind))) {
    return RefuseUnread(judge, path, "GetFileInformationByHandleEx", LastFailureCode());
  }
  if (listed != nullptr && IsLinkLike(kind.FileAttributes, kind.ReparseTag)) {
    return RefuseLink(judge, path, kind.ReparseTag);
  }
  *isFolder = (kind.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  DWORD error = ReadDescriptor(judge, item.Get());
  if (error != 0) {
    return RefuseUnread(judge, path, "GetKernelObjectSecurity", error);
  }
  DescriptorFlaw flaw =
      JudgeDescriptor(judge.descriptor.Bytes(), *isFolder ? folderRights : fileRights, judge.trustedUser);
  if (flaw.kind == DescriptorFlaw::None) {
    return 0;
  }
  Refuse(judge, path);
  DescribeFlaw(judge.reason, flaw, *isFolder);
  return ErrorFolderNotTrusted;
}

// Judges the item at `path`, found by its own name; `isFolder` says whether
// it exists and is a folder. A missing item passes only where
// `mayBeMissing`: the launcher and every folder on its path exist.
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
    if (!IsMissing(error)) {
      return RefuseUnread(judge, path, "FindFirstFileExW", error);
    }
    if (mayBeMissing) {
      return 0;
    }
    Refuse(judge, path);
    judge.reason.Append(" is missing: the running launcher is no longer at its path");
    return ErrorFolderNotTrusted;
  }
  FindClose(search);
  return JudgeItem(judge, path, &found, folderRights, fileRights, isFolder);
}

// True for a file the launcher never runs nor hands to what it runs.
bool IsSideFile(const wchar_t* name) {
  for (const char* side : SideFiles) {
    if (IsExactly(name, side)) {
      return true;
    }
  }
  return false;
}

// Judges every folder and file under the folders listed in `pending`, each
// a path followed by a terminator; folders found on the way join the list.
// The first is the launcher's own folder, the updater's working directory,
// where Windows looks for a library or program named bare and Java's
// library path ends: of it, every file but the side files. A list rather
// than recursion: a tree of any depth takes no more stack.
DWORD JudgeTrees(Judge& judge, WideStringBuffer& pending) {
  WideStringBuffer path(0);
  for (unsigned long long next = 0; next < pending.Length();) {
    const bool besideLauncher = next == 0;
    path.Truncate(0);
    path.Append(pending.Text() + next);
    next += path.Length() + 1;
    const unsigned long long folderLength = path.Length() + 1;
    path.Append("\\*");
    WIN32_FIND_DATAW found;
    HANDLE search = Find(path.Text(), &found);
    path.Truncate(folderLength - 1);
    if (search == INVALID_HANDLE_VALUE) {
      return RefuseUnread(judge, path.Text(), "FindFirstFileExW", LastFailureCode());
    }
    DWORD code = 0;
    do {
      const wchar_t* name = found.cFileName;
      if (name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'))) {
        continue;
      }
      if (besideLauncher && ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || IsSideFile(name))) {
        continue;
      }
      path.Truncate(folderLength - 1);
      path.AppendCharacter(L'\\');
      path.Append(name);
      bool isFolder = false;
      code = JudgeItem(judge, path.Text(), &found, FolderChangingRights, FileChangingRights, &isFolder);
      if (isFolder) {
        pending.Append(path.Text());
        pending.AppendCharacter(L'\0');
      }
    } while (code == 0 && FindNextFileW(search, &found));
    if (code == 0 && GetLastError() != ERROR_NO_MORE_FILES) {
      path.Truncate(folderLength - 1);
      code = RefuseUnread(judge, path.Text(), "FindNextFileW", LastFailureCode());
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
  if (rootLength == 0) {
    Refuse(judge, exePath);
    judge.reason.Append(" is not on a local drive");
    return ErrorFolderNotTrusted;
  }
  WideStringBuffer path(0);
  path.Append(exeDirectory);
  path.Truncate(rootLength);
  const wchar_t* root = path.Text() + rootLength - 3;
  if (const char* kind = UntrustedDriveKind(root)) {
    Refuse(judge, exePath);
    judge.reason.Append(" is on ");
    judge.reason.Append(root);
    judge.reason.Append(", ");
    judge.reason.Append(kind);
    return ErrorFolderNotTrusted;
  }

  // The root, then every folder down to the launcher's, which is judged as
  // what the updater runs from; the others only for what lets someone
  // replace them. The root's entry cannot be found by name.
  const unsigned long long folderEnd = lstrlenW(exeDirectory) - 1;
  ACCESS_MASK rights = rootLength > folderEnd ? FolderChangingRights : PathChangingRights;
  bool isFolder = false;
  DWORD code = JudgeItem(judge, path.Text(), /* listed */ nullptr, rights, rights, &isFolder);
  for (unsigned long long index = rootLength; code == 0 && index <= folderEnd; ++index) {
    // A doubled separator adds no folder to judge.
    if (IsSeparator(exeDirectory[index]) && !IsSeparator(exeDirectory[index - 1])) {
      rights = index == folderEnd ? FolderChangingRights : PathChangingRights;
      code = JudgeNamedItem(judge, path.Text(), rights, rights, /* mayBeMissing */ false, &isFolder);
    }
    path.AppendCharacter(exeDirectory[index]);
  }

  if (code == 0) {
    code = JudgeNamedItem(judge, exePath, FolderChangingRights, FileChangingRights, /* mayBeMissing */ false, &isFolder);
  }
  // The launcher's folder first (its files), then the trees, each found by
  // the very name the start uses.
  WideStringBuffer pending(0);
  pending.Append(exeDirectory);
  pending.Truncate(folderEnd);
  pending.AppendCharacter(L'\0');
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

DWORD FolderJudgement::JudgeOnce(const wchar_t* exePath, const wchar_t* exeDirectory, const TokenFacts& token) {
  if (!made) {
    made = true;
    Judge judge = {TrustedAccount(token), reason, ByteBuffer(), 0};
    // Every item is read by the literal form of the path the start uses.
    WideStringBuffer literalPath(0);
    WideStringBuffer literalDirectory(0);
    // A drive path ("X:\dir\") gets the prefix; one that has it already, or
    // a share, which is refused, stays as it is.
    if (LocalRootLength(exeDirectory) == 3) {
      judge.addedPrefix = LiteralPrefixLength;
      literalPath.Append(LiteralPrefix);
      literalDirectory.Append(LiteralPrefix);
    }
    literalPath.Append(exePath);
    literalDirectory.Append(exeDirectory);
    code = judge.descriptor.Allocate(DescriptorBytes)
        ? JudgeInstall(judge, literalPath.Text(), literalDirectory.Text())
        : RefuseUnread(judge, literalPath.Text(), "HeapAlloc", ErrorOutOfMemory);
  }
  return code;
}
