# `cmake --install` with the GNU layout: the programs in bin/; help pages and samples in the data
# folder share/kvuflash/, where the programs find them from their own place; the desktop entry
# and the icon where desktops look; manual pages written from the programs' own --help, so that
# they cannot tell a different story; the shell completion; the copyright and change log.
set(KV_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)

install(TARGETS kvuflash-cli rq410-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/help/ DESTINATION ${KV_INSTALL_DATADIR}/help
        FILES_MATCHING PATTERN "*.html")
install(FILES ${CMAKE_SOURCE_DIR}/samples/demo-small.hex ${CMAKE_SOURCE_DIR}/samples/demo-large.hex
              ${CMAKE_SOURCE_DIR}/samples/demo-image.bin
        DESTINATION ${KV_INSTALL_DATADIR}/samples)
install(FILES ${KV_PACKAGING}/kvuflash-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kvuflash-cli)

# Debian wants the change log compressed and both files in the package's doc folder.
set(kv_changelog ${CMAKE_BINARY_DIR}/packaging/changelog)
configure_file(${KV_PACKAGING}/changelog.in ${kv_changelog} @ONLY)
add_custom_command(OUTPUT ${kv_changelog}.gz
                   COMMAND gzip -9nkf ${kv_changelog}
                   DEPENDS ${kv_changelog} VERBATIM)
add_custom_target(kv_changelog ALL DEPENDS ${kv_changelog}.gz)
install(FILES ${KV_PACKAGING}/copyright ${kv_changelog}.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(TARGET kvuflash)
  install(TARGETS kvuflash RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${KV_PACKAGING}/kvuflash.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # The icon is the window's own mark, drawn by the same code at each size desktops ask for.
  add_executable(kv_make_icon ${KV_PACKAGING}/make_icon.cpp ${CMAKE_SOURCE_DIR}/app/logo.cpp)
  target_include_directories(kv_make_icon PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(kv_make_icon PRIVATE Qt6::Gui)
  set(kv_icon_sizes 32 48 64 128 256)
  set(kv_icons)
  foreach(size IN LISTS kv_icon_sizes)
    list(APPEND kv_icons ${CMAKE_BINARY_DIR}/icons/${size}x${size}/apps/kvuflash.png)
  endforeach()
  add_custom_command(OUTPUT ${kv_icons}
                     COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                             $<TARGET_FILE:kv_make_icon> ${CMAKE_BINARY_DIR}/icons ${kv_icon_sizes}
                     DEPENDS kv_make_icon VERBATIM)
  add_custom_target(kv_icons ALL DEPENDS ${kv_icons})
  install(DIRECTORY ${CMAKE_BINARY_DIR}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
endif()

# Manual pages from --help and --version, with the sections that --help has no room for.
find_program(KV_HELP2MAN help2man)
if(KV_HELP2MAN)
  set(kv_man_pages)
  function(kv_man_page program summary)
    if(NOT TARGET ${program})
      return()
    endif()
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
                       COMMAND ${KV_HELP2MAN} --no-info --section=1 --name=${summary}
                               --include=${KV_PACKAGING}/${program}.h2m --output=${page}
                               $<TARGET_FILE:${program}>
                       COMMAND gzip -9nf ${page}
                       DEPENDS ${program} ${KV_PACKAGING}/${program}.h2m VERBATIM)
    set(kv_man_pages ${kv_man_pages} ${page}.gz PARENT_SCOPE)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endfunction()
  kv_man_page(kvuflash "upload firmware into an RQ-410 satellite modem (the window)")
  kv_man_page(kvuflash-cli "upload firmware into an RQ-410 satellite modem from the command line")
  kv_man_page(rq410-sim "a simulated RQ-410 unit, for trying the uploader without hardware")
  add_custom_target(kv_man_pages ALL DEPENDS ${kv_man_pages})
else()
  message(STATUS "help2man not found: no manual pages (tools/install-deps.sh installs it)")
endif()
