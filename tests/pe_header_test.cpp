// The built executable's PE header, sections, imports, unwind data, load
// configuration, debug directory and entry code: what ASLR, DEP, Control Flow
// Guard, the loader-seeded stack guard and the DLL search restriction rest
// on. Each check also runs on a deliberately careless control executable, to
// show that it catches the fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
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

// Readable, neither writable nor executable.
bool ReadOnly(const IMAGE_SECTION_HEADER* section) {
  return section != nullptr && (section->Characteristics & IMAGE_SCN_MEM_READ) != 0 &&
         (section->Characteristics & (IMAGE_SCN_MEM_WRITE | IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_CNT_CODE)) == 0;
}

bool Executable(const IMAGE_SECTION_HEADER* section) {
  return section != nullptr && (section->Characteristics & (IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_CNT_CODE)) != 0;
}

// The value the loader replaces with a random one, in a guard that the load
// configuration's SecurityCookie points at.
const ULONGLONG DefaultSecurityCookie = 0x00002B992DDFA232ull;
const DWORD CfInstrumented = 0x100;          // IMAGE_GUARD_CF_INSTRUMENTED
const DWORD CfFunctionTablePresent = 0x400;  // IMAGE_GUARD_CF_FUNCTION_TABLE_PRESENT
const DWORD DebugTypeCodeView = 2;           // IMAGE_DEBUG_TYPE_CODEVIEW
const DWORD DebugTypeExDllCharacteristics = 20;
const DWORD ExDllCetCompat = 0x1;

// The PDB name of a CodeView (RSDS) record: after its signature, GUID and
// age. Empty when the record is no RSDS record.
std::string CodeViewPdbName(const PeDebugEntry& entry) {
  const size_t nameOffset = 4 + 16 + 4;
  if (entry.data.size() <= nameOffset || entry.data.compare(0, 4, "RSDS") != 0) {
    return std::string();
  }
  return std::string(entry.data.c_str() + nameOffset);
}

struct HardeningCheck {
  const char* name;
  std::function<bool(const PeImage&)> holds;
};

