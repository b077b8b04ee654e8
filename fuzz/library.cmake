# The virus library's parsers of untrusted files, 32-bit like the scanner:
# base files (header totals, sections, part directories, tables, names, the
# objects in them), user files, and one COFF object through the linker.
set(TW_LIBRARY_FUZZ ${CMAKE_CURRENT_LIST_DIR}/library)
if(TARGET tw_library32 AND TARGET tw_ntdll32)
  foreach(target base_file user_file coff_object)
    tw_fuzzer(fuzz_library_${target}
      SOURCES ${TW_LIBRARY_FUZZ}/${target}_fuzz.cpp ${TW_LIBRARY_FUZZ}/no_engine.cpp
      LIBS tw_library32 tw_console32 tw_runtime32 tw_codec32 tw_common32 tw_guard32 tw_ntdll32)
  endforeach()
endif()

# Seed maker of fuzz_library_coff_object (64-bit, tarnlib's object
# preparation); the seeds in fuzz/seeds/ were made with it from the round-trip
# and engine test libraries' objects.
if(TARNWELL_FUZZ AND TARGET tarnlib)
  add_executable(fuzz_library_object_seeds ${TW_LIBRARY_FUZZ}/object_seeds.cpp
    ${CMAKE_SOURCE_DIR}/tools/tarnlib/library_objects.cpp
    ${CMAKE_SOURCE_DIR}/tools/tarnlib/coff_edit.cpp
    ${CMAKE_SOURCE_DIR}/tools/tarnlib/crc_forge.cpp)
  tw_common_options(fuzz_library_object_seeds)
  target_link_options(fuzz_library_object_seeds PRIVATE -fsanitize=address,undefined)
  target_link_libraries(fuzz_library_object_seeds PRIVATE tw_common)
endif()
