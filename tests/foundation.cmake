# Start-up, the log and the helpers.
update_test(platform_test SOURCES platform_test.cpp LABELS system TIMEOUT 300)
update_test(helpers_test SOURCES helpers_test.cpp mbcs_test.cpp LOCKS registry LABELS system
            TIMEOUT 300)

add_executable(logpeer support/logpeer.cpp)
target_link_libraries(logpeer PRIVATE update_support)
# Holds the system-wide log mutex for seconds: no other test may log meanwhile.
update_test(log_test SOURCES log_test.cpp LOCKS log TIMEOUT 300)
add_dependencies(log_test logpeer)

update_test(startup_test SOURCES startup_test.cpp LOCKS registry log LABELS system TIMEOUT 300)
add_dependencies(startup_test Update)

# Started by scripts/with-test-env.sh for the whole run, and before the
# first test: a prefix made ready.
add_executable(keepalive support/keepalive.cpp)
add_executable(prefixready support/prefixready.cpp)
target_link_libraries(prefixready PRIVATE advapi32 gdi32 user32)
