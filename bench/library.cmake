# Library loader benchmark (`cmake --build B --target bench-library`): a
# generated library of 150 base files and a 10,000-record user file loaded in
# mode 0, against reading and unpacking the same files.
if(TARGET tw_library32 AND TARGET tw_ntdll32 AND TARGET tw_codec AND TARGET tw_common)
  find_package(ZLIB REQUIRED)
  add_executable(bench-library-make ${CMAKE_CURRENT_LIST_DIR}/library/make_library.cpp
    ${CMAKE_SOURCE_DIR}/tools/tarnlib/base_writer.cpp
    ${CMAKE_SOURCE_DIR}/tools/tarnlib/section_pack.cpp
    ${CMAKE_SOURCE_DIR}/tools/tarnlib/coff_edit.cpp
    ${CMAKE_SOURCE_DIR}/tools/tarnlib/crc_forge.cpp)
  tw_common_options(bench-library-make)
  target_link_libraries(bench-library-make PRIVATE tw_codec tw_common ZLIB::ZLIB)
  set_target_properties(bench-library-make PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)

  add_executable(bench-library-run ${CMAKE_CURRENT_LIST_DIR}/library/library_bench.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/library/no_engine.cpp)
  tw_m32(bench-library-run)
  tw_common_options(bench-library-run)
  target_link_libraries(bench-library-run PRIVATE tw_library32 tw_console32 tw_runtime32 tw_codec32 tw_common32
    tw_guard32 tw_ntdll32)
  set_target_properties(bench-library-run PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  add_custom_target(bench-library
    COMMAND $<TARGET_FILE:bench-library-run> $<TARGET_FILE:bench-library-make>
    DEPENDS bench-library-run bench-library-make
    USES_TERMINAL)
endif()
