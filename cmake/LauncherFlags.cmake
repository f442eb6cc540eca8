# Compile and link settings of the launcher: no C runtime, no start-up files,
# no exceptions, no RTTI, and an entry point of its own. Two toolchains:
# clang-19 with lld-19 (the release build, hardened as far as Windows allows)
# and mingw-w64 GCC 12 with GNU ld (supported, for the same tests).
#
#   LAUNCHER_COMPILE_OPTIONS    every file of the launcher, tests' copy included
#   LAUNCHER_HARDENING_OPTIONS  the executables only (they bring the stack
#                               guard and the load configuration with them)
#   LAUNCHER_SYMBOL_OPTIONS     the executables' files: debug information for
#                               their PDBs
#   LAUNCHER_LINK_OPTIONS       the executables
#   LAUNCHER_RUNTIME_SOURCES    what the executables have instead of a C runtime
#   LAUNCHER_WRITES_PDB         each executable gets NAME.pdb beside it
#   LAUNCHER_RELEASE_HARDENING  the executables have all a Windows security
#                               review checks: sections by privilege, unwind
#                               data, a load configuration (Control Flow
#                               Guard, a loader-seeded stack guard,
#                               DependentLoadFlags) and the CET mark

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
  -fno-exceptions
  -fno-rtti
  -fno-threadsafe-statics
  -ffunction-sections
  -fno-ident
  # A frame over a page needs a stack probe from libgcc, which is not linked.
  -Wframe-larger-than=4000
  # Build paths never reach the object files.
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
  -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)

set(LAUNCHER_RUNTIME_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/support/crt.cpp)

if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  list(APPEND LAUNCHER_COMPILE_OPTIONS
    -fdata-sections
    # Unwind data for every function that needs it (.pdata/.xdata), so that
    # debuggers, profilers and crash dumps can walk the stack.
    -fasynchronous-unwind-tables)
  set(LAUNCHER_HARDENING_OPTIONS
    # Checked frames for every function with an array or an address taken;
    # the guard is the loader's cookie (support/load_config.cpp).
    -fstack-protector-strong
    # Control Flow Guard: indirect calls go through the loader's check.
    -mguard=cf)
  # The memset/memcpy stand-ins must not become calls to themselves.
  set(LAUNCHER_FREESTANDING_OPTIONS -ffreestanding -fno-stack-protector)
  list(APPEND LAUNCHER_RUNTIME_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/support/load_config.cpp)
  set(LAUNCHER_RELEASE_HARDENING TRUE)
  # Symbols for crash dumps: CodeView debug information, which lld links into
  # a PDB. Reproducible: no compiler command line in the objects, and "." as
  # the folder they were compiled in.
  set(LAUNCHER_SYMBOL_OPTIONS -g -gcodeview -gno-codeview-command-line -fdebug-compilation-dir=.)
  set(LAUNCHER_WRITES_PDB TRUE)
  set(LAUNCHER_LINK_OPTIONS
    -Oz
    -flto
    -fuse-ld=lld
    --ld-path=${CMAKE_LINKER}
    -nostdlib
    -nostartfiles
    -Wl,--entry=LauncherEntry
    # Unused code is dropped; with debug information lld keeps it unless
    # told to drop it.
    -Wl,--gc-sections
    -Wl,--no-insert-timestamp
    # The PDB (named per executable, add_launcher_program): its GUID is a
    # hash of its content, so the same inputs give the same GUID; the
    # executable's CodeView entry names it by its bare file name, never the
    # build folder; and the PDB names the objects and sources under a fixed
    # folder, never the build's.
    -Wl,--build-id
    -Wl,-Xlink=/pdbaltpath:%_PDB%
    -Wl,-Xlink=/pdbsourcepath:C:/lindquay-updater
    -Wl,--tsaware
    -Wl,--dynamicbase
    -Wl,--high-entropy-va
    -Wl,--nxcompat
    -mguard=cf
    # Compatible with CET shadow stacks: a debug entry that holds the mark.
    -Wl,-Xlink=/cetcompat
    # The loader resolves this program's own imports from System32 only.
    -Wl,-Xlink=/dependentloadflag:0x800
    # One read-only section for constants, import tables, unwind data, the
    # load configuration and the debug directory; code alone is executable.
    -Wl,-Xlink=/merge:.pdata=.rdata
    -Wl,-Xlink=/merge:.buildid=.rdata
    # The optional header's checksum, as a signing tool writes it: so that
    # the file without its signature is this file again.
    -Wl,-Xlink=/release
    -s)
else()
  list(APPEND LAUNCHER_COMPILE_OPTIONS
    # Data is reached relative to the instruction pointer, never through a
    # pointer the loader would have to relocate.
    -mcmodel=small
    # Constants keep the alignment the ABI asks for, not a cache line's.
    -malign-data=abi
    # No clones of functions for the constants they are called with: in this
    # program they cost more code than they save.
    -fno-ipa-cp
    -fno-asynchronous-unwind-tables
    -fno-stack-protector)
  # GCC 12 and GNU ld have no Control Flow Guard and no load configuration,
  # so no loader-seeded stack guard either.
  set(LAUNCHER_HARDENING_OPTIONS)
  set(LAUNCHER_RELEASE_HARDENING FALSE)
  # GNU ld writes no PDB: GCC's debug information is DWARF, which Windows
  # debuggers and crash-dump tools do not read.
  set(LAUNCHER_SYMBOL_OPTIONS)
  set(LAUNCHER_WRITES_PDB FALSE)
  message(STATUS "No PDB: GNU ld writes none (GCC's debug information is DWARF); "
    "the clang-19 toolchain writes lindquay-updater.pdb")
  set(LAUNCHER_FREESTANDING_OPTIONS -ffreestanding -fno-tree-loop-distribute-patterns)
  set(LAUNCHER_LINK_OPTIONS
    -Oz
    -flto
    -fno-ipa-cp
    -fno-ipa-sra
    # Code, constants and imports in one read-only section (see the script).
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
endif()
