// Generates the library of the loader benchmark (64-bit, through the library
// tool's own file writer):
//   150 base files with, over all of them, 200,000 checksum records,
//   20,000 multi-check records, 1,000 packer records, their virus names and
//   4,000 routine objects (100 section-0 helpers, 3,600 section-2 routines,
//   300 section-3 packer routines), and one user file of 10,000 records.
//   bench-library-make OUTDIR
// The same seed makes the same files.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "common/userlib.h"
#include "scanner/codec/codec.h"
#include "scanner/library/format.h"
#include "tests/library/library_builders.h"
#include "tools/tarnlib/base_writer.h"
#include "tools/tarnlib/crc_forge.h"
#include "tools/tarnlib/section_pack.h"

namespace {

using libtest::Bytes;
using libtest::CoffReloc;
using libtest::CoffSymbolDesc;
using libtest::EntryNameOf;
using libtest::Put16;
using libtest::Put32;

const uint32_t kFiles = 150;
const uint32_t kChecksumRecords = 200000;
const uint32_t kMultiRecords = 20000;
const uint32_t kPackerRecords = 1000;
const uint32_t kHelpers = 100;
const uint32_t kRoutines = 3600;
const uint32_t kPackerRoutines = 300;
const uint32_t kUserRecords = 10000;

uint64_t g_state = 0x9E3779B97F4A7C15ull;
uint32_t Next() {
  g_state ^= g_state << 13;
  g_state ^= g_state >> 7;
  g_state ^= g_state << 17;
  return (uint32_t)(g_state >> 16);
}
uint32_t Below(uint32_t n) { return Next() % n; }

// First and last+1 item of file f when n items are spread over the files.
uint32_t Share(uint32_t n, uint32_t f) { return (uint32_t)((uint64_t)n * f / kFiles); }

// A 32-bit COFF object: .text (with relocations) and .data, through the
// library tests' object builder.
Bytes Coff(const Bytes& text, const std::vector<CoffReloc>& relocs, const Bytes& data,
           const std::vector<CoffSymbolDesc>& syms) {
  libtest::CoffDesc d;
  d.machine = libfmt::kMachineI386;
  d.sections.resize(2);
  d.sections[0].data = text;
  d.sections[0].relocs = relocs;
  d.sections[0].characteristics = 0x60500020;
  d.sections[1].name = ".data";
  d.sections[1].data = data;
  d.sections[1].characteristics = 0xC0300040;
  d.symbols = syms;
  return libtest::BuildCoff(d);
}

std::string HelperName(uint32_t h) { return "?Helper" + std::to_string(h) + "@@YGIXZ"; }

// A section-0 helper: mov eax, h; ret.
Bytes HelperObject(uint32_t h) {
  Bytes text = {0xB8};
  Put32(text, h);
  text.push_back(0xC3);
  return Coff(text, {}, Bytes(16, (uint8_t)h),
              {{".text", 0, 1, 0, 3}, {".data", 0, 2, 0, 3}, {HelperName(h), 0, 1, 0x20, 2}});
}

// A routine: check entry calls a helper and reads its .data word; repair
// entry calls the host service TwNop and answers 8.
Bytes RoutineObject(const std::string& prefix, uint32_t helper, const std::string& nop) {
  Bytes text = {0xE8, 0, 0, 0, 0,            // call helper (REL32)
                0xA1, 0, 0, 0, 0,            // mov eax, [.data] (DIR32)
                0xB8, 6, 0, 0, 0,            // mov eax, 6
                0xC2, 0x08, 0x00,            // ret 8
                0xE8, 0, 0, 0, 0,            // call TwNop (REL32)
                0xB8, 8, 0, 0, 0, 0xC2, 0x08, 0x00};
  std::vector<CoffSymbolDesc> syms = {{".text", 0, 1, 0, 3},
                                      {".data", 0, 2, 0, 3},
                                      {EntryNameOf(prefix, false), 0, 1, 0x20, 2},
                                      {EntryNameOf(prefix, true), 18, 1, 0x20, 2},
                                      {HelperName(helper), 0, 0, 0x20, 2},
                                      {nop, 0, 0, 0x20, 2}};
  return Coff(text, {{1, 4, 20}, {6, 1, 6}, {19, 5, 20}}, Bytes(16, 0x11), syms);
}

std::string VirusName(const char* family, uint32_t i) {
  static const char* const kKinds[] = {"Win32.Virus", "Trojan.Agent", "Worm.AutoRun", "Backdoor.Bot", "Packed.Gen"};
  return std::string(kKinds[i % 5]) + "." + family + "." + std::to_string(i) + (i % 3 ? ".a" : ".b");
}

void MultiRecord(Bytes& t, uint32_t checks, uint32_t routine) {
  t.push_back((uint8_t)(1 + Below(4)));
  t.push_back((uint8_t)checks);
  for (uint32_t c = 0; c < checks; ++c) {
    Put16(t, (uint16_t)Below(4096));
    t.push_back((uint8_t)(4 + Below(60)));
    Put32(t, Next());
  }
  for (int i = 0; i < 11; ++i) t.push_back((uint8_t)Next());
  Put32(t, routine);
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write((const char*)bytes.data(), (std::streamsize)bytes.size());
  return (bool)f;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: bench-library-make OUTDIR\n");
    return 2;
  }
  std::string dir = argv[1];
  BasePackers packers;
  packers.packSection = [](const Bytes& d) { return PackSection(d.data(), d.size()); };
  packers.packText = libtest::PackLzss;
  const std::string nop = ForgeName("_TwNop@4", libfmt::kHostServiceKeys[8]);
  uint32_t routine = 0, packerRoutine = 0;
  // `count` routine objects named kind + running number, each calling a
  // helper of file `f` or an earlier one; answers `count`.
  auto addRoutines = [&nop](BaseSectionSpec& s, uint32_t count, const char* kind, uint32_t* number, uint32_t f) {
    for (uint32_t j = 0; j < count; ++j, ++*number) {
      std::string prefix = kind + std::to_string(*number);
      s.objects.push_back({RoutineObject(prefix, Below(f < kHelpers ? f + 1 : kHelpers), nop), prefix});
      s.routineNames += prefix + "\n";
    }
    return count;
  };
  for (uint32_t f = 0; f < kFiles; ++f) {
    BaseFileSpec spec;
    spec.key1 = (uint8_t)Next();
    spec.key2 = (uint8_t)Next();
    spec.producer = "Tarnwell benchmark library\r\n";
    // Helpers in the first 100 files; routines call helpers of earlier files.
    if (f < kHelpers) {
      spec.sections[0].objects.push_back({HelperObject(f), ""});
      spec.sections[0].routineNames += "\n";
    }
    BaseSectionSpec& s1 = spec.sections[1];
    for (uint32_t i = Share(kChecksumRecords, f); i < Share(kChecksumRecords, f + 1); ++i) {
      s1.table.push_back((uint8_t)(1 + Below(4)));
      Put16(s1.table, (uint16_t)Below(8192));
      s1.table.push_back((uint8_t)(8 + Below(56)));
      Put32(s1.table, Next());
      s1.recordCount++;
      s1.virusNames += VirusName("Sum", i) + "\n";
    }
    BaseSectionSpec& s2 = spec.sections[2];
    uint32_t objects2 = addRoutines(s2, Share(kRoutines, f + 1) - Share(kRoutines, f), "?Routine", &routine, f);
    for (uint32_t i = Share(kMultiRecords, f); i < Share(kMultiRecords, f + 1); ++i) {
      MultiRecord(s2.table, 1 + Below(4), Below(10) == 0 || objects2 == 0 ? libfmt::kNoRoutine : Below(objects2));
      s2.recordCount++;
      s2.virusNames += VirusName("Multi", i) + "\n";
    }
    BaseSectionSpec& s3 = spec.sections[3];
    uint32_t objects3 =
        addRoutines(s3, Share(kPackerRoutines, f + 1) - Share(kPackerRoutines, f), "?Packer", &packerRoutine, f);
    for (uint32_t i = Share(kPackerRecords, f); i < Share(kPackerRecords, f + 1); ++i) {
      MultiRecord(s3.table, 1 + Below(2), objects3 == 0 ? libfmt::kNoRoutine : Below(objects3));
      s3.recordCount++;
      s3.virusNames += VirusName("Packer", i) + "\n";
    }
    Bytes out;
    std::string error;
    if (!WriteBaseFile(spec, packers, &out, &error)) {
      fprintf(stderr, "file %u: %s\n", f, error.c_str());
      return 1;
    }
    char name[32];
    snprintf(name, sizeof name, "/Base%03u.dat", f);
    if (!WriteFile(dir + name, out)) return 1;
  }

