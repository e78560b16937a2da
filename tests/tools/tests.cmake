# The tools: fpack run as a child; UpdateReport over a logs folder with every
# case it must tell apart, written on the Unix side, and the CSV read back
# (in the 64-bit build also the page in a real browser, skipped, and said so,
# where Chromium cannot run); the record texts of support/LogTexts.h held
# against the program's sources; and the report of the logs that the real
# Update.exe writes through update-startup.cmd.
set(_here ${CMAKE_CURRENT_SOURCE_DIR}/tools)
set(_log_texts ${CMAKE_SOURCE_DIR}/Update/support/LogTexts.h)

update_test(fpack_test SOURCES ${_here}/fpack_test.cpp ${_here}/fpack_cli_test.cpp TIMEOUT 900 COST 60)
target_link_libraries(fpack_test PRIVATE pack_test_util)
add_dependencies(fpack_test fpack)

find_program(UPDATE_PYTHON3 NAMES python3 HINTS /usr/bin REQUIRED)
if(CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME report_test
    COMMAND ${UPDATE_PYTHON3} ${_here}/report/report_test.py
            ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:UpdateReport>
            ${CMAKE_CURRENT_BINARY_DIR}/report ${_log_texts})
  set_tests_properties(report_test PROPERTIES TIMEOUT 300)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_test(NAME report_browser_test
      COMMAND ${UPDATE_PYTHON3} ${_here}/report/browser_test.py
              ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:UpdateReport>
              ${CMAKE_CURRENT_BINARY_DIR}/report-browser)
    set_tests_properties(report_browser_test PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77 COST 50)
  endif()
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_test(NAME report_logtexts_test
    COMMAND ${UPDATE_PYTHON3} ${_here}/report/logtexts_test.py ${CMAKE_SOURCE_DIR})
endif()

if(COMMAND update_add_resources)
  update_test(report_rollout_test SOURCES ${_here}/report/report_rollout_test.cpp
    LOCKS registry log small_drive LABELS system slow_emulated TIMEOUT 900)
  add_dependencies(report_rollout_test Update update_stepstop UpdateReport)
  set_tests_properties(report_rollout_test PROPERTIES FIXTURES_REQUIRED small_drive)
endif()
