# Windows-only parts of the build: each program's icon and version resource, and for the window
# a GUI-subsystem executable (the Qt one with Qt's DLLs and plug-ins put beside it).
enable_language(RC)

function(kv_windows_resources target description)
  set(KV_RC_NAME ${target})
  set(KV_RC_DESCRIPTION "${description}")
  set(KV_RC_ICON ${CMAKE_SOURCE_DIR}/resources/windows/kvuflash.ico)
  configure_file(${CMAKE_SOURCE_DIR}/resources/windows/program.rc.in
                 ${CMAKE_BINARY_DIR}/resources/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/resources/${target}.rc)
endfunction()

kv_windows_resources(kvuflash-cli "Korvane Flash Device Upload (command line)")

if(TARGET kvuflash)
  kv_windows_resources(kvuflash "Korvane Flash Device Upload")
  set_target_properties(kvuflash PROPERTIES WIN32_EXECUTABLE ON)
endif()
if(TARGET kvuflash AND NOT KV_NATIVE_WINDOW)
  # The window runs from its build folder, and that folder can be copied to another machine
  # as it is: windeployqt puts the Qt DLLs, plug-ins and compiler runtime beside it.
  if(TARGET Qt6::windeployqt)
    set(kv_windeployqt $<TARGET_FILE:Qt6::windeployqt>)
  else()
    find_program(kv_windeployqt windeployqt HINTS ${QT6_INSTALL_PREFIX}/bin ${Qt6_DIR}/../../../bin)
  endif()
  if(kv_windeployqt)
    add_custom_command(TARGET kvuflash POST_BUILD
      COMMAND ${kv_windeployqt} --no-translations --no-system-d3d-compiler $<TARGET_FILE:kvuflash>
      COMMENT "windeployqt: Qt beside kvuflash.exe"
      VERBATIM)
  else()
    message(WARNING "windeployqt not found: kvuflash.exe needs Qt's DLLs beside it to run")
  endif()
endif()
