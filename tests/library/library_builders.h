// Builders of library pieces that need no test framework, shared by the
// library tests and the benchmark's library generator: little-endian byte
// helpers, COFF objects from readable descriptions, routine entry names and
// the virus-name packer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "scanner/codec/codec.h"
#include "scanner/library/format.h"

namespace libtest {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint16_t v) {
  b.push_back((uint8_t)v);
  b.push_back((uint8_t)(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back((uint8_t)(v >> (8 * i)));
}
inline void Set32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (uint8_t)(v >> (8 * i));
}
inline uint32_t Get32(const Bytes& b, size_t at) {
  return (uint32_t)b[at] | (uint32_t)b[at + 1] << 8 | (uint32_t)b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}
inline uint32_t Crc(const std::string& s) { return Crc32(s.data(), (uint32_t)s.size()); }

// --- COFF objects -------------------------------------------------------

struct CoffReloc {
  uint32_t offset;
  uint32_t symbol;
  uint16_t type;
};

struct CoffSectionDesc {
  std::string name = ".text";
  Bytes data;
  uint32_t characteristics = 0x60000020;  // code, execute, read
  uint32_t bssSize = 0;                   // for 0x80 sections: raw size, no data
  std::vector<CoffReloc> relocs;
};

struct CoffSymbolDesc {
  std::string name;
  uint32_t value = 0;
  int16_t section = 1;
  uint16_t type = 0x20;
  uint8_t storageClass = 2;
  uint8_t auxCount = 0;
};

struct CoffDesc {
  uint16_t machine = 0x014C;
  std::vector<CoffSectionDesc> sections;
  std::vector<CoffSymbolDesc> symbols;  // aux records are written as zeros
};

inline Bytes BuildCoff(const CoffDesc& d) {
  Bytes out;
  Put16(out, d.machine);
  Put16(out, (uint16_t)d.sections.size());
  Put32(out, 0);  // time stamp
  size_t symOffsetAt = out.size();
  Put32(out, 0);
  uint32_t slots = 0;
  for (const CoffSymbolDesc& s : d.symbols) slots += 1 + s.auxCount;
  Put32(out, slots);
  Put16(out, 0);  // optional header
  Put16(out, 0);
  size_t headers = out.size();
  out.resize(headers + 40 * d.sections.size(), 0);
  for (size_t i = 0; i < d.sections.size(); ++i) {
    const CoffSectionDesc& s = d.sections[i];
    size_t h = headers + 40 * i;
    memcpy(&out[h], s.name.data(), std::min<size_t>(8, s.name.size()));
    bool bss = (s.characteristics & 0x80) != 0;
    uint32_t raw = bss ? s.bssSize : (uint32_t)s.data.size();
    Set32(out, h + 16, raw);
    if (!bss && !s.data.empty()) {
      Set32(out, h + 20, (uint32_t)out.size());
      out.insert(out.end(), s.data.begin(), s.data.end());
    }
    if (!s.relocs.empty()) {
      Set32(out, h + 24, (uint32_t)out.size());
      for (const CoffReloc& r : s.relocs) {
        Put32(out, r.offset);
        Put32(out, r.symbol);
        Put16(out, r.type);
      }
    }
    out[h + 32] = (uint8_t)s.relocs.size();
    out[h + 33] = (uint8_t)(s.relocs.size() >> 8);
    Set32(out, h + 36, s.characteristics);
  }
  Set32(out, symOffsetAt, (uint32_t)out.size());
  Bytes strings = {0, 0, 0, 0};
  for (const CoffSymbolDesc& s : d.symbols) {
    Bytes rec(18, 0);
    if (s.name.size() <= 8) {
      memcpy(rec.data(), s.name.data(), s.name.size());
    } else {
      Set32(rec, 4, (uint32_t)strings.size());
      strings.insert(strings.end(), s.name.begin(), s.name.end());
      strings.push_back(0);
    }
    Set32(rec, 8, s.value);
    rec[12] = (uint8_t)s.section;
    rec[13] = (uint8_t)((uint16_t)s.section >> 8);
    rec[14] = (uint8_t)s.type;
    rec[15] = (uint8_t)(s.type >> 8);
    rec[16] = s.storageClass;
    rec[17] = s.auxCount;
    out.insert(out.end(), rec.begin(), rec.end());
    out.resize(out.size() + 18 * s.auxCount, 0);
  }
  Set32(strings, 0, (uint32_t)strings.size());
  out.insert(out.end(), strings.begin(), strings.end());
  return out;
}

// The symbol name of a routine's check or repair entry in its object.
inline std::string EntryNameOf(const std::string& prefix, bool repair) {
  char buf[16];
  snprintf(buf, sizeof buf, ".%08x", Crc(prefix + (repair ? libfmt::kRepairSuffix : libfmt::kCheckSuffix)));
  return buf;
}

// --- Packers ---------------------------------------------------------------

inline void* TestAlloc(void*, uint32_t n) { return malloc(n); }
inline void TestFree(void*, void* p) { free(p); }

// Virus-name lists packed as the library files keep them.
inline Bytes PackLzss(const std::string& text) {
  static const CodecAllocator a = {TestAlloc, TestFree, nullptr};
  Bytes out(text.size() + text.size() / 8 + 16);
  uint32_t n = LzssEncode(&a, (const uint8_t*)text.data(), (uint32_t)text.size(), out.data(), (uint32_t)out.size());
  out.resize(n);
  return out;
}

}  // namespace libtest
