# The build and the programs as shipped: the floors' includes, the imports,
# the hardening, reproducible archives and builds, what an incremental build
# embeds, and what stops a configuration. The label static marks the checks
# that run no program of the build: they run wherever the build's programs
# cannot (scripts/run-tests.sh).
set(_here ${CMAKE_CURRENT_SOURCE_DIR}/build)

# No include of the program goes up a floor or round in a circle.
add_test(NAME build_floors
  COMMAND ${UPDATE_PYTHON3} ${_here}/check_floors.py ${CMAKE_SOURCE_DIR})
set_tests_properties(build_floors PROPERTIES LABELS static)

# Only Windows' own DLLs; in the 32-bit build, only functions that Windows XP
# SP3 has (tests/build/xp/make-list.sh derives the list).
set(_xp_list "")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(_xp_list ${_here}/xp/imports.txt)
endif()
foreach(program Update fpack UpdateReport)
  string(TOLOWER ${program} name)
  add_test(NAME ${name}_imports
    COMMAND sh ${_here}/check-imports.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:${program}> ${_xp_list})
  set_tests_properties(${name}_imports PROPERTIES LABELS static)
endforeach()

# Stack guard, ASLR and DEP in the shipped programs.
add_test(NAME programs_hardened
  COMMAND sh ${_here}/check-hardening.sh ${CMAKE_OBJDUMP} ${CMAKE_NM}
          $<TARGET_FILE:Update> $<TARGET_FILE:fpack> $<TARGET_FILE:UpdateReport>)
set_tests_properties(programs_hardened PROPERTIES LABELS static)

if(CMAKE_CROSSCOMPILING_EMULATOR)
  get_property(_update_payload_dirs GLOBAL PROPERTY UPDATE_PAYLOAD_DIRS)
  get_property(_update_payload_time GLOBAL PROPERTY UPDATE_PAYLOAD_TIME_ARGS)
  get_property(_update_sample_payload GLOBAL PROPERTY UPDATE_SAMPLE_PAYLOAD)
  # "-": none (the time given to the packer, the sample's stand-in).
  set(_update_time -)
  if(_update_payload_time)
    list(GET _update_payload_time 1 _update_time)
  endif()
  set(_update_extra -)
  if(_update_sample_payload)
    set(_update_extra $<TARGET_FILE:patchhub>)
  endif()
  # Reproducible build: the archives packed again elsewhere are identical...
  add_test(NAME update_reproducible_archives
    COMMAND sh ${_here}/update_reproducible.sh archives
            ${CMAKE_COMMAND} ${CMAKE_SOURCE_DIR}/Update/res/payload/stage.cmake
            ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:fpack> ${_update_extra}
            ${_update_time} "${UPDATE_PAYLOAD_READONLY}"
            ${_update_payload_dirs} ${_update_payload_archives})
  set_tests_properties(update_reproducible_archives PROPERTIES TIMEOUT 300)
  # ...and a second build folder gives the same Update.exe (a build of its own).
  add_test(NAME update_reproducible_build
    COMMAND sh ${_here}/update_reproducible.sh build
            ${CMAKE_COMMAND} ${CMAKE_SOURCE_DIR} ${CMAKE_TOOLCHAIN_FILE} ${CMAKE_BINARY_DIR}
            -DUPDATE_PAYLOAD_TIME=${UPDATE_PAYLOAD_TIME}
            "-DUPDATE_PAYLOAD_READONLY=${UPDATE_PAYLOAD_READONLY}"
            -DUPDATE_PAYLOAD_CLIENT_DIR=${UPDATE_PAYLOAD_CLIENT_DIR}
            -DUPDATE_PAYLOAD_SERVER_DIR=${UPDATE_PAYLOAD_SERVER_DIR}
            "-DUPDATE_FPACK_COMMAND=${UPDATE_FPACK_COMMAND}")
  set_tests_properties(update_reproducible_build PROPERTIES LABELS long TIMEOUT 900)
endif()

# The build itself (configurations and builds of their own): once, in the
# 64-bit build. No payload or no packer stops the configuration; given
# folders get nothing of the sample; an incremental build re-embeds.
if(CMAKE_SIZEOF_VOID_P EQUAL 8 AND CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME build_configure_errors
    COMMAND sh ${_here}/configure_errors.sh
            ${CMAKE_COMMAND} ${CMAKE_SOURCE_DIR} ${CMAKE_TOOLCHAIN_FILE})
  set_tests_properties(build_configure_errors PROPERTIES TIMEOUT 300 COST 25)
  add_test(NAME build_incremental
    COMMAND sh ${_here}/incremental_build.sh
            ${CMAKE_COMMAND} ${CMAKE_SOURCE_DIR} ${CMAKE_TOOLCHAIN_FILE}
            "-DUPDATE_FPACK_COMMAND=${UPDATE_FPACK_COMMAND}")
  # It builds with -j2: CTest gives it both of the two processors. A build of
  # its own, a minute of both: a long run, as the second build is.
  set_tests_properties(build_incremental PROPERTIES LABELS long TIMEOUT 600 PROCESSORS 2)
endif()
