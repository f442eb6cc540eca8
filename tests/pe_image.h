#pragma once
// A read-only look at a PE32+ file as it lies on disk: headers, sections,
// imports, unwind data, load configuration, debug directory and the code at
// the entry point. The one PE reader of the project: the release checks judge
// the built executable with it rather than the flags that built it, and the
// benchmark measures the executable's footprint with it.
#include <windows.h>

#include <string>
#include <vector>

struct PeImport {
  std::string library;                 // as the import table names it
  std::vector<std::string> functions;  // by name; "#n" for an ordinal
};

// The load configuration's fields that the release checks read. Debian's
// mingw-w64 headers declare the structure only up to SEHandlerCount.
struct PeLoadConfig {
  bool present = false;  // a directory of at least the size read here
  DWORD size = 0;
  DWORD timeDateStamp = 0;
  WORD dependentLoadFlags = 0;
  ULONGLONG securityCookie = 0;  // a virtual address
  ULONGLONG guardCheckFunctionPointer = 0;
  ULONGLONG guardDispatchFunctionPointer = 0;
  ULONGLONG guardFunctionTable = 0;
  ULONGLONG guardFunctionCount = 0;
  DWORD guardFlags = 0;
};

struct PeDebugEntry {
  DWORD type = 0;
  DWORD timeDateStamp = 0;
  std::string data;  // the bytes the entry points at, when in the file
};

class PeImage {
 public:
  explicit PeImage(const std::wstring& path);
  // From the bytes of a file; a cut file gives a valid image as long as its
  // headers and section table are whole.
  static PeImage FromBytes(std::string bytes);

  // False when the file is missing or not a 64-bit PE image; every other
  // member then returns empty values.
  bool Valid() const { return valid; }
  const IMAGE_FILE_HEADER& FileHeader() const { return fileHeader; }
  const IMAGE_OPTIONAL_HEADER64& OptionalHeader() const { return optionalHeader; }
  const std::vector<IMAGE_SECTION_HEADER>& Sections() const { return sections; }
  const std::string& Bytes() const { return bytes; }

  std::vector<PeImport> Imports() const;
  PeLoadConfig LoadConfig() const;
  std::vector<PeDebugEntry> DebugEntries() const;
  // The exception directory's entries (.pdata): one per function with unwind
  // data, in address order.
  std::vector<RUNTIME_FUNCTION> RuntimeFunctions() const;
  // The section that holds `rva` in memory, or nullptr.
  const IMAGE_SECTION_HEADER* SectionOf(ULONGLONG rva) const;
  // The section's name, at most eight characters.
  static std::string NameOf(const IMAGE_SECTION_HEADER& section);
  // The section that holds data directory `index`, or nullptr when it is
  // empty or outside every section.
  const IMAGE_SECTION_HEADER* SectionOfDirectory(int index) const;
  const IMAGE_DATA_DIRECTORY& Directory(int index) const;
  // The imported function whose address the loader writes at `slotRva`, as
  // "library!function", or an empty string.
  std::string ImportAtSlot(DWORD slotRva) const;
  // The file bytes behind an RVA, or nullptr when fewer than `count` bytes
  // of raw data stand there.
  const unsigned char* AtRva(DWORD rva, size_t count) const;

 private:
  PeImage() = default;
  void Parse();
  std::string ReadString(DWORD rva) const;
  template <typename T>
  bool ReadRva(DWORD rva, T* value) const;
  // The entries of the table a data directory points at, as far as they
  // can be read.
  template <typename Entry>
  std::vector<Entry> ReadTable(int directoryIndex) const;

  bool valid = false;
  std::string bytes;
  IMAGE_FILE_HEADER fileHeader = {};
  IMAGE_OPTIONAL_HEADER64 optionalHeader = {};
  std::vector<IMAGE_SECTION_HEADER> sections;
};

// What the entry point does before anything else, decoded from its first
// instructions: the function it calls first and the value in ecx, its first
// argument, at that moment.
struct EntryFirstCall {
  bool decoded = false;  // false: something other than stack set-up came first
  std::string callee;    // "library!function" for an import, "local" otherwise
  bool argumentKnown = false;
  DWORD firstArgument = 0;
};
EntryFirstCall FirstCallAtEntry(const PeImage& image);

// Stack frames found in the executable sections: the largest fixed
// allocation (`sub rsp, n`), and how many frames are allocated by a register
// amount (`sub rsp, rax`), which is how a stack probe routine is used.
struct StackFrames {
  DWORD largestFixed = 0;
  int probed = 0;
};
StackFrames ScanStackFrames(const PeImage& image);

// Names of the sections that are both writable and executable.
std::vector<std::string> WritableExecutableSections(const PeImage& image);
