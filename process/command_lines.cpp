#include "process/command_lines.h"

#include "launcher/protocol.h"
#include "process/starters.h"

namespace {

constexpr unsigned long long ChildLineCapacity = 1024;
constexpr const char* ProductRelativePath = "\\bin\\lindquay.exe";

// The two lines as templates, one byte per piece: the byte 1 stands for
// ExeDirectory, the bytes 2 to 7 for the six values (bootSourceDirectory to
// passThroughC), each quoted by AppendQuoted; every other byte is literal.
// ExeDirectory goes in as it is, between literal quotes: Windows paths hold
// no double quote, and these end in a file name, so they need no escaping
// (and the program name, argv[0], is not unescaped by any parser anyway).
constexpr char DirectoryPlaceholder = '\1';
constexpr char FirstValuePlaceholder = '\2';
constexpr char LastValuePlaceholder = '\7';
constexpr const char* UpdaterTemplate =
    "\"\1kv-jre\\bin\\java.exe\" -Dfile.encoding=UTF-8 -classpath \"\1kv-lib\\*\""
    " -Dlindboot.sourceDirectory=\2 -Dlindquay.settings=\3 com.korvane.lindquay.LindquayUpdater"
    " \4 \5 \"\1kv-handle\" \6 \"\1kv-javaSemaphore\" \7";
constexpr const char* ElevatedTemplate = "1 --child \2 \3 \4 \5 \6 \7";

void Compose(WideStringBuffer& line, const char* lineTemplate, const wchar_t* const values[]) {
  for (const char* piece = lineTemplate; *piece != '\0'; ++piece) {
    if (*piece == DirectoryPlaceholder) {
      line.Append(ExeDirectory);
    } else if (*piece >= FirstValuePlaceholder && *piece <= LastValuePlaceholder) {
      AppendQuoted(line, values[*piece - FirstValuePlaceholder]);
    } else {
      line.AppendCharacter(static_cast<unsigned char>(*piece));
    }
  }
}

bool HoldsDoubleQuote(const wchar_t* value) {
  for (; *value != L'\0'; ++value) {
    if (*value == L'"') {
      return true;
    }
  }
  return false;
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

void ComposeUpdaterCommandLine(
    WideStringBuffer& line,
    const wchar_t* bootSourceDirectory,
    const wchar_t* settingsDirectory,
    const wchar_t* installDirectory,
    const wchar_t* passThroughA,
    const wchar_t* passThroughB,
    const wchar_t* passThroughC) {
  const wchar_t* const values[] = {
      bootSourceDirectory, settingsDirectory, installDirectory,
      passThroughA, passThroughB, passThroughC};
  Compose(line, UpdaterTemplate, values);
}

void ComposeElevatedParameters(
    WideStringBuffer& parameters,
    const wchar_t* bootSourceDirectory,
    const wchar_t* settingsDirectory,
    const wchar_t* installDirectory,
    const wchar_t* passThroughA,
    const wchar_t* passThroughB,
    const wchar_t* passThroughC) {
  const wchar_t* const values[] = {
      bootSourceDirectory, settingsDirectory, installDirectory,
      passThroughA, passThroughB, passThroughC};
  Compose(parameters, ElevatedTemplate, values);
}

void ComposeProductCommandLine(WideStringBuffer& line, const wchar_t* installDirectory) {
  line.Append("\"");
  line.Append(installDirectory);
  line.Append(ProductRelativePath);
  line.Append("\"");
}

DWORD StartUpdater(
    const wchar_t* bootSourceDirectory,
    const wchar_t* settingsDirectory,
    const wchar_t* installDirectory,
    const wchar_t* passThroughA,
    const wchar_t* passThroughB,
    const wchar_t* passThroughC,
    HANDLE* child) {
  WideStringBuffer line(ChildLineCapacity);
  ComposeUpdaterCommandLine(
      line, bootSourceDirectory, settingsDirectory, installDirectory,
      passThroughA, passThroughB, passThroughC);
  return StartProcess(line.Text(), L"updater", ShowDefault, /* redirectToLog */ true, child);
}

DWORD StartElevatedChild(
    const wchar_t* bootSourceDirectory,
    const wchar_t* settingsDirectory,
    const wchar_t* installDirectory,
    const wchar_t* passThroughA,
    const wchar_t* passThroughB,
    const wchar_t* passThroughC,
    HANDLE* child) {
  WideStringBuffer parameters(ChildLineCapacity);
  ComposeElevatedParameters(
      parameters, bootSourceDirectory, settingsDirectory, installDirectory,
      passThroughA, passThroughB, passThroughC);
  return StartElevated(ExePath, parameters.Text(), SW_HIDE, child);
}

void StartProduct(const wchar_t* installDirectory) {
  WideStringBuffer line(0);
  ComposeProductCommandLine(line, installDirectory);
  HANDLE product = nullptr;
  if (HoldsDoubleQuote(installDirectory)) {
    // No file name holds a double quote. Passed on, the quote would end the
    // program name early and start whatever its first part names.
    RefuseStart(line.Text(), L"product", /* redirectToLog */ false, ERROR_INVALID_NAME);
    return;
  }
  StartProcess(line.Text(), L"product", ShowDefault, /* redirectToLog */ false, &product);
  if (product != nullptr) {
    CloseHandle(product);
  }
}
