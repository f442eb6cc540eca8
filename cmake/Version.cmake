# The version stamped into the executable's version block, in its binary
# fields (FILEVERSION, PRODUCTVERSION) and its strings. Windows Installer
# replaces a versioned file only with one of a higher version, so a release
# that changes the launcher must raise it. It is the project's version
# (project() in CMakeLists.txt) unless -DLINDQUAY_VERSION=a.b.c.d gives
# another; resources/launcher.rc reads it from a header written here.

set(LINDQUAY_VERSION "" CACHE STRING
  "Version of the executable, a.b.c.d (four numbers 0-65535); empty: the project's, ${PROJECT_VERSION}")

if(LINDQUAY_VERSION STREQUAL "")
  set(_version "${PROJECT_VERSION}")
else()
  set(_version "${LINDQUAY_VERSION}")
endif()
set(_part "([0-9][0-9]?[0-9]?[0-9]?[0-9]?)")
set(LAUNCHER_VERSION_PARTS)
set(_valid FALSE)
if(_version MATCHES "^${_part}\\.${_part}\\.${_part}\\.${_part}$")
  set(_valid TRUE)
  foreach(_index 1 2 3 4)
    # Decimal, without leading zeros (a resource compiler reads 010 as octal).
    math(EXPR _number "${CMAKE_MATCH_${_index}}")
    if(_number GREATER 65535)
      set(_valid FALSE)
    endif()
    list(APPEND LAUNCHER_VERSION_PARTS ${_number})
  endforeach()
endif()
if(NOT _valid)
  message(FATAL_ERROR "The version '${_version}' is not one that Windows can hold: it must be "
    "four numbers from 0 to 65535 separated by dots (a.b.c.d). Set -DLINDQUAY_VERSION=a.b.c.d.")
endif()
list(GET LAUNCHER_VERSION_PARTS 0 LAUNCHER_VERSION_MAJOR)
list(GET LAUNCHER_VERSION_PARTS 1 LAUNCHER_VERSION_MINOR)
list(GET LAUNCHER_VERSION_PARTS 2 LAUNCHER_VERSION_PATCH)
list(GET LAUNCHER_VERSION_PARTS 3 LAUNCHER_VERSION_TWEAK)
list(JOIN LAUNCHER_VERSION_PARTS "." LAUNCHER_VERSION)
message(STATUS "lindquay-updater.exe version: ${LAUNCHER_VERSION}")

# Rewritten only when the version changes, so a build folder relinks exactly
# then. The launcher's resource script and the release tests include it.
set(LAUNCHER_GENERATED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/resources)
configure_file(${CMAKE_CURRENT_LIST_DIR}/lindquay_version.h.in ${LAUNCHER_GENERATED_INCLUDE_DIR}/lindquay_version.h @ONLY)
