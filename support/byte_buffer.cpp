#include "support/byte_buffer.h"

ByteBuffer::~ByteBuffer() { Free(); }

bool ByteBuffer::Allocate(SIZE_T size) {
  Free();
  bytes = static_cast<char*>(HeapAlloc(GetProcessHeap(), /* dwFlags */ 0, size));
  capacity = bytes != nullptr ? size : 0;
  return bytes != nullptr;
}

void ByteBuffer::Free() {
  if (bytes != nullptr) {
    HeapFree(GetProcessHeap(), /* dwFlags */ 0, bytes);
    bytes = nullptr;
  }
  capacity = 0;
  length = 0;
}
