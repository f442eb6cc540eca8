# A cross build uses exactly the tools its toolchain file names. A host tool
# that slips in (from an old cache, or a guess of CMake's) can stamp the
# wall-clock time into the executable, as the host's objcopy does: refuse to
# configure with one.
if(CMAKE_CROSSCOMPILING)
  if(NOT LINDQUAY_CROSS_TOOL_PATTERN)
    message(FATAL_ERROR "Cross-build with cmake/clang-19-x86_64-w64-windows-gnu.cmake "
      "or cmake/mingw-w64-x86_64.cmake as the toolchain file.")
  endif()
  foreach(tool CMAKE_C_COMPILER CMAKE_CXX_COMPILER CMAKE_RC_COMPILER CMAKE_LINKER CMAKE_AR
      CMAKE_RANLIB CMAKE_OBJCOPY CMAKE_OBJDUMP CMAKE_STRIP CMAKE_NM)
    get_filename_component(name "${${tool}}" NAME)
    if(NOT name MATCHES "${LINDQUAY_CROSS_TOOL_PATTERN}" OR NOT EXISTS "${${tool}}")
      message(FATAL_ERROR "${tool} is '${${tool}}', not a tool the toolchain file names "
        "(${LINDQUAY_CROSS_TOOL_PATTERN}). Configure a fresh build folder.")
    endif()
  endforeach()
endif()
