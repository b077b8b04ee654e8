// Fuzzes the object linker on one COFF image. Input: the routine prefix (up
// to the first LF, cut to 63 characters as the loader cuts routine-name
// lines), then the image. The image is loaded twice into a code area a
// little larger than the image (so the second load may not fit), as a
// section-2 object of slot 5 and then as a section-0 object, binding the
// second load to what the first one exported.
#include "fuzz/library/library_fuzz_support.h"

namespace {

const uint32_t kArea = 4u << 20;

VirusLibrary* Library() {
  RuntimeContext* ctx = libfuzz::Context();
  static VirusLibrary* lib = nullptr;
  if (lib == nullptr) {
    lib = libfuzz::NewLibrary();
    lib->code = (uint8_t*)VmAlloc(ctx, nullptr, kArea, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    libfuzz::Check(lib->code != nullptr);
  }
  return lib;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  VirusLibrary* lib = Library();
  const uint8_t* lf = (const uint8_t*)memchr(data, '\n', size);
  size_t prefixLength = lf ? (size_t)(lf - data) : 0;
  size_t at = lf ? prefixLength + 1 : 0;
  // The image in a buffer of its own size, so reads past it are caught.
  std::vector<uint8_t> image(data + at, data + size);
  memset(lib->routines, 0, sizeof lib->routines);
  RegisterHostServices(lib);
  SymbolReset(lib, libfmt::kFirstLibrarySymbol);
  uint64_t room = (uint64_t)image.size() + 64;
  lib->codeSize = room < kArea ? (uint32_t)room : kArea;
  lib->codeUsed = 0;

  ObjectContext oc;
  oc.section = 2;
  oc.slot = 5;
  oc.prefix = (const char*)data;
  oc.prefixLength = (uint32_t)(prefixLength > libfmt::kMaxPrefix ? libfmt::kMaxPrefix : prefixLength);
  ByteView view = MakeView(image.empty() ? nullptr : image.data(), (uint32_t)image.size());
  LoadObject(lib, view, &oc);
  libfuzz::CheckLibrary(lib);
  oc.section = 0;
  oc.slot = 0;
  LoadObject(lib, view, &oc);
  libfuzz::CheckLibrary(lib);
  return 0;
}
