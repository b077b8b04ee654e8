# Tests of the Windows stand-ins' foundation: the machine description, the
# registry store, the native-interface stand-in (32-bit) and the Session
# Manager stand-in.
set(TW_PLATFORM_TESTS ${CMAKE_CURRENT_LIST_DIR}/platform)

tw_test(platform_machine_test SOURCES ${TW_PLATFORM_TESTS}/machine_test.cpp LIBS tw_machine)
tw_test(platform_registry_test SOURCES ${TW_PLATFORM_TESTS}/registry_test.cpp LIBS tw_registry)

if(TARGET session-manager)
  tw_test(platform_session_manager_test SOURCES ${TW_PLATFORM_TESTS}/session_manager_test.cpp)
  target_compile_definitions(platform_session_manager_test PRIVATE
    TW_SESSION_MANAGER="$<TARGET_FILE:session-manager>")
  add_dependencies(platform_session_manager_test session-manager)
endif()

if(TARGET tw_ntdll32)
  tw_test(platform_nt_test M32
    SOURCES
      ${TW_PLATFORM_TESTS}/nt_files_test.cpp
      ${TW_PLATFORM_TESTS}/nt_directory_test.cpp
      ${TW_PLATFORM_TESTS}/nt_keyboard_test.cpp
      ${TW_PLATFORM_TESTS}/nt_runtime_test.cpp
    LIBS tw_ntdll32)
endif()

# Tests that run a small native program on the stand-in from a Python script,
# which finds the program through the environment variable VAR.
find_package(Python3 COMPONENTS Interpreter)
function(tw_probe_test test probe source script var asan_options)
  if(NOT TARGET tw_ntdll32_main)
    return()
  endif()
  add_executable(${probe} ${TW_PLATFORM_TESTS}/${source})
  tw_m32(${probe})
  tw_common_options(${probe})
  set_target_properties(${probe} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${probe} PRIVATE tw_ntdll32_main tw_ntdll32)
  if(Python3_FOUND)
    add_test(NAME ${test} COMMAND ${Python3_EXECUTABLE} ${TW_PLATFORM_TESTS}/${script} -v)
    set_tests_properties(${test} PROPERTIES TIMEOUT 120 ENVIRONMENT
      "${var}=$<TARGET_FILE:${probe}>;PYTHONDONTWRITEBYTECODE=1;ASAN_OPTIONS=${asan_options}")
  endif()
endfunction()

# The terminal keyboard through a pseudo-terminal.
tw_probe_test(platform_terminal_keyboard tw-keyboard-probe keyboard_probe.cpp terminal_keyboard_test.py
  TW_KEYBOARD_PROBE "detect_leaks=0")
# The boot screen's gathered text at the end of a program that ends normally,
# by a fault or by an abort.
tw_probe_test(platform_display_end tw-display-probe display_probe.cpp display_end_test.py
  TW_DISPLAY_PROBE "detect_leaks=0:allow_user_segv_handler=1")
