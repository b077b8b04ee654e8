# Tests of the manager's dialogs, driven under a display (xvfb-run).
if(TARGET tw_manager_gui)
  tw_test(manager_gui_tests SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/gui/gui_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/gui/gui_harness.cpp
    ${CMAKE_CURRENT_LIST_DIR}/gui/test_machine.cpp
    ${CMAKE_CURRENT_LIST_DIR}/gui/layout_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/gui/main_dialog_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/gui/hyperlink_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/gui/blacklist_dialog_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/gui/quarantine_dialog_test.cpp
    LIBS tw_manager_gui tw_manager_ops tw_common)
  # The install and save comparisons run the command line as well.
  add_dependencies(manager_gui_tests tarnwellUSB)
  set_tests_properties(manager_gui_tests PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
endif()
