# The Windows build under Wine: test_wine runs the programs of a Windows cross build
# (make windows) in a throw-away Wine prefix that the wine_prefix fixture makes once per run.
set(KV_WINDOWS_BUILD_DIR ${CMAKE_SOURCE_DIR}/build-win CACHE PATH
    "The Windows cross build whose programs the Wine tests run")
set(kv_wine_prefix ${CMAKE_BINARY_DIR}/wine-prefix)
set(kv_wine_run ${CMAKE_SOURCE_DIR}/tools/wine-run.sh)

add_executable(test_wine ${CMAKE_CURRENT_LIST_DIR}/wine_test.cpp)
target_include_directories(test_wine PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR})
target_link_libraries(test_wine PRIVATE GTest::gtest_main Threads::Threads)
string(REPLACE ";" "," kv_core_test_dirs "${KV_CORE_TEST_DIRS}")
target_compile_definitions(test_wine PRIVATE
  KV_CORE_TEST_DIRS="${kv_core_test_dirs}"
  KV_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  KV_BINARY_DIR="${CMAKE_BINARY_DIR}"
  KV_WINDOWS_BUILD_DIR="${KV_WINDOWS_BUILD_DIR}"
  KV_SIM_PATH="$<TARGET_FILE:rq410-sim>")
add_dependencies(test_wine rq410-sim)
# One at a time: the prefix has one Wine desktop, made on the display of the program that
# first needs it and gone with that display, so a window test beside another would lose it.
gtest_discover_tests(test_wine
  DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "WINEPREFIX=${kv_wine_prefix}" FIXTURES_REQUIRED wine_prefix TIMEOUT 900
             RESOURCE_LOCK wine_desktop)

# Wine's first start in a new prefix takes a while; it is done once, before the tests.
add_test(NAME wine_prefix COMMAND ${kv_wine_run} --prepare)
add_test(NAME wine_server_stop COMMAND ${kv_wine_run} --stop)
set_tests_properties(wine_prefix PROPERTIES
  ENVIRONMENT "WINEPREFIX=${kv_wine_prefix}" SKIP_RETURN_CODE 77 TIMEOUT 600
  FIXTURES_SETUP wine_prefix)
set_tests_properties(wine_server_stop PROPERTIES
  ENVIRONMENT "WINEPREFIX=${kv_wine_prefix}" SKIP_RETURN_CODE 77 FIXTURES_CLEANUP wine_prefix)

# The Windows packages under Wine: made from the cross build first (the winpkg fixture), which
# skips itself without makensis and zip, leaving no package from an earlier run to be tested.
add_executable(test_wine_package ${CMAKE_CURRENT_LIST_DIR}/wine_package_test.cpp)
target_include_directories(test_wine_package PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR})
target_link_libraries(test_wine_package PRIVATE GTest::gtest_main Threads::Threads)
target_compile_definitions(test_wine_package PRIVATE
  KV_VERSION="${PROJECT_VERSION}"
  KV_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  KV_BINARY_DIR="${CMAKE_BINARY_DIR}"
  KV_WINDOWS_BUILD_DIR="${KV_WINDOWS_BUILD_DIR}"
  KV_SIM_PATH="$<TARGET_FILE:rq410-sim>")
add_dependencies(test_wine_package rq410-sim)
gtest_discover_tests(test_wine_package
  DISCOVERY_MODE PRE_TEST
  PROPERTIES FIXTURES_REQUIRED winpkg TIMEOUT 900 LABELS package)
set(kv_win_packages ${KV_WINDOWS_BUILD_DIR}/kvuflash-${PROJECT_VERSION})
add_test(NAME winpkg_make COMMAND sh -c
  "rm -f \"$1-setup.exe\" \"$1-win64.zip\"
   command -v makensis >/dev/null && command -v zip >/dev/null && [ -f \"$2/cli/kvuflash-cli.exe\" ] ||
     { echo 'winpkg: skipped (needs make windows, makensis and zip: apt-get install nsis zip)'; exit 77; }
   exec \"$3\" \"$2\""
  winpkg ${kv_win_packages} ${KV_WINDOWS_BUILD_DIR} ${CMAKE_SOURCE_DIR}/packaging/windows/make-package.sh)
set_tests_properties(winpkg_make PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 FIXTURES_SETUP winpkg
  LABELS package)
