# Speed of the codecs and digests against zlib and OpenSSL (64-bit).
#   build/bench/codec_bench
add_executable(codec_bench ${CMAKE_CURRENT_SOURCE_DIR}/codec/codec_bench.cpp)
tw_common_options(codec_bench)
find_package(ZLIB REQUIRED)
target_link_libraries(codec_bench PRIVATE tw_codec tw_common ZLIB::ZLIB crypto)
set_target_properties(codec_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
