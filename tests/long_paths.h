#pragma once
// Deep directories of an exact path length, and a record of everything under
// a tree, to prove that a run in a deep directory leaves its ancestors alone.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

// Creates `base` (ending in a backslash) and directories below it until the
// path, trailing backslash included, has exactly `length` characters. Every
// name stays under 150 characters, well inside what any file system takes.
inline std::wstring MakeDirectoryOfLength(const std::wstring& base, size_t length) {
  std::wstring path = base;
  CreateDirectoryW(path.c_str(), nullptr);
  while (length - path.size() > 150) {
    path += std::wstring(99, L'd') + L"\\";
    CreateDirectoryW(path.c_str(), nullptr);
  }
  path += std::wstring(length - path.size() - 1, L'e') + L"\\";
  CreateDirectoryW(path.c_str(), nullptr);
  return path;
}

// The directories from `base` down to the parent of `directory`.
inline std::vector<std::wstring> AncestorsBelow(const std::wstring& base, const std::wstring& directory) {
  std::vector<std::wstring> ancestors;
  for (size_t end = directory.find(L'\\', base.size() - 1); end != std::wstring::npos && end + 1 < directory.size();
       end = directory.find(L'\\', end + 1)) {
    ancestors.push_back(directory.substr(0, end + 1));
  }
  return ancestors;
}

// Every file and directory under `root`, with each file's size and time of
// last write, leaving out `excluded` (a directory ending in a backslash) and
// all that is in it. Sorted, so two snapshots compare directly.
inline void SnapshotInto(const std::wstring& root, const std::wstring& excluded, std::vector<std::wstring>& entries) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((root + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return;
  }
  do {
    std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") {
      continue;
    }
    std::wstring path = root + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      path += L"\\";
      if (path == excluded) {
        continue;
      }
      entries.push_back(path);
      SnapshotInto(path, excluded, entries);
    } else {
      ULARGE_INTEGER written = {};
      written.LowPart = found.ftLastWriteTime.dwLowDateTime;
      written.HighPart = found.ftLastWriteTime.dwHighDateTime;
      entries.push_back(
          path + L" size " + std::to_wstring(found.nFileSizeLow) + L" written " + std::to_wstring(written.QuadPart));
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

inline std::vector<std::wstring> Snapshot(const std::wstring& root, const std::wstring& excluded) {
  std::vector<std::wstring> entries;
  SnapshotInto(root, excluded, entries);
  std::sort(entries.begin(), entries.end());
  return entries;
}
