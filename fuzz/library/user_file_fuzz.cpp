// Fuzzes the user pass on user library files fed from memory: up to four
// files (split at "--TWFILE--") go through the header totals, the LZO
// payload and the payload index into UserDigestList.
#include "fuzz/library/library_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RuntimeContext* ctx = libfuzz::Context();
  static VirusLibrary* lib = libfuzz::NewLibrary();
  FileBuffer files[libfmt::kMaxFiles];
  libfuzz::SplitFiles(ctx, data, size, 4, files);
  ResetLibrary(lib);
  BuildUserList(lib, files);
  libfuzz::FreeFiles(ctx, files);
  libfuzz::CheckLibrary(lib);
  ResetLibrary(lib);
  return 0;
}
