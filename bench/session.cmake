# Benchmarks of the boot-time session, run by hand:
#   cmake --build build --target bench-walk
find_package(Python3 COMPONENTS Interpreter)
if(TARGET tarnwell AND Python3_FOUND)
  add_executable(bench_find32 ${CMAKE_CURRENT_LIST_DIR}/walk/find32.c)
  tw_m32(bench_find32)
  set_target_properties(bench_find32 PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  add_custom_target(bench-walk
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/walk/walk_bench.py
      $<TARGET_FILE:tarnwell> ${CMAKE_BINARY_DIR}/bench-walk 3 $<TARGET_FILE:bench_find32>
    DEPENDS tarnwell bench_find32
    USES_TERMINAL
    COMMENT "Directory walk: tarnwell against find")
endif()
