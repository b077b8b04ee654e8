# Parsers of the simulated PC's files: the .reg registry file and machine.json.
set(TW_PLATFORM_FUZZ ${CMAKE_CURRENT_LIST_DIR}/platform)
tw_fuzzer(fuzz_reg_parser SOURCES ${TW_PLATFORM_FUZZ}/reg_parser_fuzz.cpp LIBS tw_registry32)
tw_fuzzer(fuzz_machine_json SOURCES ${TW_PLATFORM_FUZZ}/machine_json_fuzz.cpp LIBS tw_machine32)
