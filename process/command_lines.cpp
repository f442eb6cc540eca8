#include "process/command_lines.h"

#include "launcher/protocol.h"
#include "process/starters.h"

namespace {

constexpr unsigned long long ChildLineCapacity = 1024;
constexpr wchar_t ProductRelativePath[] = L"\\bin\\lindquay.exe";

// Appends ExeDirectory + name between quotes. Windows paths hold no double
// quote and these end in a file name, so they need no escaping; the program
// name (argv[0]) is not unescaped by any parser anyway.
void AppendQuotedSidePath(WideStringBuffer& line, const wchar_t* name) {
  line.Append(L"\"");
  line.Append(ExeDirectory);
  line.Append(name);
  line.Append(L"\"");
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
  for (const wchar_t* cursor = value;; ++cursor) {
    unsigned backslashes = 0;
    while (*cursor == L'\\') {
      ++backslashes;
      ++cursor;
    }
    if (*cursor == L'\0') {
      // The closing quote follows: double the run so that it stays literal.
      for (unsigned index = 0; index < backslashes * 2; ++index) {
        line.AppendCharacter(L'\\');
      }
      break;
    }
    if (*cursor == L'"') {
      // 2k+1 backslashes and the quote give back k backslashes and a quote.
      for (unsigned index = 0; index < backslashes * 2 + 1; ++index) {
        line.AppendCharacter(L'\\');
      }
    } else {
      for (unsigned index = 0; index < backslashes; ++index) {
        line.AppendCharacter(L'\\');
      }
    }
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
  AppendQuotedSidePath(line, L"kv-jre\\bin\\java.exe");
  line.Append(L" -Dfile.encoding=UTF-8 -classpath ");
  AppendQuotedSidePath(line, L"kv-lib\\*");
  line.Append(L" -Dlindboot.sourceDirectory=");
  AppendQuoted(line, bootSourceDirectory);
  line.Append(L" -Dlindquay.settings=");
  AppendQuoted(line, settingsDirectory);
  line.Append(L" com.korvane.lindquay.LindquayUpdater ");
  AppendQuoted(line, installDirectory);
  line.Append(L" ");
  AppendQuoted(line, passThroughA);
  line.Append(L" ");
  AppendQuotedSidePath(line, L"kv-handle");
  line.Append(L" ");
  AppendQuoted(line, passThroughB);
  line.Append(L" ");
  AppendQuotedSidePath(line, JavaSemaphoreName);
  line.Append(L" ");
  AppendQuoted(line, passThroughC);
}

void ComposeElevatedParameters(
    WideStringBuffer& parameters,
    const wchar_t* bootSourceDirectory,
    const wchar_t* settingsDirectory,
    const wchar_t* installDirectory,
    const wchar_t* passThroughA,
    const wchar_t* passThroughB,
    const wchar_t* passThroughC) {
  parameters.Append(ProtocolVersion);
  parameters.Append(L" ");
  parameters.Append(ModeChild);
  const wchar_t* values[] = {
      bootSourceDirectory, settingsDirectory, installDirectory,
      passThroughA, passThroughB, passThroughC};
  for (const wchar_t* value : values) {
    parameters.Append(L" ");
    AppendQuoted(parameters, value);
  }
}

void ComposeProductCommandLine(WideStringBuffer& line, const wchar_t* installDirectory) {
  line.Append(L"\"");
  line.Append(installDirectory);
  line.Append(ProductRelativePath);
  line.Append(L"\"");
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
