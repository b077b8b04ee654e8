# Tests of the boot-time session: the check that scanner code needs nothing
# from outside the scanner, unit tests of the session's tables and scan-time
# arithmetic, and end-to-end runs of the scanner on simulated PCs.
set(TW_SESSION_TESTS ${CMAKE_CURRENT_LIST_DIR}/session)

# The freestanding check reads the object files themselves; sanitizer and
# fuzzer builds add their own runtime calls to every object, so it runs in
# plain builds only.
if(NOT TARNWELL_SANITIZE AND NOT TARNWELL_FUZZ AND TARGET tw_ntdll32)
  get_property(tw_scanner_libs GLOBAL PROPERTY TW_SCANNER_LIBS)
  set(tw_scanner_files)
  foreach(lib ${tw_scanner_libs})
    list(APPEND tw_scanner_files $<TARGET_FILE:${lib}>)
  endforeach()
  set(tw_standin_files $<TARGET_FILE:tw_ntdll32>)
  if(TARGET tw_ntdll32_main)
    list(APPEND tw_standin_files $<TARGET_FILE:tw_ntdll32_main>)
  endif()
  # The fault guard stands in for the native exception dispatch.
  if(TARGET tw_guard32)
    list(APPEND tw_standin_files $<TARGET_FILE:tw_guard32>)
  endif()
  set(tw_program_objects)
  if(TARGET tarnwell)
    set(tw_program_objects --objects $<TARGET_OBJECTS:tarnwell>)
  endif()
  add_test(NAME session_freestanding
    COMMAND bash ${TW_SESSION_TESTS}/check_freestanding.sh
      --scanner ${tw_scanner_files} --standin ${tw_standin_files} ${tw_program_objects})

  # The check itself must catch a C library call.
  add_library(tw_session_probe OBJECT ${TW_SESSION_TESTS}/probe_libc.cpp)
  tw_m32(tw_session_probe)
  target_compile_options(tw_session_probe PRIVATE ${TW_FREESTANDING_FLAGS})
  add_test(NAME session_freestanding_catches_libc
    COMMAND bash ${TW_SESSION_TESTS}/check_freestanding.sh
      --scanner ${tw_scanner_files} --standin ${tw_standin_files}
      --objects $<TARGET_OBJECTS:tw_session_probe>)
  set_tests_properties(session_freestanding_catches_libc PROPERTIES
    PASS_REGULAR_EXPRESSION "not allowed: puts \\(in [^)]*probe_libc")
endif()

if(DEFINED TW_SCANNER_LINK_SET AND TARGET tarnwell)
  # Everything of a scanner program but the stand-in's main().
  set(tw_unit_set ${TW_SCANNER_LINK_SET})
  list(REMOVE_ITEM tw_unit_set tw_ntdll32_main)
  string(JOIN "," tw_unit_group ${tw_unit_set})
  tw_test(session_units_test M32
    SOURCES ${TW_SESSION_TESTS}/session_units_test.cpp
    LIBS "$<LINK_GROUP:RESCAN,${tw_unit_group}>")

  # The session with the test engine instead of the real one.
  set(tw_fake_set tw_session32 tw_console32 tw_runtime32 tw_ntdll32_main tw_ntdll32)
  string(JOIN "," tw_fake_group ${tw_fake_set})
  add_executable(tarnwell-fake-engine ${TW_SESSION_TESTS}/fake_engine.cpp)
  tw_m32(tarnwell-fake-engine)
  tw_common_options(tarnwell-fake-engine)
  set_target_properties(tarnwell-fake-engine PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(tarnwell-fake-engine PRIVATE "$<LINK_GROUP:RESCAN,${tw_fake_group}>")

  find_package(Python3 COMPONENTS Interpreter)
  set(tw_time_scale 0.01)
  if(TARNWELL_SANITIZE)
    set(tw_time_scale 0.05)  # see DEFAULT_TIME_SCALE in simmachine.py
  endif()
  if(Python3_FOUND)
    foreach(group ScreenTexts Dispatch WalkOutput Attributes EngineDriven Settings BadInput)
      add_test(NAME session_e2e_${group}
        COMMAND ${Python3_EXECUTABLE} -m unittest -v test_session.${group}
        WORKING_DIRECTORY ${TW_SESSION_TESTS})
      set_tests_properties(session_e2e_${group} PROPERTIES TIMEOUT 600 ENVIRONMENT
        "TW_TARNWELL=$<TARGET_FILE:tarnwell>;TW_TARNWELL_FAKE=$<TARGET_FILE:tarnwell-fake-engine>;TW_TIME_SCALE=${tw_time_scale};PYTHONDONTWRITEBYTECODE=1;ASAN_OPTIONS=detect_leaks=0:allow_user_segv_handler=1")
    endforeach()
  endif()
endif()
