#include "tests/pe_image.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "tests/test_support.h"

namespace {

template <typename T>
bool ReadAt(const std::string& bytes, size_t offset, T* value) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) {
    return false;
  }
  std::memcpy(value, bytes.data() + offset, sizeof(T));
  return true;
}

DWORD Read32(const unsigned char* at) {
  return static_cast<DWORD>(at[0]) | static_cast<DWORD>(at[1]) << 8 | static_cast<DWORD>(at[2]) << 16 |
         static_cast<DWORD>(at[3]) << 24;
}

bool Executable(const IMAGE_SECTION_HEADER& section) {
  return (section.Characteristics & (IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_CNT_CODE)) != 0;
}

}  // namespace

PeImage::PeImage(const std::wstring& path) : bytes(ReadBytes(path)) { Parse(); }

PeImage PeImage::FromBytes(std::string bytes) {
  PeImage image;
  image.bytes = std::move(bytes);
  image.Parse();
  return image;
}

void PeImage::Parse() {
  IMAGE_DOS_HEADER dos = {};
  DWORD signature = 0;
  if (!ReadAt(bytes, 0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
      !ReadAt(bytes, dos.e_lfanew, &signature) || signature != IMAGE_NT_SIGNATURE) {
    return;
  }
  size_t offset = dos.e_lfanew + sizeof(signature);
  if (!ReadAt(bytes, offset, &fileHeader) ||
      fileHeader.SizeOfOptionalHeader < sizeof(optionalHeader) ||
      !ReadAt(bytes, offset + sizeof(fileHeader), &optionalHeader) ||
      optionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    return;
  }
  offset += sizeof(fileHeader) + fileHeader.SizeOfOptionalHeader;
  for (WORD i = 0; i < fileHeader.NumberOfSections; ++i) {
    IMAGE_SECTION_HEADER section = {};
    if (!ReadAt(bytes, offset + i * sizeof(section), &section)) {
      return;
    }
    sections.push_back(section);
  }
  valid = true;
}

const unsigned char* PeImage::AtRva(DWORD rva, size_t count) const {
  for (const IMAGE_SECTION_HEADER& section : sections) {
    if (rva >= section.VirtualAddress && rva - section.VirtualAddress < section.SizeOfRawData) {
      size_t offset = section.PointerToRawData + (rva - section.VirtualAddress);
      size_t available = section.SizeOfRawData - (rva - section.VirtualAddress);
      if (count > available || offset > bytes.size() || bytes.size() - offset < count) {
        return nullptr;
      }
      return reinterpret_cast<const unsigned char*>(bytes.data()) + offset;
    }
  }
  return nullptr;
}

template <typename T>
bool PeImage::ReadRva(DWORD rva, T* value) const {
  const unsigned char* at = AtRva(rva, sizeof(T));
  if (at == nullptr) {
    return false;
  }
  std::memcpy(value, at, sizeof(T));
  return true;
}

const IMAGE_DATA_DIRECTORY& PeImage::Directory(int index) const {
  static const IMAGE_DATA_DIRECTORY none = {};
  return index < static_cast<int>(optionalHeader.NumberOfRvaAndSizes) && index < IMAGE_NUMBEROF_DIRECTORY_ENTRIES
             ? optionalHeader.DataDirectory[index]
             : none;
}

const IMAGE_SECTION_HEADER* PeImage::SectionOf(ULONGLONG rva) const {
  for (const IMAGE_SECTION_HEADER& section : sections) {
    if (rva >= section.VirtualAddress &&
        rva - section.VirtualAddress < std::max(section.Misc.VirtualSize, section.SizeOfRawData)) {
      return &section;
    }
  }
  return nullptr;
}

const IMAGE_SECTION_HEADER* PeImage::SectionOfDirectory(int index) const {
  const IMAGE_DATA_DIRECTORY& directory = Directory(index);
  return directory.Size == 0 ? nullptr : SectionOf(directory.VirtualAddress);
}

std::string PeImage::NameOf(const IMAGE_SECTION_HEADER& section) {
  return std::string(reinterpret_cast<const char*>(section.Name),
                     strnlen(reinterpret_cast<const char*>(section.Name), IMAGE_SIZEOF_SHORT_NAME));
}

PeLoadConfig PeImage::LoadConfig() const {
  // Offsets in IMAGE_LOAD_CONFIG_DIRECTORY64.
  constexpr DWORD DependentLoadFlagsAt = 0x4E, SecurityCookieAt = 0x58, GuardCheckAt = 0x70,
                  GuardDispatchAt = 0x78, GuardTableAt = 0x80, GuardCountAt = 0x88, GuardFlagsAt = 0x90,
                  Needed = 0x94;
  PeLoadConfig config;
  const IMAGE_DATA_DIRECTORY& directory = Directory(IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG);
  DWORD at = directory.VirtualAddress;
  if (!valid || directory.Size < Needed || !ReadRva(at, &config.size) || config.size < Needed ||
      AtRva(at, Needed) == nullptr) {
    return config;
  }
  ReadRva(at + 4, &config.timeDateStamp);
  ReadRva(at + DependentLoadFlagsAt, &config.dependentLoadFlags);
  ReadRva(at + SecurityCookieAt, &config.securityCookie);
  ReadRva(at + GuardCheckAt, &config.guardCheckFunctionPointer);
  ReadRva(at + GuardDispatchAt, &config.guardDispatchFunctionPointer);
  ReadRva(at + GuardTableAt, &config.guardFunctionTable);
  ReadRva(at + GuardCountAt, &config.guardFunctionCount);
  ReadRva(at + GuardFlagsAt, &config.guardFlags);
  config.present = true;
  return config;
}

template <typename Entry>
std::vector<Entry> PeImage::ReadTable(int directoryIndex) const {
  std::vector<Entry> entries;
  const IMAGE_DATA_DIRECTORY& directory = Directory(directoryIndex);
  for (DWORD at = 0; valid && at + sizeof(Entry) <= directory.Size; at += sizeof(Entry)) {
    Entry entry;
    if (!ReadRva(directory.VirtualAddress + at, &entry)) {
      break;
    }
    entries.push_back(entry);
  }
  return entries;
}

std::vector<PeDebugEntry> PeImage::DebugEntries() const {
  std::vector<PeDebugEntry> entries;
  for (const IMAGE_DEBUG_DIRECTORY& raw : ReadTable<IMAGE_DEBUG_DIRECTORY>(IMAGE_DIRECTORY_ENTRY_DEBUG)) {
    PeDebugEntry entry;
    entry.type = raw.Type;
    entry.timeDateStamp = raw.TimeDateStamp;
    if (raw.PointerToRawData < bytes.size() && raw.SizeOfData <= bytes.size() - raw.PointerToRawData) {
      entry.data = bytes.substr(raw.PointerToRawData, raw.SizeOfData);
    }
    entries.push_back(entry);
  }
  return entries;
}

std::vector<RUNTIME_FUNCTION> PeImage::RuntimeFunctions() const {
  return ReadTable<RUNTIME_FUNCTION>(IMAGE_DIRECTORY_ENTRY_EXCEPTION);
}

std::string PeImage::ReadString(DWORD rva) const {
  std::string text;
  for (const unsigned char* at = AtRva(rva, 1); at != nullptr && *at != 0; at = AtRva(++rva, 1)) {
    text += static_cast<char>(*at);
  }
  return text;
}

std::vector<PeImport> PeImage::Imports() const {
  std::vector<PeImport> imports;
  if (!valid || optionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT) {
    return imports;
  }
  DWORD rva = optionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  for (;; rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    const unsigned char* at = AtRva(rva, sizeof(IMAGE_IMPORT_DESCRIPTOR));
    if (at == nullptr) {
      break;
    }
    IMAGE_IMPORT_DESCRIPTOR descriptor;
    std::memcpy(&descriptor, at, sizeof(descriptor));
    if (descriptor.Name == 0) {
      break;
    }
    PeImport library;
    library.library = ReadString(descriptor.Name);
    DWORD names = descriptor.OriginalFirstThunk != 0 ? descriptor.OriginalFirstThunk : descriptor.FirstThunk;
    for (;; names += sizeof(ULONGLONG)) {
      const unsigned char* thunk = AtRva(names, sizeof(ULONGLONG));
      ULONGLONG entry = 0;
      if (thunk == nullptr || (std::memcpy(&entry, thunk, sizeof(entry)), entry == 0)) {
        break;
      }
      if (entry & IMAGE_ORDINAL_FLAG64) {
        library.functions.push_back("#" + std::to_string(entry & 0xFFFF));
      } else {
        // IMAGE_IMPORT_BY_NAME: a two-byte hint, then the name.
        library.functions.push_back(ReadString(static_cast<DWORD>(entry) + sizeof(WORD)));
      }
    }
    imports.push_back(library);
  }
  return imports;
}

std::string PeImage::ImportAtSlot(DWORD slotRva) const {
  if (!valid) {
    return std::string();
  }
  DWORD rva = optionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  std::vector<PeImport> imports = Imports();
  for (const PeImport& library : imports) {
    IMAGE_IMPORT_DESCRIPTOR descriptor;
    std::memcpy(&descriptor, AtRva(rva, sizeof(descriptor)), sizeof(descriptor));
    rva += sizeof(descriptor);
    // The address table runs parallel to the name table.
    if (slotRva >= descriptor.FirstThunk && (slotRva - descriptor.FirstThunk) % sizeof(ULONGLONG) == 0) {
      size_t index = (slotRva - descriptor.FirstThunk) / sizeof(ULONGLONG);
      if (index < library.functions.size()) {
        return library.library + "!" + library.functions[index];
      }
    }
  }
  return std::string();
}

EntryFirstCall FirstCallAtEntry(const PeImage& image) {
  EntryFirstCall result;
  // Long enough for any stack set-up, short enough to stay inside the entry.
  const DWORD window = 64;
  DWORD entry = image.OptionalHeader().AddressOfEntryPoint;
  const unsigned char* code = image.AtRva(entry, window);
  if (code == nullptr) {
    return result;
  }
  DWORD at = 0;
  while (at + 7 <= window) {
    const unsigned char* i = code + at;
    if (i[0] >= 0x50 && i[0] <= 0x57) {  // push r64
      at += 1;
    } else if (i[0] == 0x41 && i[1] >= 0x50 && i[1] <= 0x57) {  // push r8..r15
      at += 2;
    } else if (i[0] == 0x48 && i[1] == 0x83 && i[2] == 0xEC) {  // sub rsp, imm8
      at += 4;
    } else if (i[0] == 0x48 && i[1] == 0x81 && i[2] == 0xEC) {  // sub rsp, imm32
      at += 7;
    } else if (i[0] == 0x0F && i[1] == 0x29 && (i[2] & 0xC7) == 0x84 && i[3] == 0x24) {
      at += 8;  // movaps [rsp + disp32], xmm: a callee-saved register kept
    } else if (i[0] == 0x0F && i[1] == 0x29 && (i[2] & 0xC7) == 0x44 && i[3] == 0x24) {
      at += 5;  // movaps [rsp + disp8], xmm
    } else if (i[0] == 0xB9) {  // mov ecx, imm32
      result.argumentKnown = true;
      result.firstArgument = Read32(i + 1);
      at += 5;
    } else if ((i[0] == 0x48 || i[0] == 0x4C) && i[1] == 0x8D && (i[2] & 0xC7) == 0x05) {
      // lea r64, [rip + disp32]: the address of a global, made ready early.
      if (i[0] == 0x48 && (i[2] & 0x38) == 0x08) {  // into rcx
        result.argumentKnown = false;
      }
      at += 7;
    } else if ((i[0] == 0x31 || i[0] == 0x33) && i[1] == 0xC9) {  // xor ecx, ecx
      result.argumentKnown = true;
      result.firstArgument = 0;
      at += 2;
    } else if (i[0] == 0xFF && i[1] == 0x15) {  // call [rip + disp32]: an import
      DWORD next = entry + at + 6;
      result.decoded = true;
      result.callee = image.ImportAtSlot(next + Read32(i + 2));
      return result;
    } else if (i[0] == 0xE8) {  // call rel32: a function of the executable
      result.decoded = true;
      result.callee = "local";
      return result;
    } else {
      return result;
    }
  }
  return result;
}

StackFrames ScanStackFrames(const PeImage& image) {
  StackFrames frames;
  for (const IMAGE_SECTION_HEADER& section : image.Sections()) {
    if (!Executable(section)) {
      continue;
    }
    DWORD size = section.SizeOfRawData;
    const unsigned char* code = image.AtRva(section.VirtualAddress, size);
    if (code == nullptr) {
      continue;
    }
    for (DWORD at = 0; at + 3 <= size; ++at) {
      const unsigned char* i = code + at;
      if (i[0] != 0x48) {
        continue;
      }
      if (i[1] == 0x83 && i[2] == 0xEC && at + 4 <= size) {
        frames.largestFixed = std::max<DWORD>(frames.largestFixed, i[3]);
      } else if (i[1] == 0x81 && i[2] == 0xEC && at + 7 <= size) {
        frames.largestFixed = std::max(frames.largestFixed, Read32(i + 3));
      } else if (i[1] == 0x29 && i[2] == 0xC4) {
        ++frames.probed;
      }
    }
  }
  return frames;
}

std::vector<std::string> WritableExecutableSections(const PeImage& image) {
  std::vector<std::string> names;
  for (const IMAGE_SECTION_HEADER& section : image.Sections()) {
    if (Executable(section) && (section.Characteristics & IMAGE_SCN_MEM_WRITE) != 0) {
      names.push_back(PeImage::NameOf(section));
    }
  }
  return names;
}
