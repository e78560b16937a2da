# The two payload archives of Update.exe: the client folder (resource 130,
# operation mode 2) and the server folder (resource 131, mode 1) are staged
# into the build tree, packed with fpack, and embedded as resources of type
# "IDH_FILE", language 0x0411.
#
# A release points UPDATE_PAYLOAD_CLIENT_DIR and UPDATE_PAYLOAD_SERVER_DIR at
# the vendor's feature files; every file of a folder's top level is packed
# (no subfolders), nothing else. Left empty, both name the sample folders
# here, which have the shape of the real ones: the sample payload, for
# development only. Only the sample gets the built PatchHub.exe stand-in, and
# an Update.exe built with it says so (version record, a log record at
# start-up).
#
# Record times: each file's own creation and last-write times, clamped by
# fpack to SOURCE_DATE_EPOCH when that is set in the environment; a decimal
# FILETIME in UPDATE_PAYLOAD_TIME stamps every record instead. The sample's
# files carry only checkout times, so the sample is stamped with a fixed time.
# The read-only attribute comes from UPDATE_PAYLOAD_READONLY, not from the
# files. Two builds from the same folders give byte-identical archives.

set(UPDATE_PAYLOAD_CLIENT_DIR "" CACHE PATH
    "Folder whose files become payload resource 130 (client part); empty: the sample")
set(UPDATE_PAYLOAD_SERVER_DIR "" CACHE PATH
    "Folder whose files become payload resource 131 (server part); empty: the sample")
set(UPDATE_PAYLOAD_READONLY "WSUS.txt;Version.txt;History.txt;ReadMeSrv.txt;ReadMeCli.txt"
    CACHE STRING "Payload file names that are packed with the read-only attribute")
set(UPDATE_PAYLOAD_TIME "" CACHE STRING
    "Creation and last-write time of every payload record, as a decimal FILETIME; empty: each file's own")
# The packer command when the build's own fpack cannot run here: a list such
# as "/path/wine-run.sh;/path/fpack.exe".
set(UPDATE_FPACK_COMMAND "" CACHE STRING "Packer command used instead of the fpack target")
# The stand-in used to be an option; it is the sample's alone now.
unset(UPDATE_PAYLOAD_ADD_PATCHHUB CACHE)

set(_sample_dir "${CMAKE_CURRENT_LIST_DIR}")
# 2007-04-01 00:00:00 UTC.
set(_sample_time 128198592000000000)

# Which folders: both given, or both the sample.
set(_given "")
foreach(side CLIENT SERVER)
  set(dir "${UPDATE_PAYLOAD_${side}_DIR}")
  string(TOLOWER ${side} lower)
  if(dir STREQUAL "")
    set(_dir_${side} "${_sample_dir}/${lower}")
  else()
    get_filename_component(_dir_${side} "${dir}" ABSOLUTE)
    if(NOT _dir_${side} STREQUAL "${_sample_dir}/${lower}")
      list(APPEND _given ${side})
    endif()
  endif()
  file(GLOB _files LIST_DIRECTORIES false "${_dir_${side}}/*")
  if(NOT _files)
    message(FATAL_ERROR
      "The ${lower} payload folder ${_dir_${side}} holds no files: set "
      "UPDATE_PAYLOAD_${side}_DIR to the folder of the vendor's ${lower} files.")
  endif()
  # The marker arrives with the payload and says, as the update's last
  # change, that the feature is updated: without it no update could finish.
  set(_marker "")
  foreach(file IN LISTS _files)
    get_filename_component(name "${file}" NAME)
    string(TOLOWER "${name}" name)
    if(name STREQUAL "wsus.txt")
      set(_marker "${file}")
    endif()
  endforeach()
  if(NOT _marker)
    message(FATAL_ERROR
      "The ${lower} payload folder ${_dir_${side}} holds no WSUS.txt: the marker that the "
      "update puts in place as its last change must be among the vendor's ${lower} files.")
  endif()
