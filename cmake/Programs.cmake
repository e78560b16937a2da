# How the programs that leave the build (Update.exe, fpack.exe and the other
# tools) are linked, as opposed to the test programs.
#
# The compilers use the posix thread model, which GoogleTest needs. Its
# runtime (winpthread, pulled in by libstdc++ and libgcc_eh) imports
# GetTickCount64, which Windows XP lacks. The programs use no C++ threading,
# so they link the runtime of the win32 thread model instead: the same
# compiler release built without winpthread. Should a program ever use
# std::thread or std::mutex, its link fails on the missing pthread functions
# rather than shipping them.

execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
                OUTPUT_VARIABLE _libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(_runtime_dir "${_libgcc}" DIRECTORY)
string(REGEX REPLACE "-posix$" "-win32" UPDATE_WIN32_RUNTIME_DIR "${_runtime_dir}")
if(UPDATE_WIN32_RUNTIME_DIR STREQUAL _runtime_dir OR NOT EXISTS "${UPDATE_WIN32_RUNTIME_DIR}/libstdc++.a")
  message(FATAL_ERROR
    "No win32-thread-model runtime beside ${_runtime_dir}: install the "
    "g++-mingw-w64-*-win32 package of this compiler (make setup does).")
endif()

# update_program(target): links a program with the win32 thread model's
# runtime and the programs' own stack guard (Update/support/StackGuard.cpp),
# which keeps libssp's out: libssp seeds its guard through libraries that
# are looked for beside the program, before WinMain. Search directories
# given here come before the compiler's own.
function(update_program target)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/Update/support/StackGuard.cpp)
  target_link_options(${target} PRIVATE -no-pthread "-L${UPDATE_WIN32_RUNTIME_DIR}")
endfunction()
