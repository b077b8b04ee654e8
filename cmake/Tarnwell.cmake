# Build helpers shared by every component.
#
# The scanner is a 32-bit program (it calls 32-bit x86 library code natively);
# the manager and the tools are normal 64-bit programs. Code used by both
# worlds (common/, scanner/codec, platform/machine, platform/registry) is built
# twice: NAME for 64-bit and NAME32 for 32-bit.

set(TW_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
set(TW_WARN_FLAGS -Wall -Wextra -Wno-unused-parameter)

# Flags of the scanner's own code: no C or C++ runtime.
set(TW_FREESTANDING_FLAGS
  -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-stack-protector
  -fno-asynchronous-unwind-tables -fno-builtin -ffreestanding)

function(tw_common_options target)
  target_compile_options(${target} PRIVATE ${TW_WARN_FLAGS})
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
  if(TARNWELL_SANITIZE)
    target_compile_options(${target} PRIVATE ${TW_SANITIZE_FLAGS})
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
  if(TARNWELL_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
  endif()
endfunction()

# Marks a target as 32-bit.
function(tw_m32 target)
  target_compile_options(${target} PRIVATE -m32)
  target_link_options(${target} PUBLIC -m32)
endfunction()

# A 32-bit static library of scanner code (freestanding).
function(tw_scanner_library name)
  add_library(${name} STATIC ${ARGN})
  tw_m32(${name})
  tw_common_options(${name})
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${TW_FREESTANDING_FLAGS}>)
  set_property(GLOBAL APPEND PROPERTY TW_SCANNER_LIBS ${name})
endfunction()

# A library built for both worlds: NAME (64-bit) and NAME32 (32-bit).
# FREESTANDING marks scanner code (no C or C++ runtime).
function(tw_dual_library name)
  cmake_parse_arguments(A "FREESTANDING" "" "SOURCES" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  tw_common_options(${name})
  add_library(${name}32 STATIC ${A_SOURCES})
  tw_m32(${name}32)
  tw_common_options(${name}32)
  if(A_FREESTANDING)
    target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${TW_FREESTANDING_FLAGS}>)
    target_compile_options(${name}32 PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${TW_FREESTANDING_FLAGS}>)
    set_property(GLOBAL APPEND PROPERTY TW_SCANNER_LIBS ${name}32)
  endif()
endfunction()

# GoogleTest for 32-bit tests, built from Debian's googletest sources.
if(NOT TARGET gtest32)
  set(TW_GTEST_SRC /usr/src/googletest/googletest)
  add_library(gtest32 STATIC ${TW_GTEST_SRC}/src/gtest-all.cc)
  target_include_directories(gtest32 SYSTEM PUBLIC ${TW_GTEST_SRC}/include PRIVATE ${TW_GTEST_SRC})
  tw_m32(gtest32)
  find_package(Threads REQUIRED)
  target_link_libraries(gtest32 PUBLIC Threads::Threads)
  add_library(gtest32_main STATIC ${TW_GTEST_SRC}/src/gtest_main.cc)
  target_include_directories(gtest32_main SYSTEM PUBLIC ${TW_GTEST_SRC}/include)
  tw_m32(gtest32_main)
  target_link_libraries(gtest32_main PUBLIC gtest32)
  if(TARNWELL_SANITIZE)
    foreach(t gtest32 gtest32_main)
      target_compile_options(${t} PRIVATE ${TW_SANITIZE_FLAGS})
      target_link_options(${t} PUBLIC -fsanitize=address,undefined)
    endforeach()
  endif()
endif()
find_package(GTest REQUIRED)

# A test executable. M32 builds it 32-bit against gtest32.
function(tw_test name)
  cmake_parse_arguments(A "M32" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  tw_common_options(${name})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(A_M32)
    tw_m32(${name})
    target_link_libraries(${name} PRIVATE ${A_LIBS} gtest32_main)
  else()
    target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest_main)
  endif()
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT
    "TW_SOURCE_DIR=${CMAKE_SOURCE_DIR};TW_BINARY_DIR=${CMAKE_BINARY_DIR};ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:detect_leaks=0:allow_user_segv_handler=1")
endfunction()

# libFuzzer targets (clang, 32-bit like the scanner). Built only with
# TARNWELL_FUZZ; `cmake --build B --target fuzzers` builds them all.
if(TARNWELL_FUZZ AND NOT TARGET fuzzers)
  add_custom_target(fuzzers)
  # libFuzzer's 32-bit runtime lists folders without large-file support;
  # this shim answers its readdir()/stat() through the 64-bit calls.
  add_library(tw_fuzz_lfs32 OBJECT ${CMAKE_SOURCE_DIR}/fuzz/support/lfs_shim.c)
  tw_m32(tw_fuzz_lfs32)
  target_compile_options(tw_fuzz_lfs32 PRIVATE ${TW_WARN_FLAGS} ${TW_SANITIZE_FLAGS})
endif()
function(tw_fuzzer name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT TARNWELL_FUZZ)
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  tw_m32(${name})
  tw_common_options(${name})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE tw_fuzz_lfs32 ${A_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  add_dependencies(fuzzers ${name})
endfunction()
