#pragma once

#include <windows.h>

// An owned block of 8-bit text on the process heap, for the two places that
// need bytes rather than UTF-16: a log line's UTF-8 form and the failure
// record. Unlike WideStringBuffer, a failed allocation does not end the
// process: it leaves the buffer empty, and the caller loses only that text.
class ByteBuffer {
 public:
  ByteBuffer() : bytes(nullptr), capacity(0), length(0) {}
  ~ByteBuffer();

  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;

  // Replaces the block with a new one of `size` bytes, empty. Returns false,
  // and holds no block, when the heap has none to give.
  bool Allocate(SIZE_T size);

  char* Bytes() const { return bytes; }
  SIZE_T Capacity() const { return capacity; }
  // The bytes in use, as the writer of the block set them.
  DWORD Length() const { return length; }
  void SetLength(DWORD used) { length = used; }

 private:
  void Free();

  char* bytes;
  SIZE_T capacity;
  DWORD length;
};
