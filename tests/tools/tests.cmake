# The tools: fpack run as a child, and UpdateReport over a logs folder
# written on the Unix side (in the 64-bit build also the page in a real
# browser, skipped, and said so, where Chromium cannot run).
set(_here ${CMAKE_CURRENT_SOURCE_DIR}/tools)

update_test(fpack_test SOURCES ${_here}/fpack_test.cpp ${_here}/fpack_cli_test.cpp)
target_link_libraries(fpack_test PRIVATE pack_test_util)
add_dependencies(fpack_test fpack)

find_program(UPDATE_PYTHON3 NAMES python3 HINTS /usr/bin REQUIRED)
if(CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME report_test
    COMMAND ${UPDATE_PYTHON3} ${_here}/report/report_test.py
            ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:UpdateReport>
            ${CMAKE_CURRENT_BINARY_DIR}/report)
  set_tests_properties(report_test PROPERTIES TIMEOUT 300)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_test(NAME report_browser_test
      COMMAND ${UPDATE_PYTHON3} ${_here}/report/browser_test.py
              ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:UpdateReport>
              ${CMAKE_CURRENT_BINARY_DIR}/report-browser)
    set_tests_properties(report_browser_test PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
  endif()
endif()
