// Codecs of the base library files: the packed section decoder (DEFLATE in a
// short gzip-like container) and Okumura's LZSS. Freestanding; memory comes
// from the caller's allocator.
#pragma once

#include <stdint.h>

struct CodecAllocator {
  void* (*alloc)(void* opaque, uint32_t size);
  void (*free)(void* opaque, void* p);
  void* opaque;
};

// Results of GzipDecode.
enum : int32_t {
  kGzipOk = 8,
  kGzipNeedRoom = 0,
  kGzipSourceLarger = -1,
  kGzipBad = -2,
};

// capacity: in, the room of dst; out, a size as the result says.
int32_t GzipDecode(const CodecAllocator* a, const uint8_t* src, uint32_t srcLength, uint8_t* dst,
                   uint32_t* capacity);

// Bytes written, or 0 when the output would not fit or the source is empty.
uint32_t LzssEncode(const CodecAllocator* a, const uint8_t* src, uint32_t length, uint8_t* dst,
                    uint32_t capacity);
// Bytes written; stops at the end of the source or of the capacity.
uint32_t LzssDecode(const uint8_t* src, uint32_t length, uint8_t* dst, uint32_t capacity);
// Unpacks up to line `index` (LF-separated, from 0) into text (terminated);
// the empty text when the source ends first. Lines longer than capacity - 1
// are cut.
void LzssFindLine(const uint8_t* src, uint32_t length, uint32_t index, char* text, uint32_t capacity);
