// The two routines GCC may emit calls to even without a C runtime (zeroing a
// Win32 struct, copying a large one). Linked into the executable only; the
// test binaries have a C runtime of their own. Built with
// -fno-tree-loop-distribute-patterns, so that these loops are not turned
// back into calls to themselves.

#include <stddef.h>

extern "C" void* memset(void* destination, int value, size_t count) {
  unsigned char* bytes = static_cast<unsigned char*>(destination);
  while (count-- != 0) {
    *bytes++ = static_cast<unsigned char>(value);
  }
  return destination;
}

extern "C" void* memcpy(void* destination, const void* source, size_t count) {
  unsigned char* to = static_cast<unsigned char*>(destination);
  const unsigned char* from = static_cast<const unsigned char*>(source);
  while (count-- != 0) {
    *to++ = *from++;
  }
  return destination;
}
