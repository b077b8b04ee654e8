# Engine benchmark (`cmake --build B --target bench-engine`): the scanner vs
# clamscan with our own database vs reading the first 64 KiB of every file.
add_executable(bench-read64k ${CMAKE_CURRENT_LIST_DIR}/engine/read64k.cpp)
set_target_properties(bench-read64k PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
# The same reader as a 32-bit program, which runs the way the scanner does.
add_executable(bench-read64k32 ${CMAKE_CURRENT_LIST_DIR}/engine/read64k.cpp)
tw_m32(bench-read64k32)
target_compile_definitions(bench-read64k32 PRIVATE _FILE_OFFSET_BITS=64)
set_target_properties(bench-read64k32 PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
find_package(Python3 COMPONENTS Interpreter)
if(TARGET tarnwell AND TARGET tarnlib AND TARGET tw_base_library AND TARGET tw_samples AND Python3_FOUND)
  add_custom_target(bench-engine
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/engine/run_bench.py
      --tarnwell $<TARGET_FILE:tarnwell> --tarnlib $<TARGET_FILE:tarnlib> --read64k $<TARGET_FILE:bench-read64k>
      --read64k32 $<TARGET_FILE:bench-read64k32>
      --library ${TW_BASE_LIBRARY_DIR} --samples ${TW_SAMPLES_DIR} --work ${CMAKE_BINARY_DIR}/bench/engine-work
    DEPENDS tarnwell tarnlib bench-read64k bench-read64k32 tw_base_library tw_samples
    USES_TERMINAL)
endif()
