# The manager's parsers of untrusted files: quarantine records and user
# library files. The common readers are built for both worlds; these targets
# fuzz the 64-bit build the manager runs (native, so they also run where
# 32-bit programs need an emulator, which 32-bit ASan does not survive).
set(TW_MANAGER_FUZZ ${CMAKE_CURRENT_LIST_DIR}/manager)
if(TARNWELL_FUZZ AND TARGET tw_common)
  foreach(target quarantine_record user_file)
    set(name fuzz_${target})
    add_executable(${name} ${TW_MANAGER_FUZZ}/${target}_fuzz.cpp)
    tw_common_options(${name})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name} PRIVATE tw_common)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    add_dependencies(fuzzers ${name})
  endforeach()
endif()