endforeach()
list(LENGTH _given _given_count)
if(_given_count EQUAL 1)
  message(FATAL_ERROR
    "Only UPDATE_PAYLOAD_${_given}_DIR is set: set both UPDATE_PAYLOAD_CLIENT_DIR and "
    "UPDATE_PAYLOAD_SERVER_DIR to the vendor's folders (or neither, for the sample payload).")
endif()
if(_given_count EQUAL 0)
  set(UPDATE_SAMPLE_PAYLOAD ON)
  message(STATUS "Payload: the sample folders (development only; not for a release)")
else()
  set(UPDATE_SAMPLE_PAYLOAD OFF)
  message(STATUS "Payload: ${_dir_CLIENT} (client), ${_dir_SERVER} (server)")
endif()

set(_time "${UPDATE_PAYLOAD_TIME}")
if(_time STREQUAL "" AND UPDATE_SAMPLE_PAYLOAD)
  set(_time ${_sample_time})
endif()
if(NOT _time STREQUAL "" AND NOT _time MATCHES "^[0-9]+$")
  message(FATAL_ERROR "UPDATE_PAYLOAD_TIME must be a decimal FILETIME (or empty)")
endif()
set(_time_args "")
if(NOT _time STREQUAL "")
  set(_time_args --time ${_time})
endif()

# The packer: the build's own fpack through the Wine runner, or the given
# command. Either must run here, or there is no payload.
if(UPDATE_FPACK_COMMAND)
  set(_fpack ${UPDATE_FPACK_COMMAND})
  set(_fpack_dep "")
  foreach(part IN LISTS UPDATE_FPACK_COMMAND)
    if(IS_ABSOLUTE "${part}" AND EXISTS "${part}")
      list(APPEND _fpack_dep "${part}")
    endif()
  endforeach()
  # Given nothing to do, fpack ends with its usage error, 64.
  execute_process(COMMAND ${UPDATE_FPACK_COMMAND} RESULT_VARIABLE _fpack_result
                  OUTPUT_QUIET ERROR_VARIABLE _fpack_error)
  if(NOT _fpack_result EQUAL 64)
    string(STRIP "${_fpack_error}" _fpack_error)
    message(FATAL_ERROR
      "UPDATE_FPACK_COMMAND does not run fpack (status ${_fpack_result}: ${_fpack_error}). "
      "Set it to a packer that runs here, e.g. a 64-bit build's "
      "\"<build>/wine-run.sh;<build>/tools/fpack/fpack.exe\".")
  endif()
elseif(CMAKE_CROSSCOMPILING_EMULATOR AND UPDATE_RUNNER_WORKS)
  # Naming the target makes CMake run it through the emulator, and rebuilds
  # the archives whenever fpack changes.
  set(_fpack fpack)
  set(_fpack_dep fpack)
else()
  message(FATAL_ERROR
    "This build cannot run its own fpack here, so Update.exe would have no payload. "
    "Set UPDATE_FPACK_COMMAND to a packer that runs here, e.g. a 64-bit build's "
    "\"<build>/wine-run.sh;<build>/tools/fpack/fpack.exe\".")
endif()

