// The judgement of the launcher's folder, on security descriptors written in
// SDDL: Wine keeps only what Unix mode bits can say, so finer descriptors
// are judged here rather than read from files.
#include "launcher/folder_trust.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>

#include "tests/test_support.h"

namespace {

bool Judge(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
      << Utf8(sddl);
  bool changeable = BroadGroupsCanChange(descriptor);
  LocalFree(descriptor);
  return changeable;
}

// Program Files as Windows sets it up: administrators, SYSTEM and the
// installer service may change it; Users, like the app containers, read and
// execute; CREATOR OWNER's full control applies to children only.
constexpr const wchar_t* ProgramFiles =
    L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464G:SY"
    L"D:PAI(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
    L"(A;CIIO;GA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
    L"(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
    L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)(A;OICIIO;GXGR;;;AC)";

}  // namespace

TEST(FolderTrust, RefusesWhatBroadGroupsCanChangeAndOnlyThat) {
  const struct {
    const wchar_t* sddl;
    bool changeable;
  } cases[] = {
      {ProgramFiles, false},
      {L"O:BAD:(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1301bf;;;S-1-5-21-1-2-3-1001)", false},  // one user's own rights
      {L"O:BAD:(A;;FA;;;BA)(A;;0x1301bf;;;BU)", true},                               // Users may modify
      {L"O:BAD:(A;;FA;;;BA)(A;;FW;;;WD)", true},                                    // Everyone may write
      {L"O:BAD:(A;;FA;;;BA)(A;;0x2;;;AU)", true},                                   // Authenticated Users add files
      {L"O:BAD:(A;;FA;;;BA)(A;;0x4;;;IU)", true},                                   // INTERACTIVE adds folders
      {L"O:BAD:(A;;FA;;;BA)(A;;0x40;;;BU)", true},                                  // delete children
      {L"O:BAD:(A;;FA;;;BA)(A;;SD;;;WD)", true},                                    // delete
      {L"O:BAD:(A;;FA;;;BA)(A;;WD;;;BU)", true},                                    // change permissions
      {L"O:BAD:(A;;FA;;;BA)(A;;WO;;;AU)", true},                                    // change owner
      {L"O:BAD:(A;;FA;;;BA)(A;;GW;;;WD)", true},                                    // generic write
      {L"O:BAD:(A;;FA;;;BA)(A;;GA;;;BU)", true},                                    // generic all
      {L"O:BAD:(A;;FA;;;BA)(A;OICIIO;GA;;;BU)(A;;0x1200a9;;;BU)", false},           // children only
      {L"O:BAD:(D;;FA;;;WD)(A;;FA;;;BA)(A;;0x1301bf;;;BU)", false},                 // denied before granted
      {L"O:BAD:(A;;0x1301bf;;;BU)(D;;FA;;;WD)", true},                              // granted before denied
      {L"O:BUD:(A;;FA;;;BA)", true},                                                // Users own it
      {L"O:BA", true},                                                              // no DACL at all
      {L"O:BAD:", false},                                                           // an empty DACL
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Judge(c.sddl), c.changeable) << Utf8(c.sddl);
  }
  // A present but null DACL grants everyone everything.
  SECURITY_DESCRIPTOR nullDacl;
  InitializeSecurityDescriptor(&nullDacl, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&nullDacl, /* bDaclPresent */ TRUE, /* pDacl */ nullptr, /* bDaclDefaulted */ FALSE);
  EXPECT_TRUE(BroadGroupsCanChange(&nullDacl));
}

TEST(FolderTrust, PassesOverMissingItemsAndRefusesAnEveryoneWritableOne) {
  ScratchDirectory scratch;
  EXPECT_EQ(CheckFolderTrusted(scratch.Path().c_str()), 0u);
  std::wstring lib = scratch.Path() + L"kv-lib";
  ASSERT_TRUE(CreateDirectoryW(lib.c_str(), nullptr));
  EXPECT_EQ(CheckFolderTrusted(scratch.Path().c_str()), 0u);
  // Wine keeps what the Unix mode bits can say: Everyone's write becomes the
  // "other" write bit, and is read back as such.
  PSECURITY_DESCRIPTOR writable = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:(A;;FA;;;WD)", SDDL_REVISION_1, &writable, nullptr));
  ASSERT_TRUE(SetFileSecurityW(lib.c_str(), DACL_SECURITY_INFORMATION, writable));
  LocalFree(writable);
  EXPECT_EQ(CheckFolderTrusted(scratch.Path().c_str()), ErrorFolderNotTrusted);
}
