# The update procedure, the payload and the generated files.
get_property(_update_payload_rc GLOBAL PROPERTY UPDATE_PAYLOAD_RC)
get_property(_update_payload_archives GLOBAL PROPERTY UPDATE_PAYLOAD_ARCHIVES)
if(_update_payload_rc)
  # The test programs carry the payload resources themselves, as Update.exe does.
  set_source_files_properties(${_update_payload_rc} PROPERTIES
    OBJECT_DEPENDS "${_update_payload_archives}")

  update_test(update_payload_test SOURCES update_payload_test.cpp ${_update_payload_rc}
    TIMEOUT 120)
  add_dependencies(update_payload_test update_payload Update)
endif()

if(_update_payload_rc)
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
endif()
