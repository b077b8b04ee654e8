// LZSS parameters and the decoding loop shared by LzssDecode and LzssFindLine.
//
// Stream: groups of one flag byte and up to eight items. Flag bits, least
// significant first: 1 = one literal byte, 0 = a two-byte reference
//   b0 = position bits 0..7, b1 = position bits 8..11 << 4 | (length - 3)
// into a 4096-byte ring that starts as 4078 spaces with writing at 4078.
#pragma once

#include <stdint.h>
#include <string.h>

namespace lzss {

constexpr uint32_t kRingSize = 4096;      // N
constexpr uint32_t kMaxMatch = 18;        // F
constexpr uint32_t kThreshold = 2;        // references carry lengths 3..18
constexpr uint32_t kStart = kRingSize - kMaxMatch;  // first write position, 4078

// Fills the ring as the encoder starts: spaces, then zeros where the first
// bytes will go.
inline void InitRing(uint8_t* ring) {
  memset(ring, ' ', kStart);
  memset(ring + kStart, 0, kRingSize - kStart);
}

// Decodes src, handing every output byte to sink(byte); sink returns false
// to stop. Stops at the end of the source, also inside a group or a cut
// reference.
template <typename Sink>
inline void Decode(const uint8_t* src, uint32_t length, uint8_t* ring, Sink& sink) {
  InitRing(ring);
  uint32_t r = kStart;
  uint32_t flags = 0;
  uint32_t pos = 0;
  for (;;) {
    flags >>= 1;
    if ((flags & 0x100) == 0) {
      if (pos >= length) return;
      flags = src[pos++] | 0xFF00;
    }
    if (flags & 1) {
      if (pos >= length) return;
      const uint8_t c = src[pos++];
      ring[r] = c;
      r = (r + 1) & (kRingSize - 1);
      if (!sink(c)) return;
    } else {
      if (length - pos < 2) return;
      const uint32_t b0 = src[pos], b1 = src[pos + 1];
      pos += 2;
      const uint32_t from = b0 | ((b1 & 0xF0) << 4);
      const uint32_t count = (b1 & 0x0F) + kThreshold + 1;
      for (uint32_t k = 0; k < count; ++k) {
        const uint8_t c = ring[(from + k) & (kRingSize - 1)];
        ring[r] = c;
        r = (r + 1) & (kRingSize - 1);
        if (!sink(c)) return;
      }
    }
  }
}

}  // namespace lzss
