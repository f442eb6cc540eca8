#include "process/ansi_view.h"

#include "process/command_lines.h"
#include "support/byte_buffer.h"

namespace {

constexpr UINT Utf8CodePage = CP_UTF8;

// The characters that decide how a command line splits.
bool IsSplitCharacter(unsigned character) {
  return character == '"' || character == '\\' || character == ' ' || character == '\t';
}

// True when `path` can stand in the updater's line as it is.
bool Usable(const wchar_t* path, UINT codePage, bool refuseSemicolon) {
  return SurvivesCodePage(path, codePage) && !(refuseSemicolon && Holds(path, L';'));
}

// Puts in `form` a name of `path` that survives the view: `path` itself, or
// its short form. Returns null when neither does (or the path does not
// exist, and so has no short form).
const wchar_t* SurvivingForm(const wchar_t* path, WideStringBuffer& form, UINT codePage, bool refuseSemicolon) {
  if (Usable(path, codePage, refuseSemicolon)) {
    return path;
  }
  DWORD size = GetShortPathNameW(path, /* lpszShortPath */ nullptr, /* cchBuffer */ 0);
  if (size == 0) {
    return nullptr;
  }
  WideStringBuffer shortPath(size);
  DWORD length = GetShortPathNameW(path, shortPath.Text(), size);
  if (length == 0 || length >= size) {
    return nullptr;  // Changed in between: never act on a cut path.
  }
  form.Append(shortPath.Text());
  // A directory keeps the separator it ends in, whatever the call does with it.
  wchar_t last = path[lstrlenW(path) - 1];
  wchar_t formLast = form.Text()[form.Length() - 1];
  if ((last == L'\\' || last == L'/') && formLast != L'\\' && formLast != L'/') {
    form.AppendCharacter(L'\\');
  }
  if (!Usable(form.Text(), codePage, refuseSemicolon)) {
    return nullptr;
  }
  return form.Text();
}

}  // namespace

bool SurvivesCodePage(const wchar_t* value, UINT codePage) {
  int characters = lstrlenW(value);
  if (characters == 0) {
    return true;
  }
  // UTF-8 takes no best-fit flag and no used-default flag: it holds every
  // well-formed text, and only a lone surrogate fails it.
  bool utf8 = codePage == Utf8CodePage;
  DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultFlag = utf8 ? nullptr : &usedDefault;
  int bytes = WideCharToMultiByte(
      /* CodePage */ codePage,
      /* dwFlags */ flags,
      /* lpWideCharStr */ value,
      /* cchWideChar */ characters,
      /* lpMultiByteStr */ nullptr,
      /* cbMultiByte */ 0,
      /* lpDefaultChar */ nullptr,
      /* lpUsedDefaultChar */ usedDefaultFlag);
  ByteBuffer converted;
  if (bytes <= 0 || usedDefault || !converted.Allocate(static_cast<SIZE_T>(bytes))) {
    return false;
  }
  WideCharToMultiByte(codePage, flags, value, characters, converted.Bytes(), bytes, nullptr, usedDefaultFlag);

  // Back again: the same text, unit for unit.
  int units = MultiByteToWideChar(codePage, /* dwFlags */ 0, converted.Bytes(), bytes, nullptr, 0);
  if (units != characters) {
    return false;
  }
  WideStringBuffer back(static_cast<unsigned long long>(units) + 1);
  MultiByteToWideChar(codePage, /* dwFlags */ 0, converted.Bytes(), bytes, back.Text(), units);
  int splitCharacters = 0;
  for (int index = 0; index < characters; ++index) {
    if (back.Text()[index] != value[index]) {
      return false;
    }
    splitCharacters += IsSplitCharacter(value[index]) ? 1 : 0;
  }
  for (int index = 0; index < bytes; ++index) {
    splitCharacters -= IsSplitCharacter(static_cast<unsigned char>(converted.Bytes()[index])) ? 1 : 0;
  }
  return splitCharacters == 0;
}

DWORD AnsiView::Make(const wchar_t* launcherDirectory, const UpdateRequest& original, UINT codePage) {
  request = original;
  // Java cannot escape its class-path separator, and the class path is
  // "{directory}kv-lib\*": a ';' in the directory would split it.
  directory = SurvivingForm(launcherDirectory, directoryForm, codePage, /* refuseSemicolon */ true);
  if (directory == nullptr) {
    return Holds(launcherDirectory, L';') && SurvivesCodePage(launcherDirectory, codePage)
        ? ERROR_INVALID_NAME
        : ErrorNotInCodePage;
  }
  request.bootSourceDirectory = SurvivingForm(original.bootSourceDirectory, bootForm, codePage, false);
  request.settingsDirectory = SurvivingForm(original.settingsDirectory, settingsForm, codePage, false);
  request.installDirectory = SurvivingForm(original.installDirectory, installForm, codePage, false);
  if (request.bootSourceDirectory == nullptr || request.settingsDirectory == nullptr ||
      request.installDirectory == nullptr || !SurvivesCodePage(original.passThroughA, codePage) ||
      !SurvivesCodePage(original.passThroughB, codePage) || !SurvivesCodePage(original.passThroughC, codePage)) {
    return ErrorNotInCodePage;
  }
  return 0;
}
