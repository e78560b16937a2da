# The support floor: byte strings, paths, the registry, long paths, folders
# and the log.
set(_here ${CMAKE_CURRENT_SOURCE_DIR}/support)

update_test(helpers_test SOURCES ${_here}/helpers_test.cpp ${_here}/mbcs_test.cpp
            LOCKS registry LABELS system)

update_test(longpath_test SOURCES ${_here}/longpath_test.cpp)
target_link_libraries(longpath_test PRIVATE pack_test_util)

# Holds the system-wide log mutex for seconds: no other test may log meanwhile.
update_test(log_test SOURCES ${_here}/log_test.cpp LOCKS log log_inproc)
add_dependencies(log_test logpeer)
