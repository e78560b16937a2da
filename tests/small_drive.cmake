# A small drive for full-disk tests: a tmpfs of 4 MiB linked as drive s: in
# the build's prefix for the tests that require the fixture small_drive (with
# RESOURCE_LOCK small_drive, since each fills it). Without a mount it skips
# with the reason, and those tests skip as well.
if(UPDATE_WINEPREFIX)
  set(UPDATE_SMALL_DRIVE_DIR "${CMAKE_BINARY_DIR}/tests/small-drive")
  set(_small_drive sh ${CMAKE_CURRENT_SOURCE_DIR}/small-drive.sh)
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
