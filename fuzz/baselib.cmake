# The default library's routines on one untrusted file (units, checks,
# repairs, ZIP and TWPK layers), compiled natively against the routine
# tests' host stand-in.
set(tw_baselib_fuzz_routines zip.cpp zipnext.cpp twpack.cpp infector_a.cpp infector_b.cpp eicar.cpp autorun.cpp hooks.cpp)
list(TRANSFORM tw_baselib_fuzz_routines PREPEND ${CMAKE_SOURCE_DIR}/library/base/)
tw_fuzzer(fuzz_baselib_routines
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/baselib/routines_fuzz.cpp ${CMAKE_SOURCE_DIR}/tests/baselib/fake_host.cpp
    ${tw_baselib_fuzz_routines})
if(TARGET fuzz_baselib_routines)
  target_compile_options(fuzz_baselib_routines PRIVATE -Wno-ignored-attributes -Wno-attributes
    "-D__stdcall=__attribute__((stdcall))")
endif()
