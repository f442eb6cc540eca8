# The launcher's icon is drawn at build time from its committed source,
# resources/icon/draw_icon.py, never kept as a binary. The script needs
# nothing beyond Python's standard library, and it writes the same bytes on
# every run, so the executable stays reproducible.

find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(LAUNCHER_ICON ${CMAKE_CURRENT_BINARY_DIR}/resources/lindquay-updater.ico)
add_custom_command(OUTPUT ${LAUNCHER_ICON}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/resources
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/resources/icon/draw_icon.py ${LAUNCHER_ICON}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/resources/icon/draw_icon.py
  COMMENT "Drawing the launcher's icon"
  VERBATIM)
target_sources(lindquay-updater PRIVATE ${LAUNCHER_ICON})
set_source_files_properties(resources/launcher.rc PROPERTIES OBJECT_DEPENDS ${LAUNCHER_ICON})
# windres finds the icon named in launcher.rc on the include path.
target_include_directories(lindquay-updater PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/resources)
