// Fuzzes the base pass on library files fed from memory: up to four base
// files (split at "--TWFILE--") go through the header totals, sizing, section
// decoding, part directories, tables, names and the object linker.
#include "fuzz/library/library_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return libfuzz::RunPass(data, size, [](VirusLibrary* lib, FileBuffer* files) {
    RegisterHostServices(lib);
    BuildBaseTables(lib, files);
  });
}