// What a Windows security review reads from the file, one property a row.
const HardeningCheck HardeningChecks[] = {
    {"code alone is executable: no data directory lies in an executable section",
     [](const PeImage& image) {
       for (int index = 0; index < IMAGE_NUMBEROF_DIRECTORY_ENTRIES; ++index) {
         if (Executable(image.SectionOfDirectory(index))) {
           return false;
         }
       }
       return std::any_of(image.Sections().begin(), image.Sections().end(),
                          [](const IMAGE_SECTION_HEADER& section) { return Executable(&section); });
     }},
    {"import directory and address table in a read-only section",
     [](const PeImage& image) {
       return ReadOnly(image.SectionOfDirectory(IMAGE_DIRECTORY_ENTRY_IMPORT)) &&
              ReadOnly(image.SectionOfDirectory(IMAGE_DIRECTORY_ENTRY_IAT));
     }},
    {"unwind data in a read-only section, for code only, the entry point's included",
     [](const PeImage& image) {
       std::vector<RUNTIME_FUNCTION> functions = image.RuntimeFunctions();
       DWORD entry = image.OptionalHeader().AddressOfEntryPoint;
       bool entryCovered = false;
       for (const RUNTIME_FUNCTION& function : functions) {
         if (!Executable(image.SectionOf(function.BeginAddress)) || !ReadOnly(image.SectionOf(function.UnwindData))) {
           return false;
         }
         entryCovered = entryCovered || (entry >= function.BeginAddress && entry < function.EndAddress);
       }
       return entryCovered && ReadOnly(image.SectionOfDirectory(IMAGE_DIRECTORY_ENTRY_EXCEPTION));
     }},
    {"resources in a read-only section",
     [](const PeImage& image) { return ReadOnly(image.SectionOfDirectory(IMAGE_DIRECTORY_ENTRY_RESOURCE)); }},
    {"load configuration in a read-only section, stamped with no time",
     [](const PeImage& image) {
       return ReadOnly(image.SectionOfDirectory(IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG)) && image.LoadConfig().present &&
              image.LoadConfig().timeDateStamp == 0;
     }},
    {"Control Flow Guard: GUARD_CF, instrumented, with a function table",
     [](const PeImage& image) {
       PeLoadConfig config = image.LoadConfig();
       ULONGLONG base = image.OptionalHeader().ImageBase;
       return (image.OptionalHeader().DllCharacteristics & IMAGE_DLLCHARACTERISTICS_GUARD_CF) != 0 &&
              (config.guardFlags & (CfInstrumented | CfFunctionTablePresent)) ==
                  (CfInstrumented | CfFunctionTablePresent) &&
              config.guardFunctionCount > 0 && config.guardFunctionTable > base &&
              ReadOnly(image.SectionOf(config.guardFunctionTable - base)) &&
              ReadOnly(image.SectionOf(config.guardCheckFunctionPointer - base)) &&
              ReadOnly(image.SectionOf(config.guardDispatchFunctionPointer - base));
     }},
    {"DependentLoadFlags: LOAD_LIBRARY_SEARCH_SYSTEM32",
     [](const PeImage& image) { return image.LoadConfig().dependentLoadFlags == LOAD_LIBRARY_SEARCH_SYSTEM32; }},
    {"SecurityCookie: a writable guard that holds the loader's default cookie",
     [](const PeImage& image) {
       ULONGLONG base = image.OptionalHeader().ImageBase;
       ULONGLONG cookie = image.LoadConfig().securityCookie;
       const IMAGE_SECTION_HEADER* section = cookie > base ? image.SectionOf(cookie - base) : nullptr;
       const unsigned char* guard = cookie > base ? image.AtRva(static_cast<DWORD>(cookie - base), 8) : nullptr;
       ULONGLONG value = 0;
       if (guard != nullptr) {
         std::memcpy(&value, guard, sizeof(value));
       }
       return section != nullptr && (section->Characteristics & IMAGE_SCN_MEM_WRITE) != 0 && !Executable(section) &&
              value == DefaultSecurityCookie;
     }},
    {"debug directory: the CET-compatible mark",
     [](const PeImage& image) {
       for (const PeDebugEntry& entry : image.DebugEntries()) {
         DWORD flags = 0;
         if (entry.type == DebugTypeExDllCharacteristics && entry.data.size() >= sizeof(flags)) {
           std::memcpy(&flags, entry.data.data(), sizeof(flags));
           return (flags & ExDllCetCompat) != 0;
         }
       }
       return false;
     }},
    {"debug directory: no time stamp; a CodeView record names lindquay-updater.pdb alone, without a folder",
     [](const PeImage& image) {
       std::vector<PeDebugEntry> entries = image.DebugEntries();
       return image.FileHeader().TimeDateStamp == 0 &&
              std::none_of(entries.begin(), entries.end(), [](const PeDebugEntry& entry) {
                return entry.timeDateStamp != 0 ||
                       (entry.type == DebugTypeCodeView && CodeViewPdbName(entry) != "lindquay-updater.pdb");
              });
     }},
};

// Only clang-19 with lld-19 (LINDQUAY_RELEASE_HARDENING) gives the
// executable what HardeningChecks look for.
const char NotTheReleaseToolchain[] =
    "not the release toolchain: GNU ld writes no load configuration (no Control Flow Guard, no loader-seeded "
    "stack guard, no DependentLoadFlags) and no CET mark, its linker script keeps the import tables in the code "
    "section, that build has no unwind data, and windres leaves .rsrc writable";

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
  // ole32 is loaded on demand, from System32, by the elevated start alone.
  EXPECT_EQ(ImportedLibraries(image),
            (std::vector<std::string>{"advapi32.dll", "kernel32.dll", "shell32.dll", "user32.dll"}));
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
  EXPECT_FALSE(Contains(image.Bytes(), LINDQUAY_SOURCE_DIR));
  EXPECT_FALSE(Contains(image.Bytes(), LINDQUAY_BINARY_DIR));
}

TEST(PeHeader, SectionsByPrivilegeAndEveryLoaderMitigation) {
  if (!LINDQUAY_RELEASE_HARDENING) {
    GTEST_SKIP() << NotTheReleaseToolchain;
  }
  PeImage image = Launcher();
  ASSERT_TRUE(image.Valid());
  for (const HardeningCheck& check : HardeningChecks) {
    EXPECT_TRUE(check.holds(image)) << check.name;
  }
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
  if (!LINDQUAY_RELEASE_HARDENING) {
    GTEST_SKIP() << NotTheReleaseToolchain;
  }
  for (const HardeningCheck& check : HardeningChecks) {
    EXPECT_FALSE(check.holds(image)) << check.name;
  }
}
