# The default library's parsers of untrusted files (ZIP member inflater,
# autorun.inf reader), compiled natively.
tw_fuzzer(fuzz_library_parsers SOURCES ${CMAKE_CURRENT_LIST_DIR}/engine/library_parsers_fuzz.cpp)
if(TARGET fuzz_library_parsers)
  target_compile_options(fuzz_library_parsers PRIVATE -Wno-ignored-attributes)
endif()
