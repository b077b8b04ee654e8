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
    LIBS ${TW_LIBRARY_TEST_LIBS})
endif()
