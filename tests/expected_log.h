#pragma once
// The launcher's own log lines, spelled once for every test that reads a log.
#include <windows.h>

#include <string>

#include "tests/test_support.h"

// "Starting <label>:\n    cmd=<commandLine>\n", followed by the output
// banner when the child's output goes into the log.
inline std::string LoggedStart(const char* label, const std::wstring& commandLine, bool redirected) {
  return std::string("Starting ") + label + ":\n    cmd=" + Utf8(commandLine) + "\n" +
         (redirected ? "--Child output here---------------------------------------------\n" : "");
}

// The first instance's lines before the elevated instance's own.
inline std::string LoggedElevatedStart(const std::wstring& file, const std::wstring& parameters) {
  return "Starting elevated child:\n    exe=" + Utf8(file) + "\n    arg=" + Utf8(parameters) +
         "\n--Elevated child output here------------------------------------\n";
}

// The line feed that ends a child's output, then the exit banner.
inline std::string LoggedExit(DWORD code) {
  char line[96];
  wsprintfA(line, "\n--Child exited with code 0x%08X----------------------------\n", code);
  return line;
}

// The line that says why a start was refused, before its error line.
inline std::string LoggedRefusal(const std::string& reason) { return "Refused: " + reason + "\n"; }

// `log` without the one line that says why a start was refused; marked
// when it has none, so that it never equals an expected log then.
inline std::string WithoutReason(const std::string& log) {
  size_t start = log.rfind("Refused: ");
  size_t end = log.find('\n', start);
  if (start == std::string::npos || (start != 0 && log[start - 1] != '\n') || end == std::string::npos) {
    return log + "[no line that says why]";
  }
  return log.substr(0, start) + log.substr(end + 1);
}

// The reason for a child line of `length` characters, over the limit.
inline std::string TooLongReason(size_t length) {
  return "the command line has " + std::to_string(length) + " characters, more than the 32766 a process can be given";
}

inline std::string LoggedError(const char* call, DWORD code) {
  char line[96];
  wsprintfA(line, "Error: %s: 0x%08X\n", call, code);
  return line;
}
