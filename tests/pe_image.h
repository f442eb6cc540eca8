#pragma once
// A read-only look at a PE32+ file as it lies on disk: headers, sections,
// imports and the code at the entry point. Enough for the release checks,
// which judge the built executable rather than the flags that built it.
#include <windows.h>

#include <string>
#include <vector>

struct PeImport {
  std::string library;                 // as the import table names it
  std::vector<std::string> functions;  // by name; "#n" for an ordinal
};

class PeImage {
 public:
  explicit PeImage(const std::wstring& path);

  // False when the file is missing or not a 64-bit PE image; every other
  // member then returns empty values.
  bool Valid() const { return valid; }
  const IMAGE_FILE_HEADER& FileHeader() const { return fileHeader; }
  const IMAGE_OPTIONAL_HEADER64& OptionalHeader() const { return optionalHeader; }
  const std::vector<IMAGE_SECTION_HEADER>& Sections() const { return sections; }
  const std::string& Bytes() const { return bytes; }

  std::vector<PeImport> Imports() const;
  // The imported function whose address the loader writes at `slotRva`, as
  // "library!function", or an empty string.
  std::string ImportAtSlot(DWORD slotRva) const;
  // The file bytes behind an RVA, or nullptr when fewer than `count` bytes
  // of raw data stand there.
  const unsigned char* AtRva(DWORD rva, size_t count) const;

 private:
  std::string ReadString(DWORD rva) const;

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
