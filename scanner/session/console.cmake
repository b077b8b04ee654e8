# Boot-screen output and the formatted-text writer (32-bit, freestanding).
# Included by scanner/session/CMakeLists.txt.
tw_scanner_library(tw_console32 ${CMAKE_CURRENT_LIST_DIR}/console.cpp)
target_link_libraries(tw_console32 PUBLIC tw_runtime32)
