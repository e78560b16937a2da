# Start-up, the log and the helpers.
update_test(platform_test SOURCES platform_test.cpp TIMEOUT 60)
