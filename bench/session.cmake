# Benchmarks of the boot-time session, run by hand:
#   cmake --build build --target bench-walk
# The walk is timed with the engine absent (every file shown, none scanned):
# the real scanner would stop at "Load virus library failed." on the
# benchmark's machine, which has no library, and would time the engine too.
find_package(Python3 COMPONENTS Interpreter)
if(TARGET tw_session32 AND TARGET tw_console32 AND TARGET tw_runtime32 AND TARGET tw_ntdll32_main
   AND Python3_FOUND)
  add_executable(bench_tarnwell_walk
    ${CMAKE_SOURCE_DIR}/scanner/session/main.cpp
    ${CMAKE_SOURCE_DIR}/scanner/session/engine_absent.cpp)
  tw_m32(bench_tarnwell_walk)
  tw_common_options(bench_tarnwell_walk)
  target_compile_options(bench_tarnwell_walk PRIVATE ${TW_FREESTANDING_FLAGS})
  set_target_properties(bench_tarnwell_walk PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  target_link_libraries(bench_tarnwell_walk PRIVATE
    "$<LINK_GROUP:RESCAN,tw_session32,tw_console32,tw_runtime32,tw_ntdll32_main,tw_ntdll32>")

  add_executable(bench_find32 ${CMAKE_CURRENT_LIST_DIR}/walk/find32.c)
  tw_m32(bench_find32)
  # 64-bit inode numbers: without it readdir fails on most host file systems
  # and the 32-bit walk lists nothing.
  target_compile_definitions(bench_find32 PRIVATE _FILE_OFFSET_BITS=64)
  set_target_properties(bench_find32 PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  # The same walk built natively, run with -x: the host calls alone.
  add_executable(bench_hostcalls ${CMAKE_CURRENT_LIST_DIR}/walk/find32.c)
  set_target_properties(bench_hostcalls PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  add_custom_target(bench-walk
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/walk/walk_bench.py
      $<TARGET_FILE:bench_tarnwell_walk> ${CMAKE_BINARY_DIR}/bench-walk 3 $<TARGET_FILE:bench_find32>
      $<TARGET_FILE:bench_hostcalls>
    DEPENDS bench_tarnwell_walk bench_find32 bench_hostcalls
    USES_TERMINAL
    COMMENT "Directory walk: tarnwell against find")
endif()
