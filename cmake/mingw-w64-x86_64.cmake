# Cross-building for 64-bit Windows with Debian's mingw-w64 GCC (posix
# threads) and GNU binutils. Supported for building and running the tests;
# the release executable comes from cmake/clang-19-x86_64-w64-windows-gnu.cmake.
#
# Every tool is named here by its cross name and found on the path once, and
# forced into the cache: a host tool (/usr/bin/objcopy stamps the wall-clock
# time into a PE file) never takes part, not even in a folder configured
# before the cross tools were installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LINDQUAY_TOOLCHAIN gcc)

set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)

function(lindquay_cross_tool variable name)
  find_program(_lindquay_tool ${name} NO_CACHE REQUIRED)
  set(${variable} ${_lindquay_tool} CACHE FILEPATH "${name}, named by the toolchain file" FORCE)
  set(${variable} ${_lindquay_tool} PARENT_SCOPE)
endfunction()

lindquay_cross_tool(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
lindquay_cross_tool(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
lindquay_cross_tool(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
lindquay_cross_tool(CMAKE_LINKER ${TOOLCHAIN_PREFIX}-ld)
lindquay_cross_tool(CMAKE_AR ${TOOLCHAIN_PREFIX}-gcc-ar-posix)
lindquay_cross_tool(CMAKE_RANLIB ${TOOLCHAIN_PREFIX}-gcc-ranlib-posix)
lindquay_cross_tool(CMAKE_OBJCOPY ${TOOLCHAIN_PREFIX}-objcopy)
lindquay_cross_tool(CMAKE_OBJDUMP ${TOOLCHAIN_PREFIX}-objdump)
lindquay_cross_tool(CMAKE_STRIP ${TOOLCHAIN_PREFIX}-strip)
lindquay_cross_tool(CMAKE_NM ${TOOLCHAIN_PREFIX}-gcc-nm-posix)
lindquay_cross_tool(CMAKE_DLLTOOL ${TOOLCHAIN_PREFIX}-dlltool)
# The tools the build checks its tool list against (CMakeLists.txt).
set(LINDQUAY_CROSS_TOOL_PATTERN "^${TOOLCHAIN_PREFIX}-")

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
