#include "process/command_lines.h"

namespace {

constexpr const char* ProductRelativePath = "\\bin\\lindquay.exe";

// The updater's line as a template, one byte per piece: the byte 1 stands
// for the launcher's directory, the bytes 2 to 7 for the six values
// (bootSourceDirectory to passThroughC), each quoted by AppendQuoted, and the
// byte 8 for the semaphore's name; every other byte is literal. The directory
// goes in as it is, between literal quotes: Windows paths hold no double
// quote, and these end in a file name, so they need no escaping (and the
// program name, argv[0], is not unescaped by any parser anyway).
constexpr char DirectoryPlaceholder = '\1';
constexpr char FirstValuePlaceholder = '\2';
constexpr char LastValuePlaceholder = '\7';
constexpr char SemaphorePlaceholder = '\10';
constexpr const char* UpdaterTemplate =
    "\"\1kv-jre\\bin\\java.exe\" -Dfile.encoding=UTF-8 -classpath \"\1kv-lib\\*\""
    " -Dlindboot.sourceDirectory=\2 -Dlindquay.settings=\3 com.korvane.lindquay.LindquayUpdater"
    " \4 \5 \"\1kv-handle\" \6 \"\1\10\" \7";

// The six values in the order of the placeholders.
void ListValues(const UpdateRequest& request, const wchar_t* values[6]) {
  values[0] = request.bootSourceDirectory;
  values[1] = request.settingsDirectory;
  values[2] = request.installDirectory;
  values[3] = request.passThroughA;
  values[4] = request.passThroughB;
  values[5] = request.passThroughC;
}

}  // namespace

void AppendQuoted(WideStringBuffer& line, const wchar_t* value) {
  line.AppendCharacter(L'"');
  unsigned backslashes = 0;  // in the run just written
  for (const wchar_t* cursor = value;; ++cursor) {
    if (*cursor == L'"' || *cursor == L'\0') {
      // The run stands before a quote, or before the closing one: written
      // twice, it comes back once; a quote of the value then gets one more.
      for (; backslashes != 0; --backslashes) {
        line.AppendCharacter(L'\\');
      }
      if (*cursor == L'\0') {
        break;
      }
      line.AppendCharacter(L'\\');
    }
    backslashes = *cursor == L'\\' ? backslashes + 1 : 0;
    line.AppendCharacter(*cursor);
  }
  line.AppendCharacter(L'"');
}

void AppendQuotedValues(WideStringBuffer& line, const UpdateRequest& request) {
  const wchar_t* values[6];
  ListValues(request, values);
  for (const wchar_t* value : values) {
    line.AppendCharacter(L' ');
    AppendQuoted(line, value);
  }
}

void ComposeUpdaterCommandLine(WideStringBuffer& line, const wchar_t* directory, const UpdateRequest& request) {
  const wchar_t* values[6];
  ListValues(request, values);
  for (const char* piece = UpdaterTemplate; *piece != '\0'; ++piece) {
    if (*piece == DirectoryPlaceholder) {
      line.Append(directory);
    } else if (*piece == SemaphorePlaceholder) {
      line.Append(JavaSemaphoreName);
    } else if (*piece >= FirstValuePlaceholder && *piece <= LastValuePlaceholder) {
      AppendQuoted(line, values[*piece - FirstValuePlaceholder]);
    } else {
      line.AppendCharacter(static_cast<unsigned char>(*piece));
    }
  }
}

void ComposeProductCommandLine(WideStringBuffer& line, const wchar_t* installDirectory) {
  line.Append("\"");
  line.Append(installDirectory);
  line.Append(ProductRelativePath);
  line.Append("\"");
}

bool Holds(const wchar_t* value, wchar_t character) {
  for (; *value != L'\0'; ++value) {
    if (*value == character) {
      return true;
    }
  }
  return false;
}
