// The judgement of what the elevated run executes: security descriptors
// written in SDDL (Wine keeps only what Unix mode bits can say, so finer
// descriptors are judged here rather than read from files), the token facts
// that decide whether the running account counts, and every kind of item
// the judgement walks, laid out for real.
#include "launcher/folder_trust.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "launcher/elevation.h"
#include "tests/test_support.h"

namespace {

constexpr const wchar_t* RunningAccount = L"S-1-5-21-1-2-3-1001";
constexpr BYTE Unchanged = 0;

// Program Files as Windows sets it up: TrustedInstaller owns it;
// administrators, SYSTEM and the installer service may change it; Users,
// like the app containers, read and execute; CREATOR OWNER's full control
// applies to children only.
constexpr const wchar_t* ProgramFiles =
    L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464G:SY"
    L"D:PAI(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
    L"(A;CIIO;GA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
    L"(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
    L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)(A;OICIIO;GXGR;;;AC)";

// Judges `sddl`, with its first ACE's type changed to `firstType` unless
// Unchanged: Wine's SDDL parser knows no conditional or object ACEs.
bool Trusted(const wchar_t* sddl, ACCESS_MASK rights, const wchar_t* trustedUser, BYTE firstType) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
      << Utf8(sddl);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  void* first = nullptr;
  if (firstType != Unchanged && GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) &&
      GetAce(dacl, 0, &first)) {
    static_cast<ACE_HEADER*>(first)->AceType = firstType;
  }
  PSID user = nullptr;
  if (trustedUser != nullptr) {
    ConvertStringSidToSidW(trustedUser, &user);
  }
  bool trusted = JudgeDescriptor(descriptor, rights, user).kind == DescriptorFlaw::None;
  LocalFree(user);
  LocalFree(descriptor);
  return trusted;
}

}  // namespace

