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
  const wchar_t single[2] = {c, L'\0'};
  Append(single);
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
