# The 32-bit fuzzers' folder listing shim, checked natively against the
# 64-bit calls it narrows.
tw_test(fuzz_lfs_shim_test M32
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_support/lfs_shim_test.cpp
          ${CMAKE_SOURCE_DIR}/fuzz/support/lfs_shim.c)
