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
  LOCKS log LABELS system TIMEOUT 240)
add_dependencies(update_worker_test update_payload)

# Faults at every call of the file layer: a sample by default, all of them
# under the label long.
update_test(update_sweep_test SOURCES update_sweep_test.cpp ${_update_payload_rc}
  LOCKS log TIMEOUT 300)
add_dependencies(update_sweep_test update_payload)
add_test(NAME update_sweep_long_test COMMAND update_sweep_test)
set_tests_properties(update_sweep_long_test PROPERTIES LABELS long TIMEOUT 1800
  ENVIRONMENT UPDATE_SWEEP_ALL=1 RESOURCE_LOCK log)

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

if(COMMAND update_add_resources)
  # Update.exe for the tests that stop an update after a given step.
  add_executable(update_stepstop WIN32 support/stepstop.cpp ${_update_payload_rc})
  target_link_libraries(update_stepstop PRIVATE update_program)
  update_add_resources(update_stepstop)
  add_dependencies(update_stepstop update_payload)

  # The real program without a window; fills the small drive. Its sweeps
  # (an update ended at calls spread over it, a disk full at every call)
  # start the program some hundred times: a test of their own, which the
  # label slow_emulated leaves out where 32-bit programs run under an
  # emulator, at a third of the speed.
  set(_update_quiet_sweeps "*.AnUpdateEndedAtAnyCallIsFinishedByTheNextStart/*:*/FullDiskTest.*")
  update_test(update_quiet_test SOURCES update_quiet_test.cpp
    LOCKS registry log small_drive LABELS system TIMEOUT 900)
  add_dependencies(update_quiet_test Update update_stepstop keepalive logpeer)
  set_tests_properties(update_quiet_test PROPERTIES FIXTURES_REQUIRED small_drive
    ENVIRONMENT "GTEST_FILTER=-${_update_quiet_sweeps}")
  add_test(NAME update_quiet_sweep_test COMMAND update_quiet_test)
  set_tests_properties(update_quiet_sweep_test PROPERTIES FIXTURES_REQUIRED small_drive
    RESOURCE_LOCK "registry;log;small_drive" LABELS "system;slow_emulated" TIMEOUT 900
    ENVIRONMENT "GTEST_FILTER=${_update_quiet_sweeps}")
endif()
