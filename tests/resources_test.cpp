// The built executable's resources, read back through the system's own
// resource, version and icon functions: what Explorer, the file properties
// dialog and the elevation prompt show about the launcher.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "lindquay_version.h"
#include "tests/test_support.h"

namespace {

const WORD IconGroupId = 101;
const DWORD IconFormatVersion = 0x00030000;  // what CreateIconFromResourceEx expects
const WORD UsEnglish = 0x0409;
const WORD UnicodeCodePage = 1200;
// The version the build was configured with, in the fixed fields' halves.
const DWORD ConfiguredVersionHigh = MAKELONG(LINDQUAY_VERSION_MINOR, LINDQUAY_VERSION_MAJOR);
const DWORD ConfiguredVersionLow = MAKELONG(LINDQUAY_VERSION_TWEAK, LINDQUAY_VERSION_PATCH);
const wchar_t ConfiguredVersion[] = L"" LINDQUAY_VERSION_TEXT;

// The executable, mapped as a file of resources only: none of its code runs.
class LauncherResources : public ::testing::Test {
 protected:
  void SetUp() override {
    path = TestProgramDirectory() + L"lindquay-updater.exe";
    module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << GetLastError();
  }
  void TearDown() override {
    if (module != nullptr) {
      FreeLibrary(module);
    }
  }

  std::string Resource(const wchar_t* type, WORD id) const {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) {
      return std::string();
    }
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    return std::string(data, SizeofResource(module, found));
  }

  std::vector<WORD> ResourceIds(const wchar_t* type) const {
    std::vector<WORD> ids;
    EnumResourceNamesW(
        module, type,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) -> BOOL {
          // A named resource shows as 0xFFFF, which no test expects.
          reinterpret_cast<std::vector<WORD>*>(found)->push_back(IS_INTRESOURCE(name) ? LOWORD(name) : 0xFFFF);
          return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&ids));
    std::sort(ids.begin(), ids.end());
    return ids;
  }

  std::wstring path;
  HMODULE module = nullptr;
};

// The element names of an XML text, in order of appearance.
std::vector<std::string> ElementNames(const std::string& xml) {
  std::vector<std::string> names;
  for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
    if (at + 1 < xml.size() && (std::isalpha(static_cast<unsigned char>(xml[at + 1])) != 0)) {
      size_t end = xml.find_first_of(" \t\r\n/>", at + 1);
      names.push_back(xml.substr(at + 1, end - at - 1));
    }
  }
  return names;
}

// One node of a raw version resource: a key, a value and children, each
// aligned to four bytes from the start of the block.
struct VersionNode {
  std::wstring key;
  WORD type = 0;  // 1: the value is text
  std::string value;
  std::vector<VersionNode> children;
};

size_t Align4(size_t offset) { return (offset + 3) & ~size_t{3}; }

bool ParseVersionNode(const std::string& block, size_t offset, VersionNode* node, size_t* end) {
  WORD header[3];
  if (offset + sizeof(header) > block.size()) {
    return false;
  }
  std::memcpy(header, block.data() + offset, sizeof(header));
  const WORD length = header[0], valueLength = header[1];
  node->type = header[2];
  *end = offset + length;
  if (length < sizeof(header) || *end > block.size()) {
    return false;
  }
  size_t at = offset + sizeof(header);
  for (wchar_t c; at + sizeof(c) <= *end; at += sizeof(c)) {
    std::memcpy(&c, block.data() + at, sizeof(c));
    if (c == 0) {
      break;
    }
    node->key += c;
  }
  at = Align4(at + sizeof(wchar_t));
  size_t valueBytes = node->type == 1 ? valueLength * sizeof(wchar_t) : valueLength;
  if (at + valueBytes > *end) {
    return false;
  }
  node->value = block.substr(at, valueBytes);
  for (at = Align4(at + valueBytes); at < *end; at = Align4(at)) {
    VersionNode child;
    if (!ParseVersionNode(block, at, &child, &at)) {
      return false;
    }
    node->children.push_back(child);
  }
  return true;
}

std::vector<std::wstring> Keys(const std::vector<VersionNode>& nodes) {
  std::vector<std::wstring> keys;
  for (const VersionNode& node : nodes) {
    keys.push_back(node.key);
  }
  return keys;
}

// Width, height and bits per pixel of one icon image, from its own header:
// a BITMAPINFOHEADER (whose height counts the mask too) or a PNG's IHDR.
struct IconImage {
  int width = 0;
  int height = 0;
  int bits = 0;
  bool png = false;
  DWORD paletteEntries = 0;
};

DWORD BigEndian32(const std::string& bytes, size_t at) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
  return static_cast<DWORD>(b[0]) << 24 | static_cast<DWORD>(b[1]) << 16 | static_cast<DWORD>(b[2]) << 8 | b[3];
}

