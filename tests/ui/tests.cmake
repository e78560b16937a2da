# The dialog framework and the program's dialogs in the test's own process,
# with the program's resources linked in.
update_test(dialog_inproc_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ui/dialog_inproc_test.cpp
            LOCKS registry desktop log_inproc)
target_link_libraries(dialog_inproc_test PRIVATE dialog_test_support)
if(COMMAND update_add_resources)
  update_add_resources(dialog_inproc_test)
endif()
