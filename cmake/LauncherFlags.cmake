# Compile and link settings of the launcher: no C runtime, no start-up files,
# no exceptions, no RTTI, and an entry point of its own.

set(LAUNCHER_DEFINITIONS
  UNICODE
  _UNICODE
  WIN32_LEAN_AND_MEAN
  NOMINMAX
  _WIN32_WINNT=0x0601
  WINVER=0x0601)

set(LAUNCHER_COMPILE_OPTIONS
  -Wall
  -Wextra
  -Oz
  # Data is reached relative to the instruction pointer, never through a
  # pointer the loader would have to relocate: the image needs no base
  # relocations, and can still be loaded anywhere.
  -mcmodel=small
  # Constants keep the alignment the ABI asks for, not a cache line's.
  -malign-data=abi
  # No clones of functions for the constants they are called with: in this
  # program they cost more code than they save.
  -fno-ipa-cp
  -fno-exceptions
  -fno-rtti
  -fno-threadsafe-statics
  -fno-asynchronous-unwind-tables
  -fno-stack-protector
  -ffunction-sections
  # No -fdata-sections: with it this GCC puts zero-filled data in .data, and
  # the two 64 KiB path buffers would land in the file.
  -fno-ident
  # A frame over a page needs a stack probe from libgcc, which is not linked.
  -Wframe-larger-than=4000
  # Build paths never reach the object files.
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.)

set(LAUNCHER_LINK_OPTIONS
  -Oz
  -flto
  # No clones of functions for the constants they are called with, nor to
  # split their arguments: in this program they cost more than they save.
  -fno-ipa-cp
  -fno-ipa-sra
  # One read-only section for code, constants and imports (see the script).
  -Wl,-T,${CMAKE_CURRENT_LIST_DIR}/launcher.ld
  -nostdlib
  -nostartfiles
  -Wl,--entry=LauncherEntry
  -Wl,--gc-sections
  -Wl,--no-insert-timestamp
  -Wl,--tsaware
  -Wl,--dynamicbase
  -Wl,--high-entropy-va
  -Wl,--nxcompat
  -s)
