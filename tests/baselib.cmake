# The default library's routines compiled natively (32-bit, as they see
# memory) against an in-memory stand-in of the scanner's host services:
# crafted archives, packed files and infected programs through the real
# routine code, with the work and the writes they cause counted.
set(TW_BASELIB_TESTS ${CMAKE_CURRENT_LIST_DIR}/baselib)
set(tw_baselib_routines zip.cpp zipnext.cpp twpack.cpp infector_a.cpp infector_b.cpp eicar.cpp autorun.cpp hooks.cpp)
list(TRANSFORM tw_baselib_routines PREPEND ${CMAKE_SOURCE_DIR}/library/base/)
tw_test(baselib_routines_test M32
  SOURCES ${TW_BASELIB_TESTS}/routines_test.cpp ${TW_BASELIB_TESTS}/fake_host.cpp ${tw_baselib_routines})
target_compile_options(baselib_routines_test PRIVATE -Wno-attributes "-D__stdcall=__attribute__((stdcall))")

# The runtime helpers object itself (memory copies, 64-bit arithmetic).
tw_test(baselib_helpers_test M32 SOURCES ${TW_BASELIB_TESTS}/runtime_helpers_test.cpp)
target_compile_options(baselib_helpers_test PRIVATE -Wno-attributes "-D__stdcall=__attribute__((stdcall))")
