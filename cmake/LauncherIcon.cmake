# The launcher's icon is drawn at build time from its committed source,
# resources/icon/draw_icon.py, never kept as a binary. The script needs
# nothing beyond Python's standard library, and it writes the same bytes on
# every run, so the executable stays reproducible.

find_package(Python3 REQUIRED COMPONENTS Interpreter)

# In the generated folder, where windres finds the icon that launcher.rc names
# (add_launcher_program puts it on the include path).
set(LAUNCHER_ICON ${LAUNCHER_GENERATED_INCLUDE_DIR}/lindquay-updater.ico)
add_custom_command(OUTPUT ${LAUNCHER_ICON}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${LAUNCHER_GENERATED_INCLUDE_DIR}
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/resources/icon/draw_icon.py ${LAUNCHER_ICON}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/resources/icon/draw_icon.py
  COMMENT "Drawing the launcher's icon"
  VERBATIM)
target_sources(lindquay-updater PRIVATE ${LAUNCHER_ICON})
set_source_files_properties(resources/launcher.rc PROPERTIES OBJECT_DEPENDS ${LAUNCHER_ICON})
