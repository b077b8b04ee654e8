# libFuzzer targets of the codecs, 32-bit like the scanner that runs them.
tw_fuzzer(fuzz_gzip_decode SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/codec/gzip_decode_fuzz.cpp
  LIBS tw_codec32 tw_common32)
tw_fuzzer(fuzz_lzss_decode SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/codec/lzss_decode_fuzz.cpp
  LIBS tw_codec32 tw_common32)
tw_fuzzer(fuzz_lzss_find_line SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/codec/lzss_find_line_fuzz.cpp
  LIBS tw_codec32 tw_common32)