IconImage ReadIconImage(const std::string& bytes) {
  IconImage image;
  static const char PngSignature[] = "\x89PNG\r\n\x1a\n";
  if (bytes.compare(0, 8, PngSignature, 8) == 0) {
    if (bytes.size() < 29 || bytes.compare(12, 4, "IHDR") != 0) {
      return image;
    }
    image.png = true;
    image.width = static_cast<int>(BigEndian32(bytes, 16));
    image.height = static_cast<int>(BigEndian32(bytes, 20));
    const int depth = static_cast<unsigned char>(bytes[24]);
    const int colourType = static_cast<unsigned char>(bytes[25]);
    // Channels by PNG colour type: grey, -, RGB, palette, grey+alpha, -, RGBA.
    static const int Channels[] = {1, 0, 3, 1, 2, 0, 4};
    image.bits = colourType < 7 ? depth * Channels[colourType] : 0;
    return image;
  }
  BITMAPINFOHEADER header;
  if (bytes.size() < sizeof(header)) {
    return image;
  }
  std::memcpy(&header, bytes.data(), sizeof(header));
  image.width = header.biWidth;
  image.height = header.biHeight / 2;
  image.bits = header.biBitCount;
  image.paletteEntries = header.biBitCount <= 8 && header.biClrUsed == 0 ? 1u << header.biBitCount : header.biClrUsed;
  return image;
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width;  // 0 stands for 256
  BYTE height;
  BYTE colourCount;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytesInResource;
  WORD id;
};
#pragma pack(pop)

SIZE IconSize(HICON icon) {
  SIZE size = {};
  ICONINFO info = {};
  if (icon != nullptr && GetIconInfo(icon, &info)) {
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
    size.cx = bitmap.bmWidth;
    size.cy = bitmap.bmHeight;
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
  }
  return size;
}

}  // namespace

TEST_F(LauncherResources, ManifestAsksOnlyToRunAsTheInvokerOnEverySupportedWindowsWithLongPaths) {
  EXPECT_EQ(ResourceIds(RT_MANIFEST), std::vector<WORD>{1});
  std::string manifest = Resource(RT_MANIFEST, 1);
  ASSERT_FALSE(manifest.empty());
  EXPECT_EQ(ElementNames(manifest),
            (std::vector<std::string>{"assembly", "trustInfo", "security", "requestedPrivileges",
                                      "requestedExecutionLevel", "compatibility", "application", "supportedOS",
                                      "supportedOS", "supportedOS", "supportedOS", "application", "windowsSettings",
                                      "longPathAware"}));
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"), std::string::npos)
      << manifest;
  // Windows 10 and 11, 8.1, 8 and 7: without them Windows applies the
  // behaviour it keeps for programs written before it.
  for (const char* id : {"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                         "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"}) {
    EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"") + id + "\"/>"), std::string::npos) << id;
  }
  EXPECT_NE(manifest.find("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true"
                          "</longPathAware>"),
            std::string::npos);
}

TEST_F(LauncherResources, VersionBlockHasOneUsEnglishUnicodeTableAndTheConfiguredVersion) {
  EXPECT_EQ(ResourceIds(RT_VERSION), std::vector<WORD>{1});
  VersionNode root;
  size_t end = 0;
  std::string block = Resource(RT_VERSION, 1);
  ASSERT_TRUE(ParseVersionNode(block, 0, &root, &end));
  EXPECT_EQ(root.key, L"VS_VERSION_INFO");
  ASSERT_EQ(Keys(root.children), (std::vector<std::wstring>{L"StringFileInfo", L"VarFileInfo"}));
  EXPECT_EQ(Keys(root.children[0].children), std::vector<std::wstring>{L"040904B0"});
  ASSERT_EQ(Keys(root.children[1].children), std::vector<std::wstring>{L"Translation"});
  const WORD translation[] = {UsEnglish, UnicodeCodePage};
  EXPECT_EQ(root.children[1].children[0].value, std::string(reinterpret_cast<const char*>(translation), sizeof(translation)));

  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_NE(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
  ASSERT_EQ(fixedSize, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, ConfiguredVersionHigh);
  EXPECT_EQ(fixed->dwFileVersionLS, ConfiguredVersionLow);
  EXPECT_EQ(fixed->dwProductVersionMS, ConfiguredVersionHigh);
  EXPECT_EQ(fixed->dwProductVersionLS, ConfiguredVersionLow);
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);  // no debug, pre-release or patched build
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(fixed->dwFileDateMS, 0u);
  EXPECT_EQ(fixed->dwFileDateLS, 0u);

  WORD* languages = nullptr;
  UINT languagesSize = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&languages), &languagesSize));
  ASSERT_EQ(languagesSize, 2 * sizeof(WORD));
  EXPECT_EQ(languages[0], UsEnglish);
  EXPECT_EQ(languages[1], UnicodeCodePage);
}

