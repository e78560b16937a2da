# Stages one payload folder for packing (run with cmake -P):
#   -DSOURCE=dir -DDEST=dir -DEXTRA="file;..." -DREADONLY="name;..."
# The staged folder holds exactly the source folder's files plus the EXTRA
# files (the built PatchHub.exe of the sample), each with its source's
# last-write time, which the packer records unless it is told a time.
# Permissions are not taken from the source (a checkout does not keep them):
# every file is made writable, then the files named in READONLY lose their
# write bits, which Wine reports as the read-only attribute that the packer
# records.
cmake_minimum_required(VERSION 3.20)
file(REMOVE_RECURSE "${DEST}")
file(MAKE_DIRECTORY "${DEST}")
file(GLOB _files LIST_DIRECTORIES false "${SOURCE}/*")
foreach(f IN LISTS _files EXTRA)
  if(f STREQUAL "")
    continue()
  endif()
  # cp keeps the last-write time to the nanosecond; file(COPY) keeps whole
  # seconds only.
  execute_process(COMMAND cp --preserve=timestamps "${f}" "${DEST}/" RESULT_VARIABLE _result)
  if(NOT _result EQUAL 0)
    message(FATAL_ERROR "Cannot stage ${f}")
  endif()
endforeach()
file(GLOB _staged LIST_DIRECTORIES false "${DEST}/*")
foreach(f IN LISTS _staged)
  get_filename_component(_name "${f}" NAME)
  if(_name IN_LIST READONLY)
    file(CHMOD "${f}" PERMISSIONS OWNER_READ GROUP_READ WORLD_READ)
  else()
    file(CHMOD "${f}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endif()
endforeach()
