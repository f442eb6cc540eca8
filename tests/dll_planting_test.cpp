// A DLL planted beside the launcher, under the name of one that is loaded on
// demand while the shell starts the elevated instance: uxtheme.dll, which the
// first instance loads only then (a direct run never does). On Windows the
// first file found on the search path wins; Wine prefers its own built-in
// copy unless told otherwise, so the test tells it, for this one DLL in the
// launcher's process, to behave like Windows. The control build, the same
// launcher without its first call, shows that the attack works; the real
// launcher must not load the DLL.
#include <gtest/gtest.h>

#include <string>

#include "tests/launcher_fixture.h"

namespace {

const wchar_t PlantedName[] = L"uxtheme.dll";

// Makes Wine load `dll` the way Windows does, first file found on the search
// path, in processes named `program`, for as long as the object lives. Wine
// reads this per-program setting from the registry of the prefix; on Windows
// there is nothing to change.
class NativeFirstUnderWine {
 public:
  NativeFirstUnderWine(const std::wstring& program, const wchar_t* dll)
      : name(dll), path(L"Software\\Wine\\AppDefaults\\" + program) {
    if (!UnderWine()) {
      return;
    }
    RegCreateKeyExW(HKEY_CURRENT_USER, (path + L"\\DllOverrides").c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                    nullptr);
    const wchar_t order[] = L"native,builtin";
    RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(order), sizeof(order));
  }
  ~NativeFirstUnderWine() {
    if (key != nullptr) {
      RegDeleteValueW(key, name.c_str());
      RegCloseKey(key);
      // The keys too: while they exist, Wine looks every DLL that a program
      // of that name loads up in them, which slows each start of it.
      RegDeleteKeyW(HKEY_CURRENT_USER, (path + L"\\DllOverrides").c_str());
      RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
    }
  }
  NativeFirstUnderWine(const NativeFirstUnderWine&) = delete;
  NativeFirstUnderWine& operator=(const NativeFirstUnderWine&) = delete;

 private:
  std::wstring name;
  std::wstring path;
  HKEY key = nullptr;
};

class DllPlanting : public LauncherRun {
 protected:
  // Puts `program` in the launcher's place, plants the DLL beside it and runs
  // a successful elevated update.
  ProcessResult RunElevatedAs(const wchar_t* program) {
    EXPECT_TRUE(CopyFileW((TestProgramDirectory() + program).c_str(), launcher.c_str(), FALSE));
    EXPECT_TRUE(CopyFileW((TestProgramDirectory() + L"planted-dll.dll").c_str(), (app + PlantedName).c_str(), FALSE));
    NativeFirstUnderWine nativeFirst(L"lindquay-updater.exe", L"uxtheme");
    return Run(L"--elevate", Values());
  }

  std::string LoadedBy() const { return ReadBytes(app + L"planted-dll-loaded.txt"); }
};

}  // namespace

TEST_F(DllPlanting, ControlWithoutTheRestrictionLoadsThePlantedDll) {
  ProcessResult result = RunElevatedAs(L"lindquay-updater-unrestricted.exe");
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  // The instance that asked the shell to elevate loaded it.
  EXPECT_NE(LoadedBy().find(Utf8(launcher) + "\n"), std::string::npos) << LoadedBy();
}

TEST_F(DllPlanting, LauncherNeverLoadsThePlantedDll) {
  ProcessResult result = RunElevatedAs(L"lindquay-updater.exe");
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.standardError, "");
  EXPECT_EQ(LoadedBy(), "");
  EXPECT_NE(Log().find(ElevatedStartLines(Values())), std::string::npos) << Log();
  EXPECT_TRUE(WaitForProduct().started);
}