  std::vector<UserRecord> records(kUserRecords);
  std::vector<std::string> paths(kUserRecords);
  std::vector<const char*> pathPointers(kUserRecords);
  std::vector<uint32_t> pathLengths(kUserRecords);
  uint32_t pathBytes = 0;
  for (uint32_t i = 0; i < kUserRecords; ++i) {
    char date[16];
    snprintf(date, sizeof date, "2026-%02u-%02u", 1 + i % 12, 1 + i % 28);
    memcpy(records[i].date, date, 10);
    records[i].size = 1000 + Below(1 << 20);
    for (uint8_t& b : records[i].digest) b = (uint8_t)Next();
    paths[i] = "F:\\samples\\folder" + std::to_string(i % 50) + "\\sample" + std::to_string(i) + ".exe";
    pathPointers[i] = paths[i].c_str();
    pathLengths[i] = (uint32_t)paths[i].size();
    pathBytes += pathLengths[i];
  }
  uint32_t payloadSize = UserPayloadSize(kUserRecords, pathBytes);
  Bytes payload(payloadSize);
  uint32_t length = 0;
  if (UserPayloadBuild(payload.data(), payloadSize, records.data(), pathPointers.data(), pathLengths.data(),
                       kUserRecords, &length) != kUfOk)
    return 1;
  Bytes file(UserFileMaxSize(length));
  std::vector<void*> work(UserFileWorkSize() / sizeof(void*) + 1);
  uint32_t fileLength = 0;
  if (UserFileBuild(payload.data(), length, "User000.dat", "2026-12-07", work.data(), file.data(),
                    (uint32_t)file.size(), &fileLength) != kUfOk)
    return 1;
  file.resize(fileLength);
  return WriteFile(dir + "/User000.dat", file) ? 0 : 1;
}