set(_payload_bin "${CMAKE_CURRENT_BINARY_DIR}/payload")
set(_payload_stage "${CMAKE_CURRENT_LIST_DIR}/stage.cmake")
# Settings that change what is packed; rewritten only when they change, so
# that a changed setting repacks.
set(_payload_settings "${_payload_bin}/settings.txt")
file(CONFIGURE OUTPUT "${_payload_settings}" CONTENT
"sample=${UPDATE_SAMPLE_PAYLOAD}
time=${_time}
readonly=${UPDATE_PAYLOAD_READONLY}
packer=${UPDATE_FPACK_COMMAND}
")

# Paths handed to the packer are Windows paths: Z: is the root of the host's
# file system under Wine.
function(_update_pack_payload side source_dir out_var)
  set(stage_dir "${_payload_bin}/${side}")
  set(archive "${_payload_bin}/${side}.fpk")
  file(GLOB inputs CONFIGURE_DEPENDS LIST_DIRECTORIES false "${source_dir}/*")
  # The names, so that a file taken away repacks too.
  set(input_list "${_payload_bin}/${side}-files.txt")
  string(REPLACE ";" "\n" names "${inputs}")
  file(CONFIGURE OUTPUT "${input_list}" CONTENT "${names}\n")
  string(REPLACE "/" "\\" archive_win "Z:${archive}")
  string(REPLACE "/" "\\" stage_win "Z:${stage_dir}")
  set(extra "")
  set(extra_dep "")
  if(UPDATE_SAMPLE_PAYLOAD)
    set(extra "$<TARGET_FILE:patchhub>")
    set(extra_dep patchhub)
  endif()
  add_custom_command(
    OUTPUT "${archive}"
    COMMAND ${CMAKE_COMMAND} -E rm -f "${archive}"
    COMMAND ${CMAKE_COMMAND} "-DSOURCE=${source_dir}" "-DDEST=${stage_dir}" "-DEXTRA=${extra}"
            "-DREADONLY=${UPDATE_PAYLOAD_READONLY}" -P "${_payload_stage}"
    COMMAND ${_fpack} c "${archive_win}" "${stage_win}" ${_time_args}
    DEPENDS ${inputs} "${input_list}" ${_payload_stage} "${_payload_settings}" ${extra_dep} ${_fpack_dep}
    COMMENT "Packing the ${side} payload"
    VERBATIM)
  set(${out_var} "${archive}" PARENT_SCOPE)
endfunction()

_update_pack_payload(client "${_dir_CLIENT}" _client_archive)
_update_pack_payload(server "${_dir_SERVER}" _server_archive)
add_custom_target(update_payload DEPENDS "${_client_archive}" "${_server_archive}")

# The resource script: Japanese (LANGUAGE 0x11, 0x01 = 0x0411), user type
# IDH_FILE. windres copies the named files' bytes only, no path or time; it
# does not report them as dependencies, hence OBJECT_DEPENDS, set where the
# target that compiles the script lives.
set(_payload_rc "${_payload_bin}/payload.rc")
file(CONFIGURE OUTPUT "${_payload_rc}" CONTENT
"// Generated by payload.cmake: the payload archives of Update.exe.
LANGUAGE 0x11, 0x01
130 IDH_FILE \"${_client_archive}\"
131 IDH_FILE \"${_server_archive}\"
")
target_sources(Update PRIVATE "${_payload_rc}")
set_source_files_properties("${_payload_rc}" TARGET_DIRECTORY Update PROPERTIES
  OBJECT_DEPENDS "${_client_archive};${_server_archive}")
add_dependencies(Update update_payload)

# The sample payload shows in the version record and in the log.
if(UPDATE_SAMPLE_PAYLOAD)
  target_compile_definitions(update_program PUBLIC UPDATE_SAMPLE_PAYLOAD=1)
endif()

# For test programs that need the resources linked into themselves, and the
# checks of the build itself.
set_property(GLOBAL PROPERTY UPDATE_PAYLOAD_RC "${_payload_rc}")
set_property(GLOBAL PROPERTY UPDATE_PAYLOAD_ARCHIVES "${_client_archive};${_server_archive}")
set_property(GLOBAL PROPERTY UPDATE_PAYLOAD_STAGE_DIRS "${_payload_bin}/client;${_payload_bin}/server")
set_property(GLOBAL PROPERTY UPDATE_PAYLOAD_DIRS "${_dir_CLIENT};${_dir_SERVER}")
set_property(GLOBAL PROPERTY UPDATE_PAYLOAD_TIME_ARGS "${_time_args}")
set_property(GLOBAL PROPERTY UPDATE_SAMPLE_PAYLOAD ${UPDATE_SAMPLE_PAYLOAD})
