# Tests of the codecs and digests (scanner/codec, common/crc32, common/md5)
# and of tarnlib's codec commands.

# DEFLATE vectors made with zlib at build time, read by the 64- and the
# 32-bit decoder tests alike.
add_executable(codec_make_vectors ${CMAKE_CURRENT_SOURCE_DIR}/codec/make_vectors.cpp)
tw_common_options(codec_make_vectors)
find_package(ZLIB REQUIRED)
target_link_libraries(codec_make_vectors PRIVATE ZLIB::ZLIB)
set_target_properties(codec_make_vectors PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/codec_vectors/index
  COMMAND codec_make_vectors ${CMAKE_BINARY_DIR}/codec_vectors
  DEPENDS codec_make_vectors
  COMMENT "Making the DEFLATE test vectors")
add_custom_target(codec_vectors ALL DEPENDS ${CMAKE_BINARY_DIR}/codec_vectors/index)

set(TW_CODEC_CORE_TESTS
  ${CMAKE_CURRENT_SOURCE_DIR}/codec/inflate_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/codec/inflate_bad_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/codec/lzss_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/codec/digest_test.cpp)

tw_test(codec_test SOURCES ${TW_CODEC_CORE_TESTS} ${CMAKE_CURRENT_SOURCE_DIR}/codec/digest_oracle_test.cpp
  LIBS tw_codec tw_common ZLIB::ZLIB crypto)
add_dependencies(codec_test codec_vectors)

# The scanner runs the codecs as 32-bit code: the same tests, 32-bit.
tw_test(codec_test32 M32 SOURCES ${TW_CODEC_CORE_TESTS} LIBS tw_codec32 tw_common32)
add_dependencies(codec_test32 codec_vectors)
# Under AddressSanitizer a 32-bit process runs out of address space with the
# default 256 MiB quarantine after a few thousand megabyte-sized buffers; the
# rest of the environment is tw_test's.
set_tests_properties(codec_test32 PROPERTIES ENVIRONMENT
  "TW_SOURCE_DIR=${CMAKE_SOURCE_DIR};TW_BINARY_DIR=${CMAKE_BINARY_DIR};ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:detect_leaks=0:allow_user_segv_handler=1:quarantine_size_mb=16")

if(TARGET tarnlib)
  add_test(NAME codec_tarnlib_cli
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/codec/tarnlib_cli_test.sh $<TARGET_FILE:tarnlib>)
endif()
