#pragma once

#include <windows.h>

// Hands out the launcher's command-line arguments in order, past the program
// name. It owns the vector that CommandLineToArgvW returns; the strings it
// hands out live as long as the cursor.
class ArgumentCursor {
 public:
  ArgumentCursor();
  ~ArgumentCursor();

  ArgumentCursor(const ArgumentCursor&) = delete;
  ArgumentCursor& operator=(const ArgumentCursor&) = delete;

  bool IsAtEnd() const { return position >= count; }

  // Returns the next argument. When there is none, writes the refusal message
  // to standard error and ends the process with ExitMissingArgument.
  const wchar_t* Next();

 private:
  wchar_t** items;
  int count;
  int position;
};

// Written as its 96 bytes, with no line end.
constexpr char RefusalMessage[] =
    "This executable is used as part of Lindquay's update process and should not be invoked directly.";
