# Virus library: loader, object linker, fault guard, host services, library
# tool round trips.
include(${CMAKE_SOURCE_DIR}/cmake/TarnwellLibrary.cmake)

# The example library (a template for library authors) built by tarnlib.
tw_library(tw_example_library
  MANIFEST ${CMAKE_CURRENT_SOURCE_DIR}/library/example/manifest.json
  OUTDIR ${CMAKE_BINARY_DIR}/testdata/example_library
  SOURCES library/example/hooks.cpp library/example/example_routine.cpp)

tw_test(tw_guard_test M32 SOURCES library/guard_test.cpp LIBS tw_guard32)

# The loader and linker, on the native-interface stand-in with a simulated
# machine holding the library folder.
if(TARGET tw_library32 AND TARGET tw_ntdll32 AND TARGET tw_runtime32 AND TARGET tw_codec32)
  set(TW_LIBRARY_TEST_SUPPORT
    library/library_test_support.cpp
    ${CMAKE_SOURCE_DIR}/tools/tarnlib/base_writer.cpp
    ${CMAKE_SOURCE_DIR}/tools/tarnlib/coff_edit.cpp
    ${CMAKE_SOURCE_DIR}/tools/tarnlib/crc_forge.cpp)
  set(TW_LIBRARY_TEST_LIBS tw_library32 tw_console32 tw_runtime32 tw_codec32 tw_common32 tw_guard32 tw_ntdll32)
  tw_test(tw_library_test M32
    SOURCES ${TW_LIBRARY_TEST_SUPPORT}
      library/library_files_test.cpp
      library/linker_test.cpp
      library/host_services_test.cpp
      library/malformed_test.cpp
      library/symbol_table_test.cpp
    LIBS ${TW_LIBRARY_TEST_LIBS})
endif()

# Round trip through tarnlib with routines compiled by clang.
if(TARGET tw_library32 AND TARGET tw_ntdll32 AND TARGET tarnlib)
  set(TW_ROUNDTRIP_DIR ${CMAKE_BINARY_DIR}/testdata/roundtrip_library)
  tw_library(tw_roundtrip_library
    MANIFEST ${CMAKE_CURRENT_SOURCE_DIR}/library/roundtrip/manifest.json
    OUTDIR ${TW_ROUNDTRIP_DIR}
    SOURCES library/roundtrip/rt_hooks.cpp library/roundtrip/rt_math.cpp library/roundtrip/rt_shared.cpp
            library/roundtrip/rt_cross.cpp library/roundtrip/rt_faults.cpp library/roundtrip/rt_divide.cpp
            library/roundtrip/rt_hang.cpp library/roundtrip/rt_packer.cpp)
  tw_test(tw_library_roundtrip_test M32
    SOURCES ${TW_LIBRARY_TEST_SUPPORT} library/roundtrip_test.cpp
    LIBS ${TW_LIBRARY_TEST_LIBS})
  target_compile_definitions(tw_library_roundtrip_test PRIVATE TW_ROUNDTRIP_LIBRARY="${TW_ROUNDTRIP_DIR}")
  add_dependencies(tw_library_roundtrip_test tw_roundtrip_library)
endif()

# Under qemu-i386 (32-bit programs on this kind of host) AddressSanitizer's
# default quarantine of freed memory fills the 32-bit address space these
# tests (many library loads) work in; a smaller quarantine still catches
# use-after-free of recent blocks.
foreach(t tw_guard_test tw_library_test tw_library_roundtrip_test)
  if(TEST ${t})
    set_property(TEST ${t} APPEND PROPERTY ENVIRONMENT
      "ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:detect_leaks=0:allow_user_segv_handler=1:quarantine_size_mb=16")
  endif()
endforeach()
