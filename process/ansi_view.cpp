#include "process/ansi_view.h"

#include "process/command_lines.h"
#include "support/byte_buffer.h"
#include "support/failure_codes.h"

namespace {

constexpr UINT Utf8CodePage = CP_UTF8;
// Windows keeps U+0081, U+008D, U+008F, U+0090 and U+009D through 1252 (its
// five unassigned bytes), but Java's own 1252 decoder reads those bytes as
// U+FFFD: the whole C1 range counts as lacking there.
constexpr UINT WesternCodePage = 1252;

char LowerAscii(char character) {
  return character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a') : character;
}

// The characters that decide how a command line splits.
bool IsSplitCharacter(unsigned character) {
  return character == '"' || character == '\\' || character == ' ' || character == '\t';
}

// True when `path` can stand in the updater's line as it is.
bool Usable(const wchar_t* path, UINT codePage, bool refuseSemicolon) {
  return SurvivesCodePage(path, codePage) && !(refuseSemicolon && Holds(path, L';'));
}

// Puts in `form` a name of `path` that survives the view: `path` itself, or
// its short form. Returns null when neither does, with the short-name call's
// error in `shortNameError` when it failed (the path does not exist, say),
// and 0 when the short form does not survive either.
const wchar_t* SurvivingForm(
    const wchar_t* path,
    WideStringBuffer& form,
    UINT codePage,
    bool refuseSemicolon,
    DWORD* shortNameError) {
  *shortNameError = 0;
  if (Usable(path, codePage, refuseSemicolon)) {
    return path;
  }
  DWORD size = GetShortPathNameW(path, /* lpszShortPath */ nullptr, /* cchBuffer */ 0);
  if (size == 0) {
    *shortNameError = LastFailureCode();
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

// Says which value the view would change, and returns the code of the refusal.
DWORD DescribeChanged(WideStringBuffer& reason, const char* name, UINT codePage, bool isPath, DWORD shortNameError) {
  reason.Append(name);
  reason.Append(" would reach the Java runtime changed in code page ");
  reason.AppendNumber(codePage, /* hexadecimal */ false);
  if (isPath && shortNameError != 0) {
    reason.Append(", and it has no short name (GetShortPathNameW: ");
    reason.AppendNumber(shortNameError, /* hexadecimal */ true);
    reason.AppendCharacter(L')');
  } else if (isPath) {
    reason.Append(", and so would its short name");
  }
  return ErrorNotInCodePage;
}

}  // namespace

bool SurvivesCodePage(const wchar_t* value, UINT codePage) {
  int characters = lstrlenW(value);
  if (characters == 0) {
    return true;
  }
  // UTF-8 takes no best-fit flag and no used-default flag: it holds every
  // well-formed text, and only a lone surrogate fails it.
  for (int index = 0; index < characters && codePage == WesternCodePage; ++index) {
    if (value[index] >= 0x80 && value[index] <= 0x9F) {
      return false;
    }
  }
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

DWORD AnsiView::Make(const wchar_t* launcherDirectory, const UpdateRequest& original, UINT codePage, WideStringBuffer& reason) {
  request = original;
  DWORD shortNameError = 0;
  // Java cannot escape its class-path separator, and the class path is
  // "{directory}kv-lib\*": a ';' in the directory would split it.
  directory = SurvivingForm(launcherDirectory, directoryForm, codePage, /* refuseSemicolon */ true, &shortNameError);
  if (directory == nullptr) {
    if (Holds(launcherDirectory, L';') && SurvivesCodePage(launcherDirectory, codePage)) {
      reason.Append("the launcher's directory ");
      reason.Append(launcherDirectory);
      reason.Append(" holds ';', which would split -classpath, and has no short name without it");
      return ERROR_INVALID_NAME;
    }
    return DescribeChanged(reason, "the launcher's directory", codePage, /* isPath */ true, shortNameError);
  }
  // The paths may go in their short forms; the pass-through values have none.
  static constexpr struct {
    const char* name;
    const wchar_t* UpdateRequest::*value;
    WideStringBuffer AnsiView::*form;
  } values[] = {
      {"bootSourceDirectory", &UpdateRequest::bootSourceDirectory, &AnsiView::bootForm},
      {"settingsDirectory", &UpdateRequest::settingsDirectory, &AnsiView::settingsForm},
      {"installDirectory", &UpdateRequest::installDirectory, &AnsiView::installForm},
      {"passThroughA", &UpdateRequest::passThroughA, nullptr},
      {"passThroughB", &UpdateRequest::passThroughB, nullptr},
      {"passThroughC", &UpdateRequest::passThroughC, nullptr},
  };
  for (const auto& value : values) {
    const wchar_t* text = original.*value.value;
    bool isPath = value.form != nullptr;
    const wchar_t* form = isPath ? SurvivingForm(text, this->*value.form, codePage, false, &shortNameError)
                                 : SurvivesCodePage(text, codePage) ? text : nullptr;
    if (form == nullptr) {
      return DescribeChanged(reason, value.name, codePage, isPath, shortNameError);
    }
    request.*value.value = form;
  }
  return 0;
}

bool ReadsAsVariable(const wchar_t* entry, const char* name) {
  // The name and the '=' that ends it, or the whole entry where none does;
  // the first character belongs to the name even when it is '=' (as in
  // "=C:=C:\dir", a drive's current folder).
  int units = 1;
  while (entry[units] != L'\0' && entry[units] != L'=') {
    ++units;
  }
  units += entry[units] == L'=' ? 1 : 0;
  int size = WideCharToMultiByte(CP_ACP, 0, entry, units, /* lpMultiByteStr */ nullptr, 0, nullptr, nullptr);
  ByteBuffer narrow;
  if (size <= 0 || !narrow.Allocate(static_cast<SIZE_T>(size))) {
    return true;
  }
  WideCharToMultiByte(CP_ACP, 0, entry, units, narrow.Bytes(), size, nullptr, nullptr);
  const char* converted = narrow.Bytes();
  int index = 0;
  for (; name[index] != '\0'; ++index) {
    if (index >= size || LowerAscii(converted[index]) != LowerAscii(name[index])) {
      return false;
    }
  }
  return index < size && converted[index] == '=';
}
