# The program as it runs: start-up, the dialog of the real Update.exe, quiet
# runs, planted libraries, the resources and a signed copy.
set(_here ${CMAKE_CURRENT_SOURCE_DIR}/program)

update_test(startup_test SOURCES ${_here}/startup_test.cpp LOCKS registry log LABELS system)
add_dependencies(startup_test Update)

# The resources, read back from the built Update.exe. Its label resources
# lets a run where the 64-bit-prefix suite cannot run pick it for another.
update_test(dialog_resources_test SOURCES ${_here}/dialog_resources_test.cpp LABELS resources)
add_dependencies(dialog_resources_test Update)
target_link_libraries(dialog_resources_test PRIVATE version)

# The real Update.exe as a child process, driven through its windows.
update_test(dialog_ui_test SOURCES ${_here}/dialog_ui_test.cpp
            LOCKS registry desktop log LABELS system TIMEOUT 900)
target_link_libraries(dialog_ui_test PRIVATE dialog_test_support)
add_dependencies(dialog_ui_test Update update_stepstop)

update_test(planted_library_test SOURCES ${_here}/planted_library_test.cpp
            LOCKS registry desktop log LABELS system)
target_link_libraries(planted_library_test PRIVATE dialog_test_support)
add_dependencies(planted_library_test Update planted guardprobe)

# The real program without a window; fills the small drive. Its sweeps (an
# update ended at calls spread over it, a disk full at every call) start the
# program some hundred times: a test of their own. Both start the program
# often enough that the label slow_emulated leaves them out where 32-bit
# programs run under an emulator, at a third of the speed: there the real
# program's quiet run is planted_library_test's.
set(_update_quiet_sweeps
  "*.AnUpdateEndedAtAnyCallIsFinishedByTheNextStart/*:*.AnUpdateEndedAtAnyCallIsUndoneAllTheSame/*:*/FullDiskTest.*")
# The case that holds the log's mutex runs by itself: the tests that run the
# update in their own process must wait for it, and only for it.
set(_update_quiet_held "*.AHeldLogMutexCostsOneWaitAndLosesNoRecord/*")
update_test(update_quiet_test SOURCES ${_here}/update_quiet_test.cpp
  LOCKS registry log small_drive LABELS system slow_emulated TIMEOUT 900 COST 65)
add_dependencies(update_quiet_test Update update_stepstop keepalive logpeer)
set_tests_properties(update_quiet_test PROPERTIES FIXTURES_REQUIRED small_drive
  ENVIRONMENT "GTEST_FILTER=-${_update_quiet_sweeps}:${_update_quiet_held}")
add_test(NAME update_quiet_held_log_test COMMAND update_quiet_test)
set_tests_properties(update_quiet_held_log_test PROPERTIES
  RESOURCE_LOCK "registry;log;log_inproc" LABELS "system;slow_emulated" TIMEOUT 300
  ENVIRONMENT "GTEST_FILTER=${_update_quiet_held}")
add_test(NAME update_quiet_sweep_test COMMAND update_quiet_test)
set_tests_properties(update_quiet_sweep_test PROPERTIES FIXTURES_REQUIRED small_drive
  RESOURCE_LOCK "registry;log;small_drive" LABELS "system;slow_emulated" TIMEOUT 900 COST 70
  ENVIRONMENT "GTEST_FILTER=${_update_quiet_sweeps}")

# Authenticode: a copy of Update.exe signed as a release signs it, checked,
# then run once.
add_test(NAME update_signed
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/build/sign_test.sh ${CMAKE_SOURCE_DIR}/scripts/sign.sh
          $<TARGET_FILE:Update> ${CMAKE_BINARY_DIR}/tests/signed)
set_tests_properties(update_signed PROPERTIES FIXTURES_SETUP signed_update TIMEOUT 300
  LABELS static)
update_test(signed_run_test SOURCES ${_here}/signed_run_test.cpp LOCKS registry desktop log)
set_tests_properties(signed_run_test PROPERTIES FIXTURES_REQUIRED signed_update)

# The update lock and the command line.
# Takes the machine's update lock, which every run of the program takes too.
update_test(switches_test SOURCES ${_here}/switches_test.cpp LOCKS registry LABELS system)
