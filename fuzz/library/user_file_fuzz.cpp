// Fuzzes the user pass on user library files fed from memory: up to four
// files (split at "--TWFILE--") go through the header totals, the LZO
// payload and the payload index into UserDigestList.
#include "fuzz/library/library_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return libfuzz::RunPass(data, size, BuildUserList);
}
