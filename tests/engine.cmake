# Scan engine tests: the signature indexes (unit), the engine in process on
# the stand-in native interface with a test library, and whole runs of
# build/bin/tarnwell on machines made for each check.
set(TW_ENGINE_TESTS ${CMAKE_CURRENT_LIST_DIR}/engine)

if(TARGET tw_common)
  tw_test(engine_index_test
    SOURCES ${TW_ENGINE_TESTS}/checksum_index_test.cpp ${CMAKE_SOURCE_DIR}/scanner/engine/checksum_index.cpp
    LIBS tw_common)
endif()

# The test library: the default library's routines plus routines that
# fault, decline a repair, or claim repairs they do not make.
set(tw_engine_lib_ready FALSE)
if(EXISTS ${CMAKE_SOURCE_DIR}/cmake/TarnwellLibrary.cmake AND TARGET tarnlib)
  include(${CMAKE_SOURCE_DIR}/cmake/TarnwellLibrary.cmake)
  set(TW_ENGINE_TESTLIB ${CMAKE_BINARY_DIR}/tests/engine-lib)
  file(GLOB tw_base_sources ${CMAKE_SOURCE_DIR}/library/base/*.cpp)
  file(GLOB tw_base_headers ${CMAKE_SOURCE_DIR}/library/base/*.h)
  file(GLOB tw_test_routines ${TW_ENGINE_TESTS}/lib/*.cpp)
  tw_library(tw_engine_testlib
    MANIFEST ${TW_ENGINE_TESTS}/lib/testlib.json
    OUTDIR ${TW_ENGINE_TESTLIB}
    SOURCES ${tw_base_sources} ${tw_test_routines}
    DEPENDS ${tw_base_headers})
  set(tw_engine_lib_ready TRUE)
endif()

set(tw_engine_target tw_engine32)
if(NOT TARGET tw_engine32)
  set(tw_engine_target tw_engine_dev32)
endif()
set(tw_engine_in_process_ready ${tw_engine_lib_ready})
foreach(lib ${tw_engine_target} tw_library32 tw_codec32 tw_common32 tw_console32 tw_runtime32 tw_guard32 tw_ntdll32
    tw_session32 tw_session_engine32)
  if(NOT TARGET ${lib})
    set(tw_engine_in_process_ready FALSE)
  endif()
endforeach()
if(tw_engine_in_process_ready AND TARGET tw_samples)
  string(JOIN "," tw_engine_group ${tw_engine_target} tw_library32 tw_session32 tw_session_engine32 tw_codec32 tw_common32
    tw_console32 tw_runtime32 tw_guard32 tw_ntdll32)
  tw_test(engine_test M32
    SOURCES ${TW_ENGINE_TESTS}/engine_test.cpp
    LIBS "$<LINK_GROUP:RESCAN,${tw_engine_group}>")
  target_compile_definitions(engine_test PRIVATE TW_SAMPLES_DIR="${TW_SAMPLES_DIR}"
    TW_ENGINE_TESTLIB="${TW_ENGINE_TESTLIB}")
  add_dependencies(engine_test tw_engine_testlib tw_samples)
endif()

# Whole runs of the scanner with the default library.
find_package(Python3 COMPONENTS Interpreter)
if(TARGET tarnwell AND TARGET tw_engine32 AND TARGET tw_base_library AND TARGET tw_samples AND Python3_FOUND)
  set(tw_engine_e2e_testlib "")
  if(tw_engine_lib_ready)
    set(tw_engine_e2e_testlib ${TW_ENGINE_TESTLIB})
  endif()
  foreach(group InfectedStick BackupStore TempFolder LongLog TestLibrary)
    add_test(NAME engine_e2e_${group}
      COMMAND ${Python3_EXECUTABLE} -m unittest -v test_engine_e2e.${group}
      WORKING_DIRECTORY ${TW_ENGINE_TESTS})
    set_tests_properties(engine_e2e_${group} PROPERTIES TIMEOUT 600 ENVIRONMENT
      "TW_TARNWELL=$<TARGET_FILE:tarnwell>;TW_TARNWELLUSB=${CMAKE_BINARY_DIR}/bin/tarnwellUSB;TW_BASE_LIBRARY=${TW_BASE_LIBRARY_DIR};TW_SAMPLES=${TW_SAMPLES_DIR};TW_TEST_LIBRARY=${tw_engine_e2e_testlib};TW_SANITIZED=${TARNWELL_SANITIZE};PYTHONDONTWRITEBYTECODE=1;ASAN_OPTIONS=detect_leaks=0:allow_user_segv_handler=1:handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0")
  endforeach()
endif()

# The default library's parsers compiled natively (32-bit, as the routines
# see memory), against zlib's output made at build time.
if(Python3_FOUND)
  set(tw_inflate_vectors ${CMAKE_BINARY_DIR}/tests/engine-gen/inflate_vectors.h)
  add_custom_command(OUTPUT ${tw_inflate_vectors}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/tests/engine-gen
    COMMAND ${Python3_EXECUTABLE} ${TW_ENGINE_TESTS}/make_inflate_vectors.py ${tw_inflate_vectors}
    DEPENDS ${TW_ENGINE_TESTS}/make_inflate_vectors.py VERBATIM)
  tw_test(engine_library_code_test M32 SOURCES ${TW_ENGINE_TESTS}/library_code_test.cpp ${tw_inflate_vectors})
  target_include_directories(engine_library_code_test PRIVATE ${CMAKE_BINARY_DIR}/tests/engine-gen)
  target_compile_options(engine_library_code_test PRIVATE -Wno-attributes "-D__stdcall=__attribute__((stdcall))")
endif()

# The pipeline's rules with a stand-in library of native routines (the
# engine's sources compiled in; no library loader).
set(tw_pipeline_ready TRUE)
foreach(lib tw_common32 tw_console32 tw_runtime32 tw_guard32 tw_ntdll32)
  if(NOT TARGET ${lib})
    set(tw_pipeline_ready FALSE)
  endif()
endforeach()
if(tw_pipeline_ready)
  file(GLOB tw_engine_sources ${CMAKE_SOURCE_DIR}/scanner/engine/*.cpp)
  string(JOIN "," tw_pipeline_group tw_common32 tw_console32 tw_runtime32 tw_guard32 tw_ntdll32)
  tw_test(engine_pipeline_test M32
    SOURCES ${TW_ENGINE_TESTS}/pipeline_test.cpp ${tw_engine_sources}
    LIBS "$<LINK_GROUP:RESCAN,${tw_pipeline_group}>")
  if(TARNWELL_SANITIZE)
    # Every case makes an engine with its 4 MiB buffers; under qemu-i386 the
    # sanitizer's default quarantine of freed blocks fills the 32-bit address
    # space before the last cases run. The later value wins.
    set_property(TEST engine_pipeline_test APPEND PROPERTY ENVIRONMENT
      "ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:detect_leaks=0:allow_user_segv_handler=1:quarantine_size_mb=16")
  endif()
endif()