TEST(FolderTrust, TrustsOnlyWhatNoOtherAccountCanChange) {
  const ACCESS_MASK Folder = FolderChangingRights, File = FileChangingRights, Path = PathChangingRights;
  const struct {
    const wchar_t* sddl;
    ACCESS_MASK rights;
    const wchar_t* trustedUser;
    BYTE firstType;
    bool trusted;
  } cases[] = {
      {ProgramFiles, Folder, nullptr, Unchanged, true},
      {L"O:BAD:(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1301bf;;;S-1-5-21-1-2-3-1001)", Folder, nullptr, Unchanged, false},  // one user's own rights
      {L"O:BAD:(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1301bf;;;S-1-5-21-1-2-3-1001)", Folder, RunningAccount, Unchanged, true},
      {L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;S-1-5-21-1-2-3-1001)", Folder, RunningAccount, Unchanged, true},
      {L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;SY)", Folder, nullptr, Unchanged, false},  // that account owns it
      {L"O:AND:(A;;FA;;;SY)(A;;FA;;;AN)", Folder, RunningAccount, Unchanged, false},  // Anonymous Logon owns it
      {L"O:BAD:(A;;FA;;;BA)(A;;0x2;;;S-1-5-21-1-2-3-1002)", File, RunningAccount, Unchanged, false},  // write data
      {L"O:BAD:(A;;FA;;;BA)(A;;0x1200a9;;;S-1-5-21-1-2-3-1002)", File, nullptr, Unchanged, true},  // read only
      {L"O:BAD:(A;;FA;;;BA)(A;;0x1301bf;;;BU)", Folder, nullptr, Unchanged, false},  // Users may modify
      {L"O:BAD:(A;;FA;;;BA)(A;;0x4;;;AU)", Folder, nullptr, Unchanged, false},  // add subfolders, as on C:\ ...
      {L"O:BAD:(A;;FA;;;BA)(A;;0x4;;;AU)", Path, nullptr, Unchanged, true},     // ... which replaces nothing
      {L"O:BAD:(A;;FA;;;BA)(A;;0x40;;;IU)", Path, nullptr, Unchanged, false},   // delete children
      {L"O:BAD:(A;;FA;;;BA)(A;;SD;;;WD)", Path, nullptr, Unchanged, false},     // delete: move it away
      {L"O:BAD:(A;;FA;;;BA)(A;;0x100;;;WD)", Folder, nullptr, Unchanged, false},  // attributes: a mount point
      {L"O:BAD:(A;;FA;;;BA)(A;;0x100;;;WD)", File, nullptr, Unchanged, true},
      {L"O:BAD:(A;;FA;;;BA)(A;;SD;;;WD)", Folder, nullptr, Unchanged, false},
      {L"O:BAD:(A;;FA;;;BA)(A;;WD;;;BU)", Folder, nullptr, Unchanged, false},   // change permissions
      {L"O:BAD:(A;;FA;;;BA)(A;;WO;;;AU)", File, nullptr, Unchanged, false},     // change owner
      {L"O:BAD:(A;;FA;;;BA)(A;;GW;;;WD)", File, nullptr, Unchanged, false},     // generic write
      {L"O:BAD:(A;;FA;;;BA)(A;;GA;;;BG)", Folder, nullptr, Unchanged, false},   // generic all, to Guests
      {L"O:BAD:(A;;FA;;;BA)(A;OICIIO;GA;;;BU)(A;;0x1200a9;;;BU)", Folder, nullptr, Unchanged, true},  // children only
      {L"O:BAD:(D;;FA;;;BU)(A;;FA;;;BA)(A;;0x1301bf;;;BU)", Folder, nullptr, Unchanged, true},   // denied first
      {L"O:BAD:(D;;FA;;;WD)(A;;FA;;;BA)(A;;0x1301bf;;;BU)", Folder, nullptr, Unchanged, false},  // to another SID
      {L"O:BAD:(D;;FA;;;IU)(A;;0x1301bf;;;BU)", Folder, nullptr, Unchanged, false},  // batch logons hold Users
      {L"O:BAD:(A;;0x1301bf;;;BU)(D;;FA;;;BU)", Folder, nullptr, Unchanged, false},  // granted before denied
      {L"O:BAD:(D;;FA;;;BU)(A;;0x1301bf;;;BU)", Folder, nullptr, ACCESS_DENIED_CALLBACK_ACE_TYPE, false},
      {L"O:BAD:(A;;0x1301bf;;;WD)", Folder, nullptr, ACCESS_ALLOWED_CALLBACK_ACE_TYPE, false},  // conditional grant
      {L"O:BAD:(A;;0x1200a9;;;WD)", Folder, nullptr, ACCESS_ALLOWED_OBJECT_ACE_TYPE, false},     // unknown layout
      {L"O:BAD:(A;;FA;;;S-1-3-4)", Folder, nullptr, Unchanged, true},  // OWNER RIGHTS: the owner
      {L"O:BAD:(A;;FA;;;CO)", Folder, nullptr, Unchanged, true},       // CREATOR OWNER here: nobody
      {L"O:BUD:(A;;FA;;;BA)", Folder, nullptr, Unchanged, false},      // Users own it
      {L"O:BA", Folder, nullptr, Unchanged, false},                    // no DACL at all
      {L"O:BAD:", Folder, nullptr, Unchanged, true},                   // an empty DACL
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Trusted(c.sddl, c.rights, c.trustedUser, c.firstType), c.trusted)
        << Utf8(c.sddl) << " type " << int(c.firstType) << " trusting " << (c.trustedUser ? Utf8(c.trustedUser) : "");
  }
  // A present but null DACL grants everyone everything.
  SECURITY_DESCRIPTOR nullDacl;
  InitializeSecurityDescriptor(&nullDacl, SECURITY_DESCRIPTOR_REVISION);
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(administrators);
  CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size);
  SetSecurityDescriptorOwner(&nullDacl, administrators, /* bOwnerDefaulted */ FALSE);
  SetSecurityDescriptorDacl(&nullDacl, /* bDaclPresent */ TRUE, /* pDacl */ nullptr, /* bDaclDefaulted */ FALSE);
  EXPECT_EQ(JudgeDescriptor(&nullDacl, FolderChangingRights, nullptr).kind, DescriptorFlaw::NoDacl);
}

TEST(FolderTrust, TrustsTheRunningAccountOnlyWhereItIsTheOneThatRunsElevated) {
  const struct {
    TOKEN_ELEVATION_TYPE type;
    bool inAdministrators;
    bool linkedUserIsSame;
    bool same;
  } cases[] = {
      {TokenElevationTypeFull, true, false, true},       // the elevated instance, or an elevated caller
      {TokenElevationTypeDefault, true, false, true},    // UAC off, an administrator
      {TokenElevationTypeDefault, false, false, false},  // a standard user
      {TokenElevationTypeLimited, false, true, true},    // a split administrator token
      {TokenElevationTypeLimited, false, false, false},  // elevation to a separate account
  };
  for (const auto& c : cases) {
    TokenFacts facts;
    ReadTokenFacts(facts);
    facts.elevationType = c.type;
    facts.inAdministrators = c.inAdministrators;
    facts.linkedUserIsSame = c.linkedUserIsSame;
    EXPECT_EQ(SameAccountRunsElevated(facts), c.same) << int(c.type) << " " << c.inAdministrators;
    EXPECT_EQ(TrustedAccount(facts), c.same ? facts.User() : nullptr);
  }
}

