#pragma once

#include <windows.h>

// Owns one kernel handle and closes it once, when it goes or is reset. It
// cannot be copied; moving hands the handle over. Both "no handle" values of
// the API, null and INVALID_HANDLE_VALUE, count as empty.
class UniqueHandle {
 public:
  UniqueHandle() : handle(nullptr) {}
  explicit UniqueHandle(HANDLE owned) : handle(owned) {}
  ~UniqueHandle() { Reset(nullptr); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) : handle(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) {
    if (this != &other) {
      Reset(other.Release());
    }
    return *this;
  }

  HANDLE Get() const { return handle; }
  bool IsValid() const { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

  // Closes the handle held, if any, and takes `owned` instead.
  void Reset(HANDLE owned) {
    if (IsValid()) {
      CloseHandle(handle);
    }
    handle = owned;
  }

  // Gives the handle up without closing it.
  HANDLE Release() {
    HANDLE released = handle;
    handle = nullptr;
    return released;
  }

 private:
  HANDLE handle;
};
