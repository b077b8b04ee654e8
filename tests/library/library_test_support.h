// Builders for library tests (beside the framework-free ones in
// library_builders.h): base files (through the library tool's writer, with a
// stored-block container), user files, a simulated machine holding a library
// folder, and guarded calls of linked routines.
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
#include "tests/library/library_builders.h"
#include "tests/support/machine_fixture.h"
#include "tools/tarnlib/base_writer.h"
#include "tools/tarnlib/crc_forge.h"

namespace libtest {

// x86 code: mov eax, value; ret 8 (a stdcall routine answering `value`).
inline Bytes Answer(uint32_t value) {
  Bytes b = {0xB8};
  Put32(b, value);
  b.insert(b.end(), {0xC2, 0x08, 0x00});
  return b;
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
  // registry: text of the machine's registry file ("" for none).
  explicit LibraryMachine(const std::string& registry = "");
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

// --- Calls of linked routines ----------------------------------------------

// What GuardedCall answers by default for a call that did not return.
const uint32_t kNoAnswer = 0xDEADBEEF;

// Calls routine entry `entry` with scan record `obj` inside the fault guard:
// the routine's answer, or `noAnswer` when a fault or the watchdog ended it
// (*ok, when given, is 1 when it returned normally, 0 otherwise).
uint32_t GuardedCall(uint32_t entry, void* obj, int* ok = nullptr, uint32_t noAnswer = kNoAnswer);

}  // namespace libtest
