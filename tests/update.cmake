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
