# Tests of the manager: the record and user file formats, the Win32 stand-in,
# install/uninstall, the blacklist and quarantine stores, the command line.
find_package(OpenSSL REQUIRED)

if(TARGET tw_common)
  tw_test(manager_formats_test
    SOURCES
      manager/quarantine_format_test.cpp
      manager/userlib_test.cpp
    LIBS tw_common OpenSSL::Crypto lzo2)
endif()

if(TARGET tw_manager_ops)
  add_library(tw_manager_test_support STATIC manager/machine_fixture.cpp)
  tw_common_options(tw_manager_test_support)
  target_link_libraries(tw_manager_test_support PUBLIC tw_manager_ops tw_registry)

  tw_test(manager_ops_test
    SOURCES
      manager/blacklist_test.cpp
      manager/install_test.cpp
      manager/quarantine_store_test.cpp
      manager/win32_test.cpp
    LIBS tw_manager_test_support OpenSSL::Crypto)
endif()

if(TARGET tarnwellUSB AND TARGET tw_manager_test_support)
  tw_test(manager_cli_test
    SOURCES manager/cli_test.cpp
    LIBS tw_manager_test_support)
  add_dependencies(manager_cli_test tarnwellUSB)
  if(TARGET tw_manager_gui)
    target_compile_definitions(manager_cli_test PRIVATE TW_MANAGER_HAS_GUI=1)
  endif()
endif()

# The manager with the scanner on one machine: install, boot, uninstall; a
# blacklist the scanner loads. Skips itself until the programs are built.
find_package(Python3 COMPONENTS Interpreter)
if(TARGET tarnwellUSB AND Python3_FOUND)
  set(tw_manager_e2e_env
    "TW_TARNWELLUSB=$<TARGET_FILE:tarnwellUSB>;PYTHONDONTWRITEBYTECODE=1;TW_TIME_SCALE=0.05")
  if(TARGET tarnwell AND TARGET session-manager)
    list(APPEND tw_manager_e2e_env
      "TW_TARNWELL=$<TARGET_FILE:tarnwell>" "TW_SESSION_MANAGER=$<TARGET_FILE:session-manager>")
  endif()
  if(TARGET tw_base_library AND DEFINED TW_BASE_LIBRARY_DIR)
    list(APPEND tw_manager_e2e_env "TW_BASE_LIBRARY=${TW_BASE_LIBRARY_DIR}")
  endif()
  add_test(NAME manager_e2e
    COMMAND ${Python3_EXECUTABLE} -m unittest -v test_manager_e2e
    WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/manager)
  set_tests_properties(manager_e2e PROPERTIES TIMEOUT 900 ENVIRONMENT "${tw_manager_e2e_env}")
endif()
