# UpdateReport: a logs folder with every case it must tell apart, written on
# the Unix side, and the CSV read back; in the 64-bit build also the page in
# a real browser (skipped, and said so, where Chromium cannot run), and the
# record texts of Update/LogTexts.h held against the program's sources.
find_program(UPDATE_PYTHON3 NAMES python3 HINTS /usr/bin REQUIRED)
if(CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME report_test
    COMMAND ${UPDATE_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/report/report_test.py
            ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:UpdateReport>
            ${CMAKE_CURRENT_BINARY_DIR}/report ${CMAKE_SOURCE_DIR}/Update/LogTexts.h)
  set_tests_properties(report_test PROPERTIES TIMEOUT 300)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_test(NAME report_browser_test
      COMMAND ${UPDATE_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/report/browser_test.py
              ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:UpdateReport>
              ${CMAKE_CURRENT_BINARY_DIR}/report-browser)
    set_tests_properties(report_browser_test PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77)
  endif()
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_test(NAME report_logtexts_test
    COMMAND ${UPDATE_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/report/logtexts_test.py
            ${CMAKE_SOURCE_DIR})
endif()

# The real Update.exe through update-startup.cmd, one machine name after
# another, and the report of the logs folder they fill.
if(COMMAND update_add_resources)
  update_test(report_rollout_test SOURCES report/report_rollout_test.cpp
    LOCKS registry log small_drive LABELS system TIMEOUT 900)
  add_dependencies(report_rollout_test Update update_stepstop UpdateReport)
  set_tests_properties(report_rollout_test PROPERTIES FIXTURES_REQUIRED small_drive)
endif()
