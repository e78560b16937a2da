# The built programs as shipped: their imports, their hardening, a signed
# Update.exe, and what an incremental build embeds.
# The label static marks the checks that run no program of the build: they
# run wherever the build's programs cannot (scripts/run-tests.sh).

# Only Windows' own DLLs; in the 32-bit build, only functions that Windows XP
# SP3 has (tests/xp/make-list.sh derives the list).
set(_xp_list "")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(_xp_list ${CMAKE_CURRENT_SOURCE_DIR}/xp/imports.txt)
endif()
foreach(program Update fpack UpdateReport)
  string(TOLOWER ${program} name)
  add_test(NAME ${name}_imports
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/check-imports.sh ${CMAKE_OBJDUMP}
            $<TARGET_FILE:${program}> ${_xp_list})
  set_tests_properties(${name}_imports PROPERTIES LABELS static)
endforeach()

# Stack guard, ASLR and DEP in the shipped programs.
add_test(NAME programs_hardened
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/check-hardening.sh ${CMAKE_OBJDUMP} ${CMAKE_NM}
          $<TARGET_FILE:Update> $<TARGET_FILE:fpack> $<TARGET_FILE:UpdateReport>)
set_tests_properties(programs_hardened PROPERTIES LABELS static)

# Authenticode: a copy of Update.exe signed as a release signs it, checked,
# then run once.
add_test(NAME update_signed
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/sign_test.sh ${CMAKE_SOURCE_DIR}/scripts/sign.sh
          $<TARGET_FILE:Update> ${CMAKE_BINARY_DIR}/tests/signed)
set_tests_properties(update_signed PROPERTIES FIXTURES_SETUP signed_update TIMEOUT 60
  LABELS static)
update_test(signed_run_test SOURCES signed_run_test.cpp LOCKS registry desktop log TIMEOUT 60)
set_tests_properties(signed_run_test PROPERTIES FIXTURES_REQUIRED signed_update)

# The build itself (configurations and builds of their own): once, in the
# 64-bit build. No payload or no packer stops the configuration; given
# folders get nothing of the sample; an incremental build re-embeds.
if(CMAKE_SIZEOF_VOID_P EQUAL 8 AND CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME build_configure_errors
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/configure_errors.sh
            ${CMAKE_COMMAND} ${CMAKE_SOURCE_DIR} ${CMAKE_TOOLCHAIN_FILE})
  set_tests_properties(build_configure_errors PROPERTIES TIMEOUT 120)
  add_test(NAME build_incremental
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/incremental_build.sh
            ${CMAKE_COMMAND} ${CMAKE_SOURCE_DIR} ${CMAKE_TOOLCHAIN_FILE}
            "-DUPDATE_FPACK_COMMAND=${UPDATE_FPACK_COMMAND}")
  # It builds with -j2: CTest gives it both of the two processors.
  set_tests_properties(build_incremental PROPERTIES TIMEOUT 600 PROCESSORS 2)
endif()
