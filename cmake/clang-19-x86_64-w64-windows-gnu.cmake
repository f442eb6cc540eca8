# Cross-building for 64-bit Windows with Debian's clang-19 and lld-19 against
# the mingw-w64 headers and import libraries. This toolchain builds the
# release executable: it can give it a load configuration, Control Flow Guard
# and the CET mark, which GNU ld cannot.
#
# Every tool is named here by its versioned name and found on the path once:
# a tool CMake guesses (or an older cache remembers) never takes part. The
# values are forced into the cache, so a folder configured earlier, even
# before these tools were installed, is brought back to them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LINDQUAY_TOOLCHAIN clang-19)

set(LINDQUAY_TARGET_TRIPLE x86_64-w64-windows-gnu)
set(CMAKE_C_COMPILER_TARGET ${LINDQUAY_TARGET_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${LINDQUAY_TARGET_TRIPLE})

function(lindquay_cross_tool variable name)
  find_program(_lindquay_tool ${name} NO_CACHE REQUIRED)
  set(${variable} ${_lindquay_tool} CACHE FILEPATH "${name}, named by the toolchain file" FORCE)
  set(${variable} ${_lindquay_tool} PARENT_SCOPE)
endfunction()

lindquay_cross_tool(CMAKE_C_COMPILER clang-19)
lindquay_cross_tool(CMAKE_CXX_COMPILER clang++-19)
# llvm-windres-19 preprocesses with the clang-19 installed beside it.
lindquay_cross_tool(CMAKE_RC_COMPILER llvm-windres-19)
lindquay_cross_tool(CMAKE_LINKER ld.lld-19)
lindquay_cross_tool(CMAKE_AR llvm-ar-19)
lindquay_cross_tool(CMAKE_RANLIB llvm-ranlib-19)
lindquay_cross_tool(CMAKE_OBJCOPY llvm-objcopy-19)
lindquay_cross_tool(CMAKE_OBJDUMP llvm-objdump-19)
lindquay_cross_tool(CMAKE_STRIP llvm-strip-19)
lindquay_cross_tool(CMAKE_NM llvm-nm-19)
lindquay_cross_tool(CMAKE_DLLTOOL llvm-dlltool-19)
# The tools the build checks its tool list against (CMakeLists.txt).
set(LINDQUAY_CROSS_TOOL_PATTERN "^(clang(\\+\\+)?|llvm-[a-z]+|ld\\.lld)-19$")

set(CMAKE_RC_FLAGS_INIT "--target=pe-x86-64")
# The compiler driver links through the same lld-19, never a default "ld".
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld --ld-path=${CMAKE_LINKER}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld --ld-path=${CMAKE_LINKER}")

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
