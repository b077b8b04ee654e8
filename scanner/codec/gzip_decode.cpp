// The packed section container: DEFLATE data between a 3-byte header and an
// 8-byte trailer, all little-endian.
//
//   +----+----+----+-------------------------+---------+---------+
//   | 1F | 8B | 08 | DEFLATE stream          | CRC-32  | length  |
//   +----+----+----+-------------------------+---------+---------+
//    0    1    2    3                         end - 8   end - 4
//
// The container must end right after the length field.
#include <string.h>

#include "scanner/codec/codec.h"
#include "scanner/codec/inflate_internal.h"

using inflate::State;

namespace {

uint32_t ReadLe32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

bool ReadTrailerWord(State* s, uint32_t* out) {
  uint8_t b[4];
  for (int i = 0; i < 4; ++i)
    if (!inflate::ReadByte(s, &b[i])) return false;
  *out = ReadLe32(b);
  return true;
}

int32_t Decode(State* s, uint32_t* capacity) {
  uint8_t magic0, magic1, method;
  if (!inflate::ReadByte(s, &magic0) || !inflate::ReadByte(s, &magic1) || !inflate::ReadByte(s, &method))
    return kGzipBad;
  if (magic0 != 0x1F || magic1 != 0x8B || method != 8) return kGzipBad;
  if (s->srcLength < 7) return kGzipBad;
  const uint32_t recorded = ReadLe32(s->src + s->srcLength - 4);
  if (recorded > s->capacity) {
    *capacity = recorded;
    return kGzipNeedRoom;
  }
  if (!inflate::InflateStream(s)) return kGzipBad;
  uint32_t crc, length;
  if (!ReadTrailerWord(s, &crc) || !ReadTrailerWord(s, &length)) return kGzipBad;
  if (crc != s->crc || length != s->produced) return kGzipBad;
  if (s->inPos != s->inEnd || s->srcPos != s->srcLength) return kGzipBad;  // trailing bytes
  if (s->produced > s->capacity) return kGzipBad;
  return kGzipOk;
}

}  // namespace

int32_t GzipDecode(const CodecAllocator* a, const uint8_t* src, uint32_t srcLength, uint8_t* dst,
                   uint32_t* capacity) {
  if (*capacity < srcLength) return kGzipSourceLarger;
  State* s = a ? static_cast<State*>(a->alloc(a->opaque, sizeof(State))) : nullptr;
  if (!s) {
    *capacity = 0;
    return kGzipBad;
  }
  // Only the fields before the buffers need a defined start.
  memset(s, 0, offsetof(State, fixedLen));
  s->src = src;
  s->srcLength = srcLength;
  s->dst = dst;
  s->capacity = *capacity;

  int32_t result = Decode(s, capacity);
  if (result != kGzipNeedRoom)
    *capacity = s->produced > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)s->produced;
  a->free(a->opaque, s);
  return result;
}
