# The update procedure, the payload and the generated files.
get_property(_update_payload_rc GLOBAL PROPERTY UPDATE_PAYLOAD_RC)
get_property(_update_payload_archives GLOBAL PROPERTY UPDATE_PAYLOAD_ARCHIVES)
# The test programs carry the payload resources themselves, as Update.exe does.
set_source_files_properties(${_update_payload_rc} PROPERTIES
  OBJECT_DEPENDS "${_update_payload_archives}")

update_test(update_payload_test SOURCES update_payload_test.cpp ${_update_payload_rc}
  TIMEOUT 120)
add_dependencies(update_payload_test update_payload Update)

# Writes the log, so it waits for the test that holds the log mutex.
update_test(update_worker_test SOURCES update_worker_test.cpp ${_update_payload_rc}
  LOCKS log TIMEOUT 240)
add_dependencies(update_worker_test update_payload)
# A full disk for the command files: links to /dev/full, which Wine opens
# as files whose writes fail with ENOSPC.
set(_update_full_disk "${CMAKE_BINARY_DIR}/tests/update-full-disk")
add_test(NAME update_full_disk_links
  COMMAND sh -c "mkdir -p \"$1\" && ln -sfn /dev/full \"$1/patchrun.bat\" && ln -sfn /dev/full \"$1/patchcliXP.bat\""
          sh "${_update_full_disk}")
set_tests_properties(update_full_disk_links PROPERTIES FIXTURES_SETUP update_full_disk)
set_tests_properties(update_worker_test PROPERTIES FIXTURES_REQUIRED update_full_disk)

if(CMAKE_CROSSCOMPILING_EMULATOR)
  get_property(_update_payload_dirs GLOBAL PROPERTY UPDATE_PAYLOAD_DIRS)
  get_property(_update_payload_time GLOBAL PROPERTY UPDATE_PAYLOAD_TIME_ARGS)
  get_property(_update_sample_payload GLOBAL PROPERTY UPDATE_SAMPLE_PAYLOAD)
  # "-": none (the time given to the packer, the sample's stand-in).
  set(_update_time -)
  if(_update_payload_time)
    list(GET _update_payload_time 1 _update_time)
  endif()
  set(_update_extra -)
  if(_update_sample_payload)
    set(_update_extra $<TARGET_FILE:patchhub>)
  endif()
  # Reproducible build: the archives packed again elsewhere are identical...
  add_test(NAME update_reproducible_archives
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/update_reproducible.sh archives
            ${CMAKE_COMMAND} ${CMAKE_SOURCE_DIR}/Update/res/payload/stage.cmake
            ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:fpack> ${_update_extra}
            ${_update_time} "${UPDATE_PAYLOAD_READONLY}"
            ${_update_payload_dirs} ${_update_payload_archives})
  set_tests_properties(update_reproducible_archives PROPERTIES TIMEOUT 120)
  # ...and a second build folder gives the same Update.exe (a build of its own).
  add_test(NAME update_reproducible_build
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/update_reproducible.sh build
            ${CMAKE_COMMAND} ${CMAKE_SOURCE_DIR} ${CMAKE_TOOLCHAIN_FILE} ${CMAKE_BINARY_DIR}
            -DUPDATE_PAYLOAD_TIME=${UPDATE_PAYLOAD_TIME}
            "-DUPDATE_PAYLOAD_READONLY=${UPDATE_PAYLOAD_READONLY}"
            -DUPDATE_PAYLOAD_CLIENT_DIR=${UPDATE_PAYLOAD_CLIENT_DIR}
            -DUPDATE_PAYLOAD_SERVER_DIR=${UPDATE_PAYLOAD_SERVER_DIR}
            "-DUPDATE_FPACK_COMMAND=${UPDATE_FPACK_COMMAND}")
  set_tests_properties(update_reproducible_build PROPERTIES LABELS long TIMEOUT 900)
endif()
