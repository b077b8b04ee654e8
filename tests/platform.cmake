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

# The terminal keyboard through a pseudo-terminal, with a small native program.
if(TARGET tw_ntdll32_main)
  add_executable(tw-keyboard-probe ${TW_PLATFORM_TESTS}/keyboard_probe.cpp)
  tw_m32(tw-keyboard-probe)
  tw_common_options(tw-keyboard-probe)
  set_target_properties(tw-keyboard-probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(tw-keyboard-probe PRIVATE tw_ntdll32_main tw_ntdll32)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_FOUND)
    add_test(NAME platform_terminal_keyboard
      COMMAND ${Python3_EXECUTABLE} ${TW_PLATFORM_TESTS}/terminal_keyboard_test.py -v)
    set_tests_properties(platform_terminal_keyboard PROPERTIES TIMEOUT 120 ENVIRONMENT
      "TW_KEYBOARD_PROBE=$<TARGET_FILE:tw-keyboard-probe>;PYTHONDONTWRITEBYTECODE=1;ASAN_OPTIONS=detect_leaks=0")
  endif()
endif()

# The boot screen's gathered text at the end of a program, with a small
# native program that ends normally, by a fault or by an abort.
if(TARGET tw_ntdll32_main)
  add_executable(tw-display-probe ${TW_PLATFORM_TESTS}/display_probe.cpp)
  tw_m32(tw-display-probe)
  tw_common_options(tw-display-probe)
  set_target_properties(tw-display-probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(tw-display-probe PRIVATE tw_ntdll32_main tw_ntdll32)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_FOUND)
    add_test(NAME platform_display_end
      COMMAND ${Python3_EXECUTABLE} ${TW_PLATFORM_TESTS}/display_end_test.py -v)
    set_tests_properties(platform_display_end PROPERTIES TIMEOUT 120 ENVIRONMENT
      "TW_DISPLAY_PROBE=$<TARGET_FILE:tw-display-probe>;PYTHONDONTWRITEBYTECODE=1;ASAN_OPTIONS=detect_leaks=0:allow_user_segv_handler=1")
  endif()
endif()