TEST_F(LauncherResources, VersionStringsAreExactlyTheseAndReadBackThroughVerQueryValue) {
  const struct {
    const wchar_t* name;
    const wchar_t* value;
  } expected[] = {
      {L"CompanyName", L"Korvane Software"},
      {L"FileDescription", L"Lindquay updater"},
      {L"FileVersion", ConfiguredVersion},
      {L"InternalName", L"lindquay-updater.exe"},
      {L"LegalCopyright", L"Copyright (C) Korvane Software. All rights reserved."},
      {L"OriginalFilename", L"lindquay-updater.exe"},
      {L"ProductName", L"Lindquay updater"},
      {L"ProductVersion", ConfiguredVersion},
  };

  VersionNode root;
  size_t end = 0;
  ASSERT_TRUE(ParseVersionNode(Resource(RT_VERSION, 1), 0, &root, &end));
  ASSERT_FALSE(root.children.empty());
  ASSERT_FALSE(root.children[0].children.empty());
  std::vector<std::wstring> names = Keys(root.children[0].children[0].children);
  std::sort(names.begin(), names.end());
  std::vector<std::wstring> expectedNames;
  for (const auto& string : expected) {
    expectedNames.push_back(string.name);
  }
  // No other string: in particular, no build date or machine name.
  EXPECT_EQ(names, expectedNames);

  DWORD ignored = 0;
  std::vector<char> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  for (const auto& string : expected) {
    wchar_t* value = nullptr;
    UINT length = 0;
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + string.name;
    ASSERT_TRUE(VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) << Utf8(query);
    EXPECT_EQ(std::wstring(value), string.value) << Utf8(query);
  }
}

TEST_F(LauncherResources, OneIconGroupOfSixImagesWithTheirSizesAndDepths) {
  EXPECT_EQ(ResourceIds(RT_GROUP_ICON), std::vector<WORD>{IconGroupId});
  std::string group = Resource(RT_GROUP_ICON, IconGroupId);
  ASSERT_GE(group.size(), 3 * sizeof(WORD));
  WORD header[3];
  std::memcpy(header, group.data(), sizeof(header));
  EXPECT_EQ(header[0], 0);  // reserved
  EXPECT_EQ(header[1], 1);  // icons, not cursors
  const WORD count = header[2];
  ASSERT_EQ(group.size(), sizeof(header) + count * sizeof(GroupIconEntry));

  // Width and bits per pixel of each image, as the group lists them and as
  // the image's own header says; the system decodes each to its size.
  std::multiset<std::pair<int, int>> listed, stored, decoded;
  std::vector<WORD> ids;
  for (WORD i = 0; i < count; ++i) {
    GroupIconEntry entry;
    std::memcpy(&entry, group.data() + sizeof(header) + i * sizeof(entry), sizeof(entry));
    const int width = entry.width == 0 ? 256 : entry.width;
    const int height = entry.height == 0 ? 256 : entry.height;
    EXPECT_EQ(width, height);
    EXPECT_EQ(entry.planes, 1);
    listed.insert({width, entry.bitCount});
    ids.push_back(entry.id);

    std::string bytes = Resource(RT_ICON, entry.id);
    ASSERT_EQ(bytes.size(), entry.bytesInResource) << "image " << entry.id;
    IconImage image = ReadIconImage(bytes);
    EXPECT_EQ(image.width, width) << "image " << entry.id;
    EXPECT_EQ(image.height, height) << "image " << entry.id;
    EXPECT_EQ(image.bits, entry.bitCount) << "image " << entry.id;
    // Windows reads PNG images only at 256x256.
    EXPECT_EQ(image.png, width == 256) << "image " << entry.id;
    if (image.bits == 8) {
      EXPECT_EQ(entry.colourCount, 0) << "image " << entry.id;  // 0 stands for 256 colours
      EXPECT_EQ(image.paletteEntries, 256u) << "image " << entry.id;
    }
    stored.insert({image.width, image.bits});

    HICON icon = CreateIconFromResourceEx(
        /* presbits */ reinterpret_cast<BYTE*>(bytes.data()),
        /* dwResSize */ static_cast<DWORD>(bytes.size()),
        /* fIcon */ TRUE,
        /* dwVer */ IconFormatVersion,
        /* cxDesired */ width,
        /* cyDesired */ height,
        /* Flags */ LR_DEFAULTCOLOR);
    ASSERT_NE(icon, nullptr) << "image " << entry.id;
    SIZE size = IconSize(icon);
    decoded.insert({static_cast<int>(size.cx), image.bits});
    EXPECT_EQ(size.cy, height) << "image " << entry.id;
    DestroyIcon(icon);
  }
  const std::multiset<std::pair<int, int>> expected = {{16, 8}, {32, 8}, {16, 32}, {32, 32}, {48, 32}, {256, 32}};
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(stored, expected);
  EXPECT_EQ(decoded, expected);
  // No image outside the group.
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ResourceIds(RT_ICON), ids);
}

TEST_F(LauncherResources, SystemLoadsTheIconAtEachSizeItHolds) {
  for (int size : {16, 32, 48, 256}) {
    HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IconGroupId), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    ASSERT_NE(icon, nullptr) << size;
    SIZE loaded = IconSize(icon);
    EXPECT_EQ(loaded.cx, size);
    EXPECT_EQ(loaded.cy, size);
    DestroyIcon(icon);
  }
}
