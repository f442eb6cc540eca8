#pragma once

#include <windows.h>

#include "process/update_request.h"
#include "support/wide_string_buffer.h"

// The Java runtime reads its command line in the system's ANSI code page
// (GetCommandLineA, converted with best-fit mapping) and finds itself through
// an ANSI path. A character the code page lacks becomes another one there:
// U+FF02 becomes '"' and ends a quoted value early, 'Ł' becomes 'L' and names
// another folder. So every value of the updater's line must come through
// that view exactly, or go in another name of the same file or folder.

// Code for a value that no form brings through the ANSI view.
constexpr DWORD ErrorNotInCodePage = ERROR_NO_UNICODE_TRANSLATION;

// True when `value` converts to `codePage` and back unchanged, with no
// default character and no best fit, and every '"', '\', space and tab of
// the converted bytes is one of the value's own (a trail byte of a
// double-byte character can be a backslash). Under 1252 no character of
// U+0080-U+009F comes through: Java decodes five of them as U+FFFD. Under a
// UTF-8 code page every well-formed value comes through.
bool SurvivesCodePage(const wchar_t* value, UINT codePage);

// True when a C runtime's getenv(`name`) finds the environment entry `entry`
// ("NAME=value"), `name` being ASCII. The runtime converts its whole
// environment with WideCharToMultiByte(CP_ACP, 0), best fit included, and
// compares names ignoring ASCII case: under 1252 JAVA_TOOL_OPTION with a
// fullwidth S (U+FF33), and _JAVA_OPT with U+0130 and NS, read as
// JAVA_TOOL_OPTIONS and _JAVA_OPTIONS, and a fullwidth '=' (U+FF1D) ends the
// name early. True as well
// when there is no memory to tell: the caller then leaves the entry out.
bool ReadsAsVariable(const wchar_t* entry, const char* name);

// The updater's directory and values in forms that the ANSI view keeps
// exact: each as it is where it survives, otherwise a path in its short
// (8.3) form. Owns the short forms it makes.
class AnsiView {
 public:
  AnsiView() : directoryForm(0), bootForm(0), settingsForm(0), installForm(0), request() {}
  AnsiView(const AnsiView&) = delete;
  AnsiView& operator=(const AnsiView&) = delete;

  // `directory` is the launcher's, ending in a separator. Returns 0, or
  // ERROR_INVALID_NAME for a directory whose every form holds a ';' (it
  // would split -classpath), or ErrorNotInCodePage for a value that no form
  // brings through; then `reason` says which value, and why. The forms are
  // valid only after a 0.
  DWORD Make(const wchar_t* directory, const UpdateRequest& original, UINT codePage, WideStringBuffer& reason);

  const wchar_t* Directory() const { return directory; }
  const UpdateRequest& Request() const { return request; }

 private:
  WideStringBuffer directoryForm;
  WideStringBuffer bootForm;
  WideStringBuffer settingsForm;
  WideStringBuffer installForm;
  const wchar_t* directory = nullptr;
  UpdateRequest request;
};
