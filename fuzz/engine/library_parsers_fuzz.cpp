// Fuzzes the default library's parsers of untrusted files, compiled natively:
// the ZIP members' inflater and the autorun.inf reader.
#define memcpy tw_lib_memcpy
#define memset tw_lib_memset
#define memmove tw_lib_memmove
#define memcmp tw_lib_memcmp
#include "library/base/autorun.h"
#include "library/base/inflate.h"
#undef memcpy
#undef memset
#undef memmove
#undef memcmp

#include <cstring>
#include <vector>

extern "C" {
void* tw_lib_memcpy(void* d, const void* s, unsigned int n) { return std::memcpy(d, s, n); }
void* tw_lib_memset(void* d, int v, unsigned int n) { return std::memset(d, v, n); }
void* tw_lib_memmove(void* d, const void* s, unsigned int n) { return std::memmove(d, s, n); }
int tw_lib_memcmp(const void* a, const void* b, unsigned int n) { return std::memcmp(a, b, n); }
tw_u32 __stdcall TwDriveType(CQEL*, const char*) { return 0; }
TwHandle __stdcall TwFileOpen(CQEL*, const char*, tw_u32, tw_u32) { return 0; }
tw_u32 __stdcall TwFileSize(CQEL*, TwHandle) { return 0; }
tw_u32 __stdcall TwFileRead(CQEL*, TwHandle, void*, tw_u32) { return 0; }
void __stdcall TwFileClose(CQEL*, TwHandle) {}
void* __stdcall TwTrackedAlloc(CQEL*, tw_u32) { return 0; }
void __stdcall TwTrackedFree(CQEL*, void*) {}
tw_u32 __stdcall TwRequestSweep(CQEL*, tw_u32) { return 0; }
tw_u32 __stdcall TwScanSeek(CQEL*, tw_u32) { return 0; }
tw_u32 __stdcall TwScanRead(CQEL*, void*, tw_u32) { return 0; }
tw_u32 __stdcall TwScanWrite(CQEL*, const void*, tw_u32) { return 0; }
tw_u32 __stdcall TwScanTruncate(CQEL*, tw_i32) { return 0; }
tw_u32 __stdcall TwLayerSeek(CQEL*, tw_i32, tw_u32) { return 0; }
tw_u32 __stdcall TwLayerRead(CQEL*, void*, tw_u32) { return 0; }
}

// Runs as a 32-bit program under qemu-i386 here: LeakSanitizer cannot stop
// the world there, and the sanitizer's allocator fails its own checks once
// its quarantine has taken a few hundred MiB of the address space.
extern "C" const char* __asan_default_options() { return "detect_leaks=0:quarantine_size_mb=8"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t* in = data + 1;
  tw_u32 n = (tw_u32)(size - 1);
  if (data[0] & 1) {
    // Exact-size output, as the routine allocates it: nothing may be written past it.
    std::vector<tw_u8> out(1u << (data[0] >> 4));
    tw_u32 got = InflateRaw(in, n, out.data(), (tw_u32)out.size());
    if (got != 0xFFFFFFFFu && got > out.size()) __builtin_trap();
  } else {
    std::vector<char> text(in, in + n);
    char program[260], path[1024];
    if (AutorunProgram(text.data(), n, program, sizeof program)) {
      if (std::strlen(program) >= sizeof program) __builtin_trap();
      ProgramPath("F:\\dir\\autorun.inf", program, path, sizeof path);
    }
  }
  return 0;
}
