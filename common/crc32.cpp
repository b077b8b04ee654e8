// CRC-32 of zip and gzip. Two paths:
//  - slice-by-16: sixteen 256-entry tables built at compile time (no start-up
//    code, no runtime), for any processor;
//  - carry-less multiplication folding (PCLMULQDQ) where the processor has
//    it: 64-byte blocks are folded four lanes at a time into one 128-bit
//    remainder that the tables then finish.
#include "common/crc32.h"

#include "common/crc32_internal.h"

// The folding path is for 64-bit builds only: the 32-bit scanner is called
// from library code with 4-byte stack alignment and runs on processors of
// its generation, where the tables are the path that matters.
#if defined(__x86_64__)
#include <cpuid.h>
#define TW_CRC_CLMUL 1
#endif

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;
constexpr int kSlices = 16;

struct CrcTables {
  uint32_t t[kSlices][256];
};

constexpr CrcTables MakeTables() {
  CrcTables tables{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
    tables.t[0][n] = c;
  }
  // t[k][n] is the CRC of byte n followed by k zero bytes.
  for (int k = 1; k < kSlices; ++k)
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = tables.t[k - 1][n];
      tables.t[k][n] = (c >> 8) ^ tables.t[0][c & 0xFF];
    }
  return tables;
}

constexpr CrcTables kTables = MakeTables();

inline uint32_t Load32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// The CRC register without the initial and final complement.
uint32_t TableUpdate(uint32_t c, const uint8_t* p, uint32_t length) {
  const uint32_t(*t)[256] = kTables.t;
  while (length >= 16) {
    uint32_t w0 = Load32(p) ^ c;
    uint32_t w1 = Load32(p + 4);
    uint32_t w2 = Load32(p + 8);
    uint32_t w3 = Load32(p + 12);
    c = t[15][w0 & 0xFF] ^ t[14][(w0 >> 8) & 0xFF] ^ t[13][(w0 >> 16) & 0xFF] ^ t[12][w0 >> 24] ^
        t[11][w1 & 0xFF] ^ t[10][(w1 >> 8) & 0xFF] ^ t[9][(w1 >> 16) & 0xFF] ^ t[8][w1 >> 24] ^
        t[7][w2 & 0xFF] ^ t[6][(w2 >> 8) & 0xFF] ^ t[5][(w2 >> 16) & 0xFF] ^ t[4][w2 >> 24] ^
        t[3][w3 & 0xFF] ^ t[2][(w3 >> 8) & 0xFF] ^ t[1][(w3 >> 16) & 0xFF] ^ t[0][w3 >> 24];
    p += 16;
    length -= 16;
  }
  while (length--) c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFF];
  return c;
}

#ifdef TW_CRC_CLMUL

typedef long long V2 __attribute__((vector_size(16)));

// Folding constants of the reflected polynomial: x^(4*128+32) and x^(4*128-32)
// mod P for four lanes, x^(128+32) and x^(128-32) mod P for one lane, each
// bit-reflected and shifted left by one.
const V2 kFold4 = {0x154442bd4LL, 0x1c6e41596LL};
const V2 kFold1 = {0x1751997d0LL, 0x0ccaa009eLL};

// -1 unknown, 0 no, 1 yes. Set once; a race only repeats the same answer.
int gHasClmul = -1;

bool HasClmul() {
  if (gHasClmul < 0) {
    unsigned a, b, c, d;
    gHasClmul = (__get_cpuid(1, &a, &b, &c, &d) && (c & bit_PCLMUL) && (d & bit_SSE2)) ? 1 : 0;
  }
  return gHasClmul == 1;
}

inline V2 Load128(const uint8_t* p) {
  V2 v;
  __builtin_memcpy(&v, p, 16);
  return v;
}

__attribute__((target("pclmul,sse2"))) inline V2 Fold(V2 x, V2 k, V2 data) {
  return __builtin_ia32_pclmulqdq128(x, k, 0x00) ^ __builtin_ia32_pclmulqdq128(x, k, 0x11) ^ data;
}

// length >= 64 and a multiple of 16.
__attribute__((target("pclmul,sse2"))) uint32_t
ClmulUpdate(uint32_t c, const uint8_t* p, uint32_t length) {
  V2 x0 = Load128(p), x1 = Load128(p + 16), x2 = Load128(p + 32), x3 = Load128(p + 48);
  x0 ^= (V2){(long long)c, 0};
  p += 64;
  length -= 64;
  while (length >= 64) {
    x0 = Fold(x0, kFold4, Load128(p));
    x1 = Fold(x1, kFold4, Load128(p + 16));
    x2 = Fold(x2, kFold4, Load128(p + 32));
    x3 = Fold(x3, kFold4, Load128(p + 48));
    p += 64;
    length -= 64;
  }
  x0 = Fold(x0, kFold1, x1);
  x0 = Fold(x0, kFold1, x2);
  x0 = Fold(x0, kFold1, x3);
  while (length >= 16) {
    x0 = Fold(x0, kFold1, Load128(p));
    p += 16;
    length -= 16;
  }
  // x0 is congruent to everything folded: its CRC from a zero register is
  // the CRC so far.
  uint8_t rest[16];
  __builtin_memcpy(rest, &x0, 16);
  return TableUpdate(0, rest, 16);
}

#endif

}  // namespace

uint32_t Crc32Update(uint32_t crc, const void* data, uint32_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t c = ~crc;
#ifdef TW_CRC_CLMUL
  if (length >= 256 && HasClmul()) {
    const uint32_t folded = length & ~15u;
    c = ClmulUpdate(c, p, folded);
    p += folded;
    length -= folded;
  }
#endif
  return ~TableUpdate(c, p, length);
}

uint32_t Crc32UpdateTables(uint32_t crc, const void* data, uint32_t length) {
  return ~TableUpdate(~crc, static_cast<const uint8_t*>(data), length);
}

uint32_t Crc32(const void* data, uint32_t length) { return Crc32Update(0, data, length); }
