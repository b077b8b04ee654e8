// One checked view for untrusted bytes (library files, user files, COFF
// images): every read names an offset and a size inside the view and is
// refused when it does not fit, without overflow. Values are read with
// memcpy-free little-endian loads, never by casting into the buffer.
#pragma once

#include <stdint.h>

struct ByteView {
  const uint8_t* data;
  uint32_t size;

  // [offset, offset + length) lies inside the view.
  bool Has(uint32_t offset, uint32_t length) const { return offset <= size && length <= size - offset; }
  // The same for a 64-bit extent (count * record size and the like).
  bool Has64(uint64_t offset, uint64_t length) const { return offset <= size && length <= size - offset; }

  bool U8(uint32_t offset, uint8_t* out) const {
    if (!Has(offset, 1)) return false;
    *out = data[offset];
    return true;
  }
  bool U16(uint32_t offset, uint16_t* out) const {
    if (!Has(offset, 2)) return false;
    *out = (uint16_t)(data[offset] | data[offset + 1] << 8);
    return true;
  }
  bool U32(uint32_t offset, uint32_t* out) const {
    if (!Has(offset, 4)) return false;
    const uint8_t* p = data + offset;
    *out = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
    return true;
  }
  // A sub-view, or false when it does not fit.
  bool Sub(uint32_t offset, uint32_t length, ByteView* out) const {
    if (!Has(offset, length)) return false;
    out->data = data + offset;
    out->size = length;
    return true;
  }
};

inline ByteView MakeView(const uint8_t* data, uint32_t size) {
  ByteView v;
  v.data = data;
  v.size = data ? size : 0;
  return v;
}

inline uint32_t Load32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
inline void Store32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}
// a + b, or false on overflow.
inline bool AddU32(uint32_t a, uint32_t b, uint32_t* out) {
  if (b > 0xFFFFFFFFu - a) return false;
  *out = a + b;
  return true;
}
