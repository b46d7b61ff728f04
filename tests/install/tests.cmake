# The installed tree and the Debian package, checked from outside with the programs as built.
# Both are labelled, so that `ctest -L install` runs them alone and `ctest -LE package` skips
# the slower package check.
# A sanitized build is never the one installed, and builds only the tests it runs.
if(NOT KV_SANITIZE AND TARGET kvuflash-cli AND TARGET rq410-sim)
  add_test(NAME installed_programs_run_from_a_moved_prefix
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_test.sh ${CMAKE_BINARY_DIR}
                   ${CMAKE_SOURCE_DIR} ${PROJECT_VERSION})
  set_tests_properties(installed_programs_run_from_a_moved_prefix
                       PROPERTIES LABELS install TIMEOUT 300)
endif()
# The list of files it expects is that of a build with the window and the manual pages.
if(NOT KV_SANITIZE AND TARGET kvuflash AND KV_HELP2MAN)
  add_test(NAME debian_package_contents_and_lintian
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/package_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(debian_package_contents_and_lintian
                       PROPERTIES LABELS "install;package" TIMEOUT 600)
endif()
