// libFuzzer target: LzssDecode on arbitrary streams with a capacity chosen by
// the first input byte; whatever decodes must survive an encode and decode
// round trip unchanged.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "scanner/codec/codec.h"

namespace {
void* Alloc(void*, uint32_t size) { return malloc(size); }
void Free(void*, void* p) { free(p); }
const CodecAllocator kHeap = {Alloc, Free, nullptr};
}  // namespace

// Where the 32-bit target runs under an emulator (qemu-i386), LeakSanitizer's
// exit-time scan can hang and the default quarantine exhausts the address
// space ASan can use; the unit tests check the codecs for leaks instead.
extern "C" const char* __asan_default_options() { return "detect_leaks=0:quarantine_size_mb=8"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 65536) return 0;
  // 0 .. 255 * 257 bytes of room: small ones cut the output short.
  const uint32_t capacity = (uint32_t)data[0] * 257;
  const uint8_t* stream = data + 1;
  const uint32_t length = (uint32_t)size - 1;
  uint8_t* out = static_cast<uint8_t*>(malloc(capacity ? capacity : 1));
  const uint32_t n = LzssDecode(stream, length, out, capacity);
  if (n > capacity) abort();

  if (n > 0) {
    const uint32_t room = n + n / 8 + 2;
    uint8_t* packed = static_cast<uint8_t*>(malloc(room));
    const uint32_t m = LzssEncode(&kHeap, out, n, packed, room);
    if (m == 0) abort();
    uint8_t* back = static_cast<uint8_t*>(malloc(n));
    if (LzssDecode(packed, m, back, n) != n || memcmp(back, out, n) != 0) abort();
    free(back);
    free(packed);
  }
  free(out);
  return 0;
}
