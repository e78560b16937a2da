# Folder Pack: long-path operations, directory creation, the unpacker, the
# writer and fpack.
add_library(pack_test_util STATIC pack/PackTestUtil.cpp)
target_link_libraries(pack_test_util PUBLIC update_pack test_support)
target_include_directories(pack_test_util PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/pack)

update_test(pack_longpath_test SOURCES pack/longpath_test.cpp TIMEOUT 300)
target_link_libraries(pack_longpath_test PRIVATE pack_test_util)

# Measures its peak working set through fpack_bench; fills the small drive.
update_test(pack_unpack_test SOURCES pack/unpack_test.cpp TIMEOUT 300)
target_link_libraries(pack_unpack_test PRIVATE pack_test_util)
add_dependencies(pack_unpack_test fpack_bench)
set_tests_properties(pack_unpack_test PROPERTIES
  FIXTURES_REQUIRED small_drive RESOURCE_LOCK small_drive)

# Runs fpack.exe as a child.
update_test(pack_fpack_test SOURCES pack/fpack_test.cpp pack/fpack_cli_test.cpp pack/FpackRunner.cpp
            TIMEOUT 300)
target_link_libraries(pack_fpack_test PRIVATE pack_test_util)
add_dependencies(pack_fpack_test fpack)

# Mutated archives: a fixed number by default, a million under the label long.
update_test(pack_mutation_test SOURCES pack/mutation_test.cpp TIMEOUT 600)
target_link_libraries(pack_mutation_test PRIVATE pack_test_util psapi)
add_dependencies(pack_mutation_test fpack)
# A million archives, all of them, on a tmpfs where there is one: half an
# hour to an hour on two cores, as busy as they are.
add_test(NAME pack_mutation_long_test COMMAND pack_mutation_test)
set_tests_properties(pack_mutation_long_test PROPERTIES LABELS long TIMEOUT 7200
  ENVIRONMENT "PACK_MUTATION_COUNT=1000000;PACK_MUTATION_ON_TMPFS=1;PACK_MUTATION_FPACK_EVERY=20000")

# The writer's choices byte by byte.
update_test(pack_writer_test SOURCES pack/writer_test.cpp TIMEOUT 300)
target_link_libraries(pack_writer_test PRIVATE pack_test_util)
