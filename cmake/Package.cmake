# `make package`: a Debian package of what `cmake --install` puts in place, under /usr. Its
# dependencies (the Qt 6 runtime libraries among them) are read from the programs themselves by
# dpkg-shlibdeps, so they follow whatever the build linked.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvuflash)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Korvane Communications Ltd")
set(CPACK_PACKAGE_CONTACT "Korvane Flash Device Upload maintainers <maintainers@korvane.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware uploader for the RQ-410 satellite modem")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Korvane Flash Device Upload puts new firmware into the flash memory of an
RQ-410 satellite modem through a serial port, from an Intel HEX file, a
binary image or a ready upload file, and compares the unit's checksums with
the file's afterwards.

The package has the window (kvuflash), the same uploader for scripts and
production lines (kvuflash-cli), and a simulated unit (rq410-sim) for
trying both without hardware.

Serial ports belong to the group dialout: a user who uploads must be a
member (sudo usermod -aG dialout USER, then log in again).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
