#pragma once

#include <windows.h>

// The launcher's one growable string: zero-terminated UTF-16 text in a single
// block on the process heap. Every path, child command line and formatted log
// line is built in one, owned by a local of the function that builds it.
//
// A failed allocation ends the process with ErrorOutOfMemory (8): no caller
// ever sees a partial text.
class WideStringBuffer {
 public:
  // Capacity 0 leaves Text() null until the first Append.
  explicit WideStringBuffer(unsigned long long initialCapacity);
  ~WideStringBuffer();

  WideStringBuffer(const WideStringBuffer&) = delete;
  WideStringBuffer& operator=(const WideStringBuffer&) = delete;

  void Append(const wchar_t* s);
  // Appends ASCII text, widened: the program's fixed texts are kept as
  // bytes, half the size of their UTF-16 form.
  void Append(const char* ascii);
  // Any character, L'\0' too: a list of paths is kept as terminated texts
  // one after the other.
  void AppendCharacter(wchar_t c);
  // `value` in decimal, or as "0x" and eight upper-case hexadecimal digits.
  void AppendNumber(DWORD value, bool hexadecimal);
  // Cuts the text back to its first `newLength` characters.
  void Truncate(unsigned long long newLength);

  // Grows the block to max(2 x capacity, minimum) characters, terminator
  // included, and moves the text into it.
  void Reserve(unsigned long long minimum);

  // Writable, so that a command line can go to CreateProcessW and a log line
  // can be formatted in place. Such writes leave length() behind; a buffer
  // written that way is only read afterwards.
  wchar_t* Text() const { return text; }
  unsigned long long Length() const { return length; }
  unsigned long long Capacity() const { return capacity; }

 private:
  void Release();

  wchar_t* text;
  unsigned long long length;
  unsigned long long capacity;
};
