# What the build tells the programs about themselves: the version (the project's VERSION is the
# only place it is written) and where an installed program's data folder lies, relative to its
# own folder, so that an installed tree still finds its files after being moved.
include(GNUInstallDirs)
set(KV_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/kvuflash)
file(RELATIVE_PATH KV_DATA_DIR_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_DATADIR}/kvuflash)
configure_file(${CMAKE_CURRENT_LIST_DIR}/kv_build_info.h.in
               ${CMAKE_BINARY_DIR}/generated/kv_build_info.h @ONLY)
