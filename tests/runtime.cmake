# Tests of the scanner's native runtime layer and console (32-bit, on the
# native-interface stand-in with an in-process simulated machine).
if(TARGET tw_runtime32 AND TARGET tw_console32 AND TARGET tw_ntdll32)
  set(TW_RUNTIME_TEST_DIR ${CMAKE_CURRENT_LIST_DIR}/runtime)
  tw_test(runtime_format_test M32
    SOURCES ${TW_RUNTIME_TEST_DIR}/format_test.cpp
    LIBS tw_console32 tw_runtime32 tw_ntdll32)
  tw_test(runtime_test M32
    SOURCES
      ${TW_RUNTIME_TEST_DIR}/machine_env.cpp
      ${TW_RUNTIME_TEST_DIR}/file_test.cpp
      ${TW_RUNTIME_TEST_DIR}/dir_enum_test.cpp
      ${TW_RUNTIME_TEST_DIR}/registry_test.cpp
      ${TW_RUNTIME_TEST_DIR}/console_test.cpp
    LIBS tw_console32 tw_runtime32 tw_ntdll32)
endif()
