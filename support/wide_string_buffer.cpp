#include "support/wide_string_buffer.h"

#include "support/failure_codes.h"

namespace {

// The block's byte count must fit a SIZE_T; a request beyond that cannot be
// met and counts as a failed allocation.
constexpr unsigned long long MaxCapacity = ~static_cast<SIZE_T>(0) / sizeof(wchar_t);

}  // namespace

WideStringBuffer::WideStringBuffer(unsigned long long initialCapacity)
    : text(nullptr), length(0), capacity(0) {
  if (initialCapacity != 0) {
    Reserve(initialCapacity);
  }
}

WideStringBuffer::~WideStringBuffer() { Release(); }

void WideStringBuffer::Append(const wchar_t* s) {
  unsigned long long n = static_cast<unsigned long long>(lstrlenW(s));
  unsigned long long needed = length + n + 1;
  if (capacity < needed) {
    Reserve(needed);
  }
  for (unsigned long long index = 0; index <= n; ++index) {
    text[length + index] = s[index];
  }
  length += n;
}

void WideStringBuffer::Append(const char* ascii) {
  for (; *ascii != '\0'; ++ascii) {
    AppendCharacter(static_cast<unsigned char>(*ascii));
  }
}

void WideStringBuffer::AppendCharacter(wchar_t c) {
  if (capacity < length + 2) {
    Reserve(length + 2);
  }
  text[length++] = c;
  text[length] = L'\0';
}

void WideStringBuffer::AppendNumber(DWORD value, bool hexadecimal) {
  const DWORD base = hexadecimal ? 16 : 10;
  // Hexadecimal always takes eight digits, as the log's codes do.
  int count = hexadecimal ? 8 : 1;
  wchar_t digits[12];
  wchar_t* first = digits + 11;
  *first = L'\0';
  do {
    DWORD digit = value % base;
    *--first = static_cast<wchar_t>(digit < 10 ? L'0' + digit : L'A' - 10 + digit);
    value /= base;
  } while (--count > 0 || value != 0);
  if (hexadecimal) {
    *--first = L'x';
    *--first = L'0';
  }
  Append(first);
}

void WideStringBuffer::Truncate(unsigned long long newLength) {
  if (newLength < length) {
    length = newLength;
    text[length] = L'\0';
  }
}

void WideStringBuffer::Reserve(unsigned long long minimum) {
  if (minimum > MaxCapacity) {
    ExitProcess(ErrorOutOfMemory);
  }
  unsigned long long newCapacity = capacity > MaxCapacity / 2 ? MaxCapacity : capacity * 2;
  if (newCapacity < minimum) {
    newCapacity = minimum;
  }
  wchar_t* block = static_cast<wchar_t*>(HeapAlloc(
      GetProcessHeap(), /* dwFlags */ 0, static_cast<SIZE_T>(newCapacity * sizeof(wchar_t))));
  if (block == nullptr) {
    ExitProcess(ErrorOutOfMemory);
  }
  if (text != nullptr) {
    for (unsigned long long index = 0; index <= length; ++index) {
      block[index] = text[index];
    }
    Release();
  } else {
    block[0] = L'\0';
  }
  text = block;
  capacity = newCapacity;
}

void WideStringBuffer::Release() {
  if (text != nullptr) {
    HeapFree(GetProcessHeap(), /* dwFlags */ 0, text);
  }
}
