# Virus library: loader, object linker, fault guard, host services, library
# tool round trips.
include(${CMAKE_SOURCE_DIR}/cmake/TarnwellLibrary.cmake)

# The example library (a template for library authors) built by tarnlib.
tw_library(tw_example_library
  MANIFEST ${CMAKE_CURRENT_SOURCE_DIR}/library/example/manifest.json
  OUTDIR ${CMAKE_BINARY_DIR}/testdata/example_library
  SOURCES library/example/hooks.cpp library/example/example_routine.cpp)

tw_test(tw_guard_test M32 SOURCES library/guard_test.cpp LIBS tw_guard32)
