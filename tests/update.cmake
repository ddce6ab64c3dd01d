# Tests of the database update: download, update thread and cache rewrite,
# the command-line update, and queries racing an update. Included from
# tests/CMakeLists.txt (GTest and Threads found there).
find_package(PkgConfig REQUIRED)
pkg_check_modules(VESSARINE_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)

set(VESSARINE_UPDATE_TEST_DEFS
  VESSARINE_DATA_DIR="${VESSARINE_DATA_DIR}"
  VESSARINE_CLI="$<TARGET_FILE:vessarine-cli>")

add_executable(download_test ${CMAKE_CURRENT_LIST_DIR}/download_test.cpp ${CMAKE_CURRENT_LIST_DIR}/test_support.cpp)
target_link_libraries(download_test PRIVATE
  vessarine::update vessarine::query PkgConfig::VESSARINE_HTTPLIB GTest::gtest_main Threads::Threads)
target_compile_definitions(download_test PRIVATE ${VESSARINE_UPDATE_TEST_DEFS})
add_dependencies(download_test vessarine-cli)
if(TARGET vessarine)
  # The dialog program must not link libcurl either.
  target_compile_definitions(download_test PRIVATE VESSARINE_APP="$<TARGET_FILE:vessarine>")
  add_dependencies(download_test vessarine)
endif()
gtest_discover_tests(download_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)

add_executable(update_test ${CMAKE_CURRENT_LIST_DIR}/update_test.cpp ${CMAKE_CURRENT_LIST_DIR}/test_support.cpp)
target_link_libraries(update_test PRIVATE
  vessarine::update vessarine::query PkgConfig::VESSARINE_HTTPLIB GTest::gtest_main Threads::Threads)
target_compile_definitions(update_test PRIVATE ${VESSARINE_UPDATE_TEST_DEFS})
add_dependencies(update_test vessarine-cli)
gtest_discover_tests(update_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)

# Meant for a ThreadSanitizer build (-DVESSARINE_SANITIZE=thread); it passes
# in every build.
add_executable(race_test ${CMAKE_CURRENT_LIST_DIR}/race_test.cpp ${CMAKE_CURRENT_LIST_DIR}/test_support.cpp)
target_link_libraries(race_test PRIVATE
  vessarine::update vessarine::query GTest::gtest_main Threads::Threads)
target_compile_definitions(race_test PRIVATE ${VESSARINE_UPDATE_TEST_DEFS})
gtest_discover_tests(race_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 LABELS race)
