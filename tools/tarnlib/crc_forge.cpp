// CRC-32 forging (see crc_forge.h).
//
// Processing four bytes x from register state s is G(s ^ x), where G is four
// steps of r = (r >> 8) ^ T[r & 0xFF]. Each step is invertible because the
// top bytes of the 256 table entries are all different, so x = G^-1(r) ^ s.
#include "tools/tarnlib/crc_forge.h"

#include "common/crc32.h"

namespace {

struct Tables {
  uint32_t table[256];
  uint8_t byTop[256];  // index whose table entry has this top byte
  Tables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
      byTop[c >> 24] = (uint8_t)i;
    }
  }
};

const Tables& T() {
  static Tables t;
  return t;
}

}  // namespace

std::string ForgeCrcTail(const std::string& prefix, uint32_t target) {
  const Tables& t = T();
  uint32_t state = ~Crc32(prefix.data(), (uint32_t)prefix.size());  // register after the prefix
  uint32_t r = ~target;                                            // register wanted at the end
  for (int step = 0; step < 4; ++step) {
    uint8_t idx = t.byTop[r >> 24];
    r = ((r ^ t.table[idx]) << 8) | idx;
  }
  uint32_t x = r ^ state;
  std::string tail;
  for (int i = 0; i < 4; ++i) tail.push_back((char)(uint8_t)(x >> (8 * i)));
  return tail;
}

std::string ForgeName(const std::string& prefix, uint32_t target) {
  for (uint32_t counter = 0;; ++counter) {
    std::string base = counter == 0 ? prefix : prefix + "$" + std::to_string(counter);
    std::string name = base + ForgeCrcTail(base, target);
    if (name.find('\0') == std::string::npos && name.find("@CQEL") == std::string::npos) return name;
  }
}
