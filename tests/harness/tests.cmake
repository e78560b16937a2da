# What the tests share: helpers over the real platform, the update's own
# stand-ins, the dialog driving, the archive builders and fpack's runner, one
# precompiled header, and the small programs the tests start.
set(_harness ${CMAKE_CURRENT_SOURCE_DIR}/harness)

add_library(test_support STATIC ${_harness}/TestSupport.cpp)
target_include_directories(test_support PUBLIC ${_harness})
target_link_libraries(test_support PUBLIC update_support gdi32 user32 advapi32)
target_compile_definitions(test_support PRIVATE
  UPDATE_BUILD_DIR="${CMAKE_BINARY_DIR}"
  UPDATE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

# The update in the test's own process.
add_library(update_test_support STATIC ${_harness}/UpdateTestSupport.cpp)
target_link_libraries(update_test_support PUBLIC update_program test_support GTest::gtest)

# The real Update.exe's windows, driven through the keyboard and messages.
add_library(dialog_test_support STATIC ${_harness}/dialog_support.cpp)
target_link_libraries(dialog_test_support PUBLIC test_support)

# Archives built byte by byte, and fpack.exe run as a child.
add_library(pack_test_util STATIC ${_harness}/PackTestUtil.cpp ${_harness}/FpackRunner.cpp)
target_link_libraries(pack_test_util PUBLIC update_pack test_support GTest::gtest)

# The headers that every test program includes, compiled once: test
# programs take most of a build's time, and most of theirs goes to these.
add_library(test_pch STATIC ${_harness}/pch.cpp)
target_link_libraries(test_pch PRIVATE update_program test_support GTest::gtest)
target_compile_definitions(test_pch PRIVATE
  UPDATE_BUILD_DIR="${CMAKE_BINARY_DIR}"
  UPDATE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
target_precompile_headers(test_pch PRIVATE
  <winsock2.h> <windows.h> <gtest/gtest.h> <algorithm> <functional> <map> <memory> <regex>
  <string> <vector>)

# Run first by scripts/run-tests.sh: can this machine run the build's programs?
add_executable(runprobe ${_harness}/runprobe.cpp)
# Started by scripts/with-test-env.sh for the whole run, and before the
# first test: a prefix made ready.
add_executable(keepalive ${_harness}/keepalive.cpp)
add_executable(prefixready ${_harness}/prefixready.cpp)
target_link_libraries(prefixready PRIVATE advapi32 gdi32 user32)
# A second process that holds or writes the log.
add_executable(logpeer ${_harness}/logpeer.cpp)
target_link_libraries(logpeer PRIVATE update_support)
# A library planted beside the real Update.exe under the names of system
# libraries: none may be loaded.
add_library(planted SHARED ${_harness}/planted.c)
# A program with the shipped programs' own stack guard, which it shows or
# trips.
add_executable(guardprobe ${_harness}/guardprobe.cpp)
update_program(guardprobe)
set_target_properties(planted PROPERTIES PREFIX "" OUTPUT_NAME planted
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

get_property(_update_payload_rc GLOBAL PROPERTY UPDATE_PAYLOAD_RC)
get_property(_update_payload_archives GLOBAL PROPERTY UPDATE_PAYLOAD_ARCHIVES)
# The test programs carry the payload resources themselves, as Update.exe does.
set_source_files_properties(${_update_payload_rc} PROPERTIES
  OBJECT_DEPENDS "${_update_payload_archives}")

if(COMMAND update_add_resources)
  # Update.exe for the tests that stop, hold or fail an update at a given
  # call of its file layer.
  add_executable(update_stepstop WIN32 ${_harness}/stepstop.cpp ${_update_payload_rc})
  target_link_libraries(update_stepstop PRIVATE update_program)
  update_add_resources(update_stepstop)
  add_dependencies(update_stepstop update_payload)
endif()

# A small drive for full-disk tests: a tmpfs of 4 MiB linked as drive s: in
# the build's prefix for the tests that require the fixture small_drive (with
# RESOURCE_LOCK small_drive, since each fills it). Without a mount it skips
# with the reason, and those tests skip as well.
if(UPDATE_WINEPREFIX)
  set(UPDATE_SMALL_DRIVE_DIR "${CMAKE_BINARY_DIR}/tests/small-drive")
  set(_small_drive sh ${CMAKE_CURRENT_SOURCE_DIR}/build/small-drive.sh)
  add_test(NAME small_drive_up
    COMMAND ${_small_drive} up "${UPDATE_WINEPREFIX}" "${UPDATE_SMALL_DRIVE_DIR}" 4096)
  add_test(NAME small_drive_down
    COMMAND ${_small_drive} down "${UPDATE_WINEPREFIX}" "${UPDATE_SMALL_DRIVE_DIR}" 4096)
  set_tests_properties(small_drive_up PROPERTIES
    FIXTURES_SETUP small_drive RESOURCE_LOCK small_drive TIMEOUT 120
    SKIP_REGULAR_EXPRESSION "small drive: SKIPPED:")
  set_tests_properties(small_drive_down PROPERTIES
    FIXTURES_CLEANUP small_drive RESOURCE_LOCK small_drive TIMEOUT 120)
endif()