TEST(FolderTrust, RefusesEveryKindOfItemThatOthersCanChange) {
  ScratchDirectory scratch;
  const std::wstring app = scratch.Path() + L"app\\";
  for (const wchar_t* folder : {L"", L"kv-jre", L"kv-jre\\bin", L"kv-jre\\bin\\server", L"kv-lib"}) {
    ASSERT_TRUE(CreateDirectoryW((app + folder).c_str(), nullptr));
  }
  for (const wchar_t* file : {L"lindquay-updater.exe", L"jnidispatch.dll", L"kv-jre\\bin\\java.exe",
                              L"kv-jre\\bin\\server\\jvm.dll", L"kv-lib\\updater.jar"}) {
    WriteBytes(app + file, "x");
  }
  TokenFacts token;
  ReadTokenFacts(token);
  auto judge = [&](std::wstring* reason, const std::wstring& folder = std::wstring()) {
    FolderJudgement judgement;
    const std::wstring& at = folder.empty() ? app : folder;
    DWORD code = judgement.JudgeOnce((at + L"lindquay-updater.exe").c_str(), at.c_str(), token);
    *reason = judgement.Reason() != nullptr ? judgement.Reason() : L"";
    return code;
  };
  std::wstring reason;
  ASSERT_EQ(judge(&reason), 0u) << Utf8(reason);
  wchar_t shortForm[MAX_PATH] = {};
  GetShortPathNameW(app.c_str(), shortForm, MAX_PATH);
  ASSERT_EQ(judge(&reason, shortForm), 0u) << "the 8.3 form " << Utf8(shortForm) << ": " << Utf8(reason);

  const wchar_t* Folder = L"add file, add subfolder, delete child, delete, write attributes";
  const wchar_t* File = L"write data, append data, delete";
  const struct {
    std::wstring item;
    const wchar_t* rights;
  } items[] = {{scratch.Path(), L"delete child, delete"}, {app, Folder}, {app + L"lindquay-updater.exe", File},
               {app + L"jnidispatch.dll", File}, {app + L"kv-jre", Folder}, {app + L"kv-jre\\bin\\java.exe", File},
               {app + L"kv-jre\\bin\\server\\jvm.dll", File}, {app + L"kv-lib", Folder},
               {app + L"kv-lib\\updater.jar", File}};
  for (const auto& c : items) {
    BYTE original[4096];
    DWORD needed = 0;
    ASSERT_TRUE(GetFileSecurityW(c.item.c_str(), DACL_SECURITY_INFORMATION, original, sizeof(original), &needed));
    LetEveryoneChange(c.item);
    EXPECT_EQ(judge(&reason), ErrorFolderNotTrusted) << Utf8(c.item);
    std::wstring named = c.item.back() == L'\\' ? c.item.substr(0, c.item.size() - 1) : c.item;
    EXPECT_EQ(reason, named + L" may be changed by S-1-1-0 (Everyone): " + c.rights);
    SetFileSecurityW(c.item.c_str(), DACL_SECURITY_INFORMATION, original);
  }

  // Beside the launcher, the files it only writes through checked opens,
  // deletes or names are not run, and may be anyone's.
  WriteBytes(app + L"kv-out.txt", "x");
  LetEveryoneChange(app + L"kv-out.txt");
  EXPECT_EQ(judge(&reason), 0u) << Utf8(reason);

  // A name that Win32 trims, and a launcher that is gone: judged as
  // themselves, never as missing.
  const std::wstring jar = L"\\\\?\\" + app + L"kv-lib\\x.jar ";
  WriteBytes(jar, "x");
  LetEveryoneChange(jar);
  EXPECT_EQ(judge(&reason), ErrorFolderNotTrusted);
  EXPECT_EQ(reason, app + L"kv-lib\\x.jar  may be changed by S-1-1-0 (Everyone): " + File);
  DeleteFileW(jar.c_str());
  ASSERT_TRUE(MoveFileW((app + L"lindquay-updater.exe").c_str(), (app + L"moved.exe").c_str()));
  EXPECT_EQ(judge(&reason), ErrorFolderNotTrusted);
  EXPECT_EQ(reason, app + L"lindquay-updater.exe is missing: the running launcher is no longer at its path");
  ASSERT_TRUE(MoveFileW((app + L"moved.exe").c_str(), (app + L"lindquay-updater.exe").c_str()));

  // A link leads where the parents go unjudged. Wine shows the host's link
  // without a tag; Windows shows the junction's.
  ASSERT_TRUE(MakeLink(app + L"kv-lib\\linked", app + L"kv-jre"));
  EXPECT_EQ(judge(&reason), ErrorFolderNotTrusted);
  EXPECT_EQ(reason, app + (UnderWine() ? L"kv-lib\\linked is a reparse point whose tag cannot be read"
                                       : L"kv-lib\\linked is a link or mount point (reparse tag 0xA0000003)"));
  if (UnderWine()) {  // the host's link goes through the host: Wine would remove the folder it names
    RunOnHost("/bin/rm %s", {app + L"kv-lib\\linked"}, [](const std::wstring& link) { return !FileExists(link); });
  }

  FolderJudgement remote;
  EXPECT_EQ(remote.JudgeOnce(L"\\\\server\\share\\lindquay-updater.exe", L"\\\\server\\share\\", token),
            ErrorFolderNotTrusted);
  EXPECT_STREQ(remote.Reason(), L"\\\\server\\share\\lindquay-updater.exe is not on a local drive");
}
