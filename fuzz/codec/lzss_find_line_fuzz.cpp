// libFuzzer target: LzssFindLine on arbitrary streams; the first input bytes
// choose the line index and the text capacity.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "scanner/codec/codec.h"

// Where the 32-bit target runs under an emulator (qemu-i386), LeakSanitizer's
// exit-time scan can hang and the default quarantine exhausts the address
// space ASan can use; the unit tests check the codecs for leaks instead.
extern "C" const char* __asan_default_options() { return "detect_leaks=0:quarantine_size_mb=8"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3 || size > 65536) return 0;
  const uint32_t index = data[0];
  const uint32_t capacity = data[1];  // 0 .. 255, exactly allocated
  char* text = static_cast<char*>(malloc(capacity ? capacity : 1));
  LzssFindLine(data + 2, (uint32_t)size - 2, index, text, capacity);
  if (capacity > 0 && strnlen(text, capacity) >= capacity) abort();  // must be terminated inside
  free(text);
  return 0;
}
