// CRC-32 of zip and gzip, slice-by-16: sixteen 256-entry tables built at
// compile time, so the scanner needs no start-up code and no runtime.
#include "common/crc32.h"

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

}  // namespace

uint32_t Crc32Update(uint32_t crc, const void* data, uint32_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  const uint32_t(*t)[256] = kTables.t;
  uint32_t c = ~crc;
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
  return ~c;
}

uint32_t Crc32(const void* data, uint32_t length) { return Crc32Update(0, data, length); }
