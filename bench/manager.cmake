# Manager benchmark (`cmake --build B --target bench-manager`): a blacklist of
# 10,000 samples saved and reloaded, a store of 10,000 records listed.
if(TARGET tw_manager_ops AND TARGET tw_registry)
  add_executable(bench-manager-run
    ${CMAKE_CURRENT_LIST_DIR}/manager/manager_bench.cpp
    ${CMAKE_SOURCE_DIR}/tests/manager/machine_fixture.cpp)
  tw_common_options(bench-manager-run)
  target_link_libraries(bench-manager-run PRIVATE tw_manager_ops tw_registry)
  set_target_properties(bench-manager-run PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  add_custom_target(bench-manager
    COMMAND $<TARGET_FILE:bench-manager-run>
    DEPENDS bench-manager-run
    USES_TERMINAL)
endif()
