// The quarantine record reader on arbitrary files, and the writer's promise
// that whatever it composes the reader gives back.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "common/quarantine.h"

namespace {

void ReadAsTheManagerDoes(const uint8_t* data, size_t size) {
  uint32_t length = size > 0x100000 ? 0x100000 : (uint32_t)size;
  QuarantineInfo info;
  QuarantineIsRecord(data, length);
  // Listing: the first 1024 bytes.
  QuarantineParse(data, length < kQuarantineListBytes ? length : kQuarantineListBytes, &info);
  if (QuarantineParse(data, length, &info) != kQrOk) return;
  if (strlen(info.path) > kQuarantineOriginMax || strlen(info.virusName) > kQuarantineNameMax)
    abort();
  // Restoring: the whole file, unscrambled in a copy.
  uint8_t* copy = (uint8_t*)malloc(length ? length : 1);
  memcpy(copy, data, length);
  uint8_t* content = nullptr;
  if (QuarantineOpenContent(copy, length, &info, &content) == kQrOk &&
      (content < copy || content + info.size > copy + length))
    abort();
  free(copy);
}

// Input: path NUL name NUL content. Compose, then read back.
void RoundTrip(const uint8_t* data, size_t size) {
  const char* path = (const char*)data;
  const void* nul = memchr(data, 0, size);
  if (nul == nullptr) return;
  size_t pathLength = (const uint8_t*)nul - data;
  const uint8_t* rest = (const uint8_t*)nul + 1;
  size_t restSize = size - pathLength - 1;
  const void* nul2 = memchr(rest, 0, restSize);
  if (nul2 == nullptr) return;
  const char* name = (const char*)rest;
  const uint8_t* content = (const uint8_t*)nul2 + 1;
  uint32_t n = (uint32_t)(restSize - ((const uint8_t*)nul2 - rest) - 1);
  uint32_t capacity = kQuarantineFrontRoom + n;
  uint8_t* buffer = (uint8_t*)malloc(capacity);
  memcpy(buffer + kQuarantineFrontRoom, content, n);
  const uint16_t when[8] = {2026, 1, 2, 3, 4, 5, 6, 7};
  const int64_t times[3] = {1, 2, 3};
  uint32_t length = 0;
  uint8_t d2[16];
  int r = QuarantineCompose(buffer, capacity, kQuarantineFrontRoom, n, path, name, "2026-01-03",
                            when, times, &length, d2);
  if (r == kQrOk) {
    QuarantineInfo info;
    if (QuarantineParse(buffer, length, &info) != kQrOk) abort();
    // The path comes back whole, '&' and all.
    if (strcmp(info.path, path) != 0) abort();
    uint8_t* opened = nullptr;
    if (QuarantineOpenContent(buffer, length, &info, &opened) != kQrOk) abort();
    if (memcmp(opened, content, n) != 0) abort();
  } else if (r == kQrPathTooLong) {
    if (pathLength <= kQuarantineOriginMax - 3) abort();
  } else {
    abort();
  }
  free(buffer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ReadAsTheManagerDoes(data, size);
  RoundTrip(data, size);
  return 0;
}
