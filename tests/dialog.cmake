# The main dialog, its resources and the finished program.

# The resources, read back from the built Update.exe. Its label resources
# lets a run where the 64-bit-prefix suite cannot run pick it for another.
update_test(dialog_resources_test SOURCES dialog_resources_test.cpp LABELS resources TIMEOUT 60)
add_dependencies(dialog_resources_test Update)
target_link_libraries(dialog_resources_test PRIVATE version)

# The dialog classes in the test's own process (with the program's resources
# linked in): the dialog base, the system menu, the version box, painting.
# Holds the log mutex for a moment: no other test may log meanwhile.
update_test(dialog_inproc_test SOURCES dialog_inproc_test.cpp dialog_support.cpp
            LOCKS desktop log TIMEOUT 120)
if(COMMAND update_add_resources)
  update_add_resources(dialog_inproc_test)
endif()

# The real Update.exe as a child process, driven through its windows; holds
# the log mutex to keep an update running for a moment.
update_test(dialog_ui_test SOURCES dialog_ui_test.cpp dialog_support.cpp
            LOCKS registry desktop log LABELS system TIMEOUT 300)
add_dependencies(dialog_ui_test Update)

# Libraries planted beside the real Update.exe under the names of system
# libraries: none may be loaded.
add_library(planted SHARED support/planted.c)
set_target_properties(planted PROPERTIES PREFIX "" OUTPUT_NAME planted
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
update_test(planted_library_test SOURCES planted_library_test.cpp dialog_support.cpp
            LOCKS registry desktop log LABELS system TIMEOUT 120)
add_dependencies(planted_library_test Update planted)
