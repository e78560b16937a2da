# The update procedure in the test's own process: the payload, what a run
# writes and logs, and a fault at each call of the file layer.
set(_here ${CMAKE_CURRENT_SOURCE_DIR}/procedure)

update_test(update_payload_test SOURCES ${_here}/update_payload_test.cpp ${_update_payload_rc})
add_dependencies(update_payload_test update_payload Update)

# Writes the log, so it waits for the test that holds the log mutex.
update_test(update_worker_test SOURCES ${_here}/update_worker_test.cpp ${_update_payload_rc}
  LOCKS log_inproc LABELS system)
add_dependencies(update_worker_test update_payload)

# Faults at every call of the file layer: a sample by default, all of them
# under the label long.
update_test(update_sweep_test SOURCES ${_here}/update_sweep_test.cpp ${_update_payload_rc}
  LOCKS log_inproc TIMEOUT 900 COST 90)
add_dependencies(update_sweep_test update_payload)
add_test(NAME update_sweep_long_test COMMAND update_sweep_test)
set_tests_properties(update_sweep_long_test PROPERTIES LABELS long TIMEOUT 1800
  ENVIRONMENT UPDATE_SWEEP_ALL=1 RESOURCE_LOCK log_inproc)
