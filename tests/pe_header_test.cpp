// The built executable's PE header, sections, imports and entry code: what
// ASLR, DEP and the DLL search restriction rest on. Each check also runs on a
// deliberately careless control executable, to show that it catches the fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "tests/pe_image.h"
#include "tests/test_support.h"

namespace {

const WORD HardeningFlags = IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE | IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA |
                            IMAGE_DLLCHARACTERISTICS_NX_COMPAT | IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE;
// One page: a larger frame must be touched page by page by a probe routine.
const DWORD PageSize = 4096;

PeImage Launcher() { return PeImage(TestProgramDirectory() + L"lindquay-updater.exe"); }
PeImage CarelessControl() { return PeImage(TestProgramDirectory() + L"careless-pe-control.exe"); }

std::vector<std::string> ImportedLibraries(const PeImage& image) {
  std::vector<std::string> names;
  for (const PeImport& library : image.Imports()) {
    std::string name = library.library;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool Contains(const std::string& haystack, const std::wstring& needle) {
  std::string narrow = Utf8(needle);
  std::string wide(reinterpret_cast<const char*>(needle.data()), needle.size() * sizeof(wchar_t));
  return haystack.find(narrow) != std::string::npos || haystack.find(wide) != std::string::npos;
}

}  // namespace

TEST(PeHeader, LauncherIsA64BitConsoleProgramWithEveryMitigation) {
  PeImage image = Launcher();
  ASSERT_TRUE(image.Valid());
  EXPECT_EQ(image.FileHeader().Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(image.OptionalHeader().Subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI);
  EXPECT_EQ(image.OptionalHeader().DllCharacteristics & HardeningFlags, HardeningFlags);
  // Dynamic base needs an image the loader may move: relocations not
  // stripped. The code reaches its data relative to the instruction pointer
  // and holds no absolute address, so there is nothing to relocate and no
  // relocation table (the linker would write one for any absolute address);
  // high-entropy ASLR needs an image that may be placed above 4 GiB.
  EXPECT_EQ(image.FileHeader().Characteristics & IMAGE_FILE_RELOCS_STRIPPED, 0);
  EXPECT_NE(image.FileHeader().Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE, 0);
}

TEST(PeHeader, NoSectionIsBothWritableAndExecutable) {
  PeImage image = Launcher();
  ASSERT_TRUE(image.Valid());
  EXPECT_FALSE(image.Sections().empty());
  EXPECT_EQ(WritableExecutableSections(image), std::vector<std::string>());
}

TEST(PeHeader, ImportsExactlyTheFourSystemLibraries) {
  PeImage image = Launcher();
  ASSERT_TRUE(image.Valid());
  EXPECT_EQ(ImportedLibraries(image), (std::vector<std::string>{"kernel32.dll", "ole32.dll", "shell32.dll", "user32.dll"}));
  // Nothing that loads later behind the table's back.
  EXPECT_EQ(image.OptionalHeader().DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].Size, 0u);
}

TEST(PeHeader, EntryPointFirstRestrictsTheDllSearchToSystem32) {
  PeImage image = Launcher();
  ASSERT_TRUE(image.Valid());
  EntryFirstCall first = FirstCallAtEntry(image);
  ASSERT_TRUE(first.decoded) << "the entry point does something before its first call";
  EXPECT_EQ(first.callee, "KERNEL32.dll!SetDefaultDllDirectories");
  EXPECT_TRUE(first.argumentKnown);
  EXPECT_EQ(first.firstArgument, static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32));
}

TEST(PeHeader, EveryStackFrameFitsInOnePageWithoutAProbe) {
  PeImage image = Launcher();
  ASSERT_TRUE(image.Valid());
  StackFrames frames = ScanStackFrames(image);
  EXPECT_GT(frames.largestFixed, 0u);
  EXPECT_LT(frames.largestFixed, PageSize);
  EXPECT_EQ(frames.probed, 0);
}

TEST(PeHeader, NothingTiesTheFileToTheTimeOrPlaceOfItsBuild) {
  PeImage image = Launcher();
  ASSERT_TRUE(image.Valid());
  EXPECT_EQ(image.FileHeader().TimeDateStamp, 0u);
  EXPECT_EQ(image.OptionalHeader().DataDirectory[IMAGE_DIRECTORY_ENTRY_DEBUG].Size, 0u);
  EXPECT_FALSE(Contains(image.Bytes(), LINDQUAY_SOURCE_DIR));
  EXPECT_FALSE(Contains(image.Bytes(), LINDQUAY_BINARY_DIR));
}

TEST(PeHeader, EveryCheckCatchesTheCarelessControl) {
  PeImage image = CarelessControl();
  ASSERT_TRUE(image.Valid());
  EXPECT_EQ(image.OptionalHeader().DllCharacteristics & HardeningFlags, 0);
  EXPECT_EQ(WritableExecutableSections(image), std::vector<std::string>{".wxcode"});
  EXPECT_EQ(ImportedLibraries(image), (std::vector<std::string>{"advapi32.dll", "kernel32.dll"}));
  EntryFirstCall first = FirstCallAtEntry(image);
  EXPECT_TRUE(first.decoded);
  EXPECT_EQ(first.callee, "KERNEL32.dll!GetTickCount");
  StackFrames frames = ScanStackFrames(image);
  EXPECT_GT(frames.probed, 0);
  EXPECT_NE(image.FileHeader().TimeDateStamp, 0u);
}
