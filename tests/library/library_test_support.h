// Builders for library tests: COFF objects from readable descriptions, base
// files (through the library tool's writer, with a stored-block container),
// user files, and a simulated machine holding a library folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "common/md5.h"
#include "common/userlib.h"
#include "platform/nt/stand_in.h"
#include "scanner/codec/codec.h"
#include "scanner/library/format.h"
#include "scanner/library/library.h"
#include "scanner/library/library_internal.h"
#include "tests/support/machine_fixture.h"
#include "tools/tarnlib/base_writer.h"
#include "tools/tarnlib/crc_forge.h"

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

// x86 code: mov eax, value; ret 8 (a stdcall routine answering `value`).
inline Bytes Answer(uint32_t value) {
  Bytes b = {0xB8};
  Put32(b, value);
  b.insert(b.end(), {0xC2, 0x08, 0x00});
  return b;
}

inline std::string EntryNameOf(const std::string& prefix, bool repair) {
  char buf[16];
  snprintf(buf, sizeof buf, ".%08x", Crc(prefix + (repair ? libfmt::kRepairSuffix : libfmt::kCheckSuffix)));
  return buf;
}

// An object with one routine whose entries answer check/repair (0 = none).
inline Bytes RoutineObject(const std::string& prefix, uint32_t check, uint32_t repair) {
  CoffDesc d;
  CoffSectionDesc text;
  if (check) text.data = Answer(check);
  uint32_t repairAt = (uint32_t)text.data.size();
  if (repair) {
    Bytes r = Answer(repair);
    text.data.insert(text.data.end(), r.begin(), r.end());
  }
  d.sections.push_back(text);
  d.symbols.push_back({".text", 0, 1, 0, 3, 0});
  if (check) d.symbols.push_back({EntryNameOf(prefix, false), 0, 1, 0x20, 2, 0});
  if (repair) d.symbols.push_back({EntryNameOf(prefix, true), repairAt, 1, 0x20, 2, 0});
  return BuildCoff(d);
}

// --- Records --------------------------------------------------------------

inline void ChecksumRecord(Bytes& t, uint8_t unit, uint16_t offset, const std::string& bytes) {
  t.push_back(unit);
  Put16(t, offset);
  t.push_back((uint8_t)bytes.size());
  Put32(t, Crc(bytes));
}

inline void MultiRecord(Bytes& t, uint8_t unit, const std::vector<std::pair<uint16_t, std::string>>& checks,
                        uint32_t routine, uint8_t param0 = 0) {
  t.push_back(unit);
  t.push_back((uint8_t)checks.size());
  for (const auto& c : checks) {
    Put16(t, c.first);
    t.push_back((uint8_t)c.second.size());
    Put32(t, Crc(c.second));
  }
  Bytes params(11, 0);
  params[0] = param0;
  t.insert(t.end(), params.begin(), params.end());
  Put32(t, routine);
}

// --- Containers and packers -------------------------------------------------

// The packed section container with stored DEFLATE blocks.
inline Bytes StoredContainer(const Bytes& data) {
  Bytes out = {0x1F, 0x8B, 0x08};
  size_t pos = 0;
  do {
    size_t n = std::min<size_t>(65535, data.size() - pos);
    bool last = pos + n == data.size();
    out.push_back(last ? 1 : 0);
    Put16(out, (uint16_t)n);
    Put16(out, (uint16_t)~n);
    out.insert(out.end(), data.begin() + pos, data.begin() + pos + n);
    pos += n;
  } while (pos < data.size());
  Put32(out, Crc32(data.data(), (uint32_t)data.size()));
  Put32(out, (uint32_t)data.size());
  return out;
}

inline void* TestAlloc(void*, uint32_t n) { return malloc(n); }
inline void TestFree(void*, void* p) { free(p); }

inline Bytes PackLzss(const std::string& text) {
  static const CodecAllocator a = {TestAlloc, TestFree, nullptr};
  Bytes out(text.size() + text.size() / 8 + 16);
  uint32_t n = LzssEncode(&a, (const uint8_t*)text.data(), (uint32_t)text.size(), out.data(), (uint32_t)out.size());
  out.resize(n);
  return out;
}

inline BasePackers TestPackers() {
  BasePackers p;
  p.packSection = StoredContainer;
  p.packText = PackLzss;
  return p;
}

inline Bytes WriteBase(const BaseFileSpec& spec) {
  Bytes out;
  std::string err;
  EXPECT_TRUE(WriteBaseFile(spec, TestPackers(), &out, &err)) << err;
  return out;
}

// Section helpers.
inline void AddObject(BaseSectionSpec& s, const Bytes& image, const std::string& prefix = "") {
  s.objects.push_back({image, prefix});
  s.routineNames += prefix + "\n";
}
inline void AddChecksum(BaseSectionSpec& s, uint8_t unit, uint16_t offset, const std::string& bytes,
                        const std::string& name) {
  ChecksumRecord(s.table, unit, offset, bytes);
  s.recordCount++;
  s.virusNames += name + "\n";
}
inline void AddMulti(BaseSectionSpec& s, uint8_t unit, const std::vector<std::pair<uint16_t, std::string>>& checks,
                     uint32_t routine, const std::string& name) {
  MultiRecord(s.table, unit, checks, routine);
  s.recordCount++;
  s.virusNames += name + "\n";
}

// A file with one checksum record named `name`.
inline BaseFileSpec NamedFile(const std::string& name) {
  BaseFileSpec f;
  f.key1 = 0x21;
  f.key2 = 0x43;
  AddChecksum(f.sections[1], 1, 0, "abc", name);
  return f;
}

// --- User files ---------------------------------------------------------

struct UserEntry {
  std::string date;
  uint32_t size;
  std::string content;  // digested with MD5
  std::string path;
};

Bytes WriteUser(const std::vector<UserEntry>& entries);

// --- A machine with a library folder and a loaded library -------------------

class LibraryMachine {
 public:
  LibraryMachine();
  ~LibraryMachine();
  // Writes <library folder>/name.
  void Put(const std::string& name, const Bytes& bytes);
  void PutBase(uint32_t index, const Bytes& bytes);
  void PutUser(uint32_t index, const Bytes& bytes);
  std::string HostFolder() const { return host_; }
  const char* Folder() const { return "C:\\Lib\\"; }
  RuntimeContext* Ctx() { return &ctx_; }
  // A fresh library loaded in `mode` (the previous one is released).
  VirusLibrary* Load(uint32_t mode, int* result = nullptr);
  VirusLibrary* Lib() { return lib_; }
  std::string Name(uint32_t kind, uint32_t index);
  std::vector<std::string> Names(uint32_t kind);  // all names of a kind's list, by record count

 private:
  twtest::MachineFixture machine_;
  std::string host_;
  RuntimeContext ctx_;
  VirusLibrary* lib_ = nullptr;
};

// Records of a table as byte strings.
std::vector<Bytes> MultiRecords(const uint8_t* table, uint32_t count);

}  // namespace libtest
