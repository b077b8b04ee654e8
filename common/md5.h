// MD5 (RFC 1321) of memory buffers. Freestanding.
#pragma once

#include <stdint.h>

struct Md5Context {
  uint32_t state[4];
  uint64_t bitCount;
  uint8_t block[64];
};

void Md5Init(Md5Context* ctx);
void Md5Update(Md5Context* ctx, const void* data, uint32_t length);
void Md5Final(Md5Context* ctx, uint8_t digest[16]);
void Md5Digest(const void* data, uint32_t length, uint8_t digest[16]);
