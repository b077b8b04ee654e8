// libFuzzer target: GzipDecode on arbitrary containers. Inputs that do not
// start with the magic get the header put in front, so the fuzzer spends its
// time inside the DEFLATE decoder.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "common/crc32.h"
#include "scanner/codec/codec.h"

namespace {
void* Alloc(void*, uint32_t size) { return malloc(size); }
void Free(void*, void* p) { free(p); }
const CodecAllocator kHeap = {Alloc, Free, nullptr};
constexpr uint32_t kMaxCapacity = 1 << 16;

void Run(const uint8_t* src, uint32_t size, uint32_t capacity) {
  // Exactly `capacity` bytes, so that AddressSanitizer sees any overrun.
  uint8_t* dst = static_cast<uint8_t*>(malloc(capacity ? capacity : 1));
  uint32_t result = capacity;
  const int32_t r = GzipDecode(&kHeap, src, size, dst, &result);
  if (r == kGzipOk) {
    if (result > capacity) abort();
    // A verified section really carries the CRC of what was produced.
    uint32_t crc = (uint32_t)src[size - 8] | (uint32_t)src[size - 7] << 8 | (uint32_t)src[size - 6] << 16 |
                   (uint32_t)src[size - 5] << 24;
    if (Crc32(dst, result) != crc) abort();
  } else if (r == kGzipSourceLarger) {
    if (result != capacity) abort();
  } else if (r != kGzipNeedRoom && r != kGzipBad) {
    abort();
  }
  free(dst);
}
}  // namespace

// Where the 32-bit target runs under an emulator (qemu-i386), LeakSanitizer's
// exit-time scan can hang and the default quarantine exhausts the address
// space ASan can use; the unit tests check the codecs for leaks instead.
extern "C" const char* __asan_default_options() { return "detect_leaks=0:quarantine_size_mb=8"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxCapacity / 2) return 0;
  uint8_t* src;
  uint32_t length;
  if (size >= 2 && data[0] == 0x1F && data[1] == 0x8B) {
    src = static_cast<uint8_t*>(malloc(size));
    memcpy(src, data, size);
    length = (uint32_t)size;
  } else {
    src = static_cast<uint8_t*>(malloc(size + 3));
    src[0] = 0x1F;
    src[1] = 0x8B;
    src[2] = 0x08;
    memcpy(src + 3, data, size);
    length = (uint32_t)size + 3;
  }
  // The room the container asks for (so that decoding runs), and the least
  // room allowed (so that output beyond the capacity is exercised).
  uint32_t recorded = 0;
  if (length >= 4)
    recorded = (uint32_t)src[length - 4] | (uint32_t)src[length - 3] << 8 | (uint32_t)src[length - 2] << 16 |
               (uint32_t)src[length - 1] << 24;
  uint32_t capacity = recorded > kMaxCapacity ? kMaxCapacity : recorded;
  if (capacity < length) capacity = length;
  Run(src, length, capacity);
  if (capacity != length) Run(src, length, length);
  free(src);
  return 0;
}
