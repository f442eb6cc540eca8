#include "launcher/folder_trust.h"

#include <aclapi.h>

#include "support/wide_string_buffer.h"

namespace {

constexpr const char* TrustedItems[] = {
    "", "kv-jre", "kv-jre\\bin", "kv-jre\\bin\\java.exe", "kv-lib"};

// Rights that change what runs. For a folder the same bits mean add a file
// (FILE_WRITE_DATA) and add a subfolder (FILE_APPEND_DATA).
constexpr ACCESS_MASK ChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE |
                                       WRITE_DAC | WRITE_OWNER;

bool IsBroadGroup(PSID sid) {
  return IsWellKnownSid(sid, WinWorldSid) || IsWellKnownSid(sid, WinAuthenticatedUserSid) ||
         IsWellKnownSid(sid, WinBuiltinUsersSid) || IsWellKnownSid(sid, WinInteractiveSid);
}

}  // namespace

bool BroadGroupsCanChange(PSECURITY_DESCRIPTOR descriptor) {
  BOOL ownerDefaulted = FALSE;
  PSID owner = nullptr;
  if (GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) && owner != nullptr && IsBroadGroup(owner)) {
    return true;  // An owner may always rewrite the permissions.
  }
  BOOL present = FALSE;
  BOOL daclDefaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &daclDefaulted)) {
    return true;  // Cannot tell: take the safe side.
  }
  if (!present || dacl == nullptr) {
    return true;  // No DACL: everyone may do everything.
  }

  // Every ordinary user's token holds all four groups, so they are judged as
  // one: the ACEs in order, as an access check walks them, a right denied to
  // any of the groups before it is granted staying denied.
  GENERIC_MAPPING fileMapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  ACCESS_MASK denied = 0;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* entry = nullptr;
    if (!GetAce(dacl, index, &entry)) {
      return true;
    }
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) {
      continue;  // Applies to children only, not to this object.
    }
    // The allowed, denied and callback ACEs keep the mask and the SID in the
    // same place. A conditional (callback) grant counts as granted, and a
    // conditional deny as not denied: the safe side of each.
    bool allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
    bool denies = header->AceType == ACCESS_DENIED_ACE_TYPE;
    if (!allows && !denies) {
      continue;
    }
    const ACCESS_ALLOWED_ACE* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    if (!IsBroadGroup(const_cast<DWORD*>(&ace->SidStart))) {
      continue;
    }
    ACCESS_MASK mask = ace->Mask;
    MapGenericMask(&mask, &fileMapping);
    if (denies) {
      denied |= mask;
    } else if ((mask & ~denied & ChangingRights) != 0) {
      return true;
    }
  }
  return false;
}

DWORD CheckFolderTrusted(const wchar_t* directory) {
  for (const char* item : TrustedItems) {
    WideStringBuffer path(0);
    path.Append(directory);
    path.Append(item);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetNamedSecurityInfoW(
        /* pObjectName */ path.Text(),
        /* ObjectType */ SE_FILE_OBJECT,
        /* SecurityInfo */ OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        /* ppsidOwner */ nullptr,
        /* ppsidGroup */ nullptr,
        /* ppDacl */ nullptr,
        /* ppSacl */ nullptr,
        /* ppSecurityDescriptor */ &descriptor);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      continue;
    }
    if (error != 0) {
      return error;
    }
    bool changeable = BroadGroupsCanChange(descriptor);
    LocalFree(descriptor);
    if (changeable) {
      return ErrorFolderNotTrusted;
    }
  }
  return 0;
}
