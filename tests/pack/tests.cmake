# The Folder Pack floor: the unpacker, mutated archives and the writer.
set(_here ${CMAKE_CURRENT_SOURCE_DIR}/pack)

# Measures its peak working set through fpack_bench; fills the small drive.
update_test(pack_unpack_test SOURCES ${_here}/unpack_test.cpp)
target_link_libraries(pack_unpack_test PRIVATE pack_test_util)
add_dependencies(pack_unpack_test fpack_bench)
set_tests_properties(pack_unpack_test PROPERTIES
  FIXTURES_REQUIRED small_drive RESOURCE_LOCK small_drive)

# Mutated archives: a fixed number by default, a million under the label long.
update_test(pack_mutation_test SOURCES ${_here}/mutation_test.cpp TIMEOUT 600 COST 20)
target_link_libraries(pack_mutation_test PRIVATE pack_test_util psapi)
add_dependencies(pack_mutation_test fpack)
# A million archives, all of them, on a tmpfs where there is one: half an
# hour to an hour on two cores, as busy as they are.
add_test(NAME pack_mutation_long_test COMMAND pack_mutation_test)
set_tests_properties(pack_mutation_long_test PROPERTIES LABELS long TIMEOUT 7200
  ENVIRONMENT "PACK_MUTATION_COUNT=1000000;PACK_MUTATION_ON_TMPFS=1;PACK_MUTATION_FPACK_EVERY=20000")

# The writer's choices byte by byte.
update_test(pack_writer_test SOURCES ${_here}/writer_test.cpp)
target_link_libraries(pack_writer_test PRIVATE pack_test_util)
