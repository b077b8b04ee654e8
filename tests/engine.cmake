# Scan engine tests: the signature indexes (unit), the engine in process on
# the stand-in native interface, and whole runs of build/bin/tarnwell on
# machines made for each check.
if(TARGET tw_common)
  tw_test(engine_index_test
    SOURCES engine/checksum_index_test.cpp ${CMAKE_SOURCE_DIR}/scanner/engine/checksum_index.cpp
    LIBS tw_common)
endif()
