// Base and user library files: which files a mode opens, the conditions
// that fail a pass, files of the wrong kind, damaged sections, tables and
// virus names.
#include <lzo/lzo1x.h>
#include <sys/stat.h>

#include "tests/library/library_test_support.h"

namespace libtest {
namespace {

// One file per index, each with one checksum record named after the index.
void PutNamedFiles(LibraryMachine& m, const std::vector<uint32_t>& indexes) {
  for (uint32_t i : indexes) m.PutBase(i, WriteBase(NamedFile("File" + std::to_string(i))));
}

std::vector<std::string> LoadedNames(LibraryMachine& m, uint32_t mode, int* result = nullptr) {
  m.Load(mode, result);
  return m.Names(1);
}

using Names = std::vector<std::string>;

TEST(LibraryModes, EachModeOpensItsIndexes) {
  LibraryMachine m;
  PutNamedFiles(m, {0, 5, 10, 16, 17, 40, 41, 149});
  EXPECT_EQ(LoadedNames(m, 0), (Names{"File0", "File5", "File10", "File16", "File17", "File40", "File41", "File149"}));
  EXPECT_EQ(LoadedNames(m, 1), (Names{"File0", "File17", "File40", "File41"}));
  EXPECT_EQ(LoadedNames(m, 2), (Names{"File10", "File16"}));
  int result = -1;
  EXPECT_EQ(LoadedNames(m, 3, &result), Names{});
  EXPECT_EQ(result, 0) << "no base file tried, no user file: the load fails";
  EXPECT_EQ(LoadedNames(m, 0xFFFFFFFFu, &result), Names{});
}

TEST(LibraryModes, IndexZeroMissingFailsTheBasePassWhereItIsSelected) {
  LibraryMachine m;
  PutNamedFiles(m, {1, 12, 17});
  int result = -1;
  EXPECT_EQ(LoadedNames(m, 0, &result), Names{});
  EXPECT_EQ(result, 0);
  EXPECT_EQ(LoadedNames(m, 1, &result), Names{}) << "17 exists, but index 0 is missing";
  EXPECT_EQ(result, 0);
  // Mode 2 never opens index 0.
  EXPECT_EQ(LoadedNames(m, 2, &result), Names{"File12"});
  EXPECT_EQ(result, 1);
  // The user pass still runs, and its success makes the load succeed.
  m.PutUser(3, WriteUser({{"2026-12-01", 5, "hello", "F:\\a.exe"}}));
  m.Load(0, &result);
  EXPECT_EQ(result, 1);
  LibraryTables t;
  GetLibraryTables(m.Lib(), &t);
  EXPECT_EQ(t.checksumCount, 0u);
  EXPECT_EQ(t.userCount, 1u);
}

TEST(LibraryModes, GapsAreSkipped) {
  LibraryMachine m;
  PutNamedFiles(m, {0, 1, 3});
  EXPECT_EQ(LoadedNames(m, 0), (Names{"File0", "File1", "File3"}));
}

TEST(LibraryModes, TheLastFileReadBeingEmptyFailsThePass) {
  LibraryMachine m;
  PutNamedFiles(m, {0, 2});
  m.PutBase(7, {});
  int result = -1;
  EXPECT_EQ(LoadedNames(m, 0, &result), Names{});
  EXPECT_EQ(result, 0);
  // An empty file that is not the last one is harmless.
  PutNamedFiles(m, {9});
  EXPECT_EQ(LoadedNames(m, 0, &result), (Names{"File0", "File2", "File9"}));
  EXPECT_EQ(result, 1);
}

TEST(LibraryFiles, FilesOfTheWrongKindAreIgnored) {
  LibraryMachine m;
  PutNamedFiles(m, {0});
  BaseFileSpec odd = NamedFile("Odd");
  odd.kind = 1;
  m.PutBase(1, WriteBase(odd));
  // A user file whose kind is 0 is read but contributes nothing.
  Bytes user = WriteUser({{"2026-12-01", 5, "hello", "F:\\a.exe"}});
  Set32(user, 188, 0);
  m.PutUser(0, user);
  m.PutUser(1, WriteUser({{"2026-12-02", 6, "hello!", "F:\\b.exe"}}));
  int result = -1;
  EXPECT_EQ(LoadedNames(m, 0, &result), Names{"File0"});
  LibraryTables t;
  GetLibraryTables(m.Lib(), &t);
  ASSERT_EQ(t.userCount, 1u);
  EXPECT_EQ(memcmp(t.userDigests, "2026-12-02", 10), 0);
  EXPECT_EQ(Get32(Bytes(t.userDigests + 10, t.userDigests + 14), 0), 6u);
}

TEST(LibraryFiles, ASectionOneByteShortIsSkippedWhole) {
  LibraryMachine m;
  BaseFileSpec f;
  f.key1 = 3;
  f.key2 = 250;
  AddChecksum(f.sections[1], 1, 0, "x", "Checksum.Kept");
  AddObject(f.sections[2], RoutineObject("?Short", 6, 8), "?Short");
  AddMulti(f.sections[2], 1, {{0, "MZ"}}, 0, "Multi.Dropped");
  Bytes bytes = WriteBase(f);
  // Claim one byte more than the section decodes to.
  size_t dir = libfmt::kSectionDir + libfmt::kSectionDirEntry * 2;
  Set32(bytes, dir + 4, Get32(bytes, dir + 4) + 1);
  m.PutBase(0, bytes);
  m.Load(0);
  LibraryTables t;
  GetLibraryTables(m.Lib(), &t);
  EXPECT_EQ(t.checksumCount, 1u);
  EXPECT_EQ(t.multiCount, 0u);
  EXPECT_EQ(m.Name(2, 0), "Virus.Unknown");
  EXPECT_EQ(RoutineEntry(m.Lib(), 0, 0), 0u) << "the section's object is absent too";
  EXPECT_EQ(m.Name(1, 0), "Checksum.Kept");
}

TEST(LibraryFiles, TablesOfAllFilesAreConcatenatedInLoadOrder) {
  LibraryMachine m;
  BaseFileSpec a, b;
  a.key1 = 1;
  b.key1 = 200;
  b.key2 = 100;  // file key 44, wrapping
  AddChecksum(a.sections[1], 1, 0, "aa", "A.1");
  AddChecksum(a.sections[1], 2, 5, "bbb", "A.2");
  AddMulti(a.sections[2], 3, {{0, "MZ"}, {60, "PE"}}, libfmt::kNoRoutine, "A.Multi");
  AddMulti(a.sections[3], 4, {{2, "UPX"}}, libfmt::kNoRoutine, "A.Packer");
  AddChecksum(b.sections[1], 1, 7, "cc", "B.1");
  AddMulti(b.sections[2], 5, {}, libfmt::kNoRoutine, "B.Multi");
  m.PutBase(0, WriteBase(a));
  m.PutBase(4, WriteBase(b));
  m.Load(0);
  LibraryTables t;
  GetLibraryTables(m.Lib(), &t);
  ASSERT_EQ(t.checksumCount, 3u);
  Bytes expected;
  ChecksumRecord(expected, 1, 0, "aa");
  ChecksumRecord(expected, 2, 5, "bbb");
  ChecksumRecord(expected, 1, 7, "cc");
  EXPECT_EQ(Bytes(t.checksum, t.checksum + 24), expected);
  ASSERT_EQ(t.multiCount, 2u);
  Bytes multi;
  MultiRecord(multi, 3, {{0, "MZ"}, {60, "PE"}}, libfmt::kNoRoutine);
  MultiRecord(multi, 5, {}, libfmt::kNoRoutine);
  EXPECT_EQ(Bytes(t.multi, t.multi + t.multiBytes), multi);
  ASSERT_EQ(t.packerCount, 1u);
  EXPECT_EQ(m.Names(1), (Names{"A.1", "A.2", "B.1"}));
  EXPECT_EQ(m.Names(2), (Names{"A.Multi", "B.Multi"}));
  EXPECT_EQ(m.Names(3), (Names{"A.Packer"}));
}

TEST(VirusNames, FixedKindsUnknownIndexesAndLongNames) {
  LibraryMachine m;
  BaseFileSpec f;
  std::string longName(400, 'L');
  longName[0] = 'V';
  AddChecksum(f.sections[1], 1, 0, "a", "First");
  AddChecksum(f.sections[1], 1, 0, "b", "");
  AddChecksum(f.sections[1], 1, 0, "c", longName);
  AddMulti(f.sections[2], 1, {{0, "q"}}, libfmt::kNoRoutine, "OnlyMulti");
  m.PutBase(0, WriteBase(f));
  m.Load(0);
  EXPECT_EQ(m.Name(1, 0), "First");
  EXPECT_EQ(m.Name(1, 1), "Virus.Unknown") << "an empty name";
  EXPECT_EQ(m.Name(1, 2), longName.substr(0, 255));
  EXPECT_EQ(m.Name(1, 3), "Virus.Unknown") << "past the last line";
  EXPECT_EQ(m.Name(2, 0), "OnlyMulti") << "the last line of kind 2";
  EXPECT_EQ(m.Name(2, 1), "Virus.Unknown");
  EXPECT_EQ(m.Name(3, 0), "Virus.Unknown") << "no packer names at all";
  EXPECT_EQ(m.Name(20, 0), "Virus.User");
  EXPECT_EQ(m.Name(20, 12345), "Virus.User");
  EXPECT_EQ(m.Name(21, 7), "Virus.USB.Heur");
  EXPECT_EQ(m.Name(0, 0), "Virus.Unknown");
  EXPECT_EQ(m.Name(4, 0), "Virus.Unknown");
}

TEST(VirusNames, NamesStayAlignedWhenASectionHasTooFewOrTooManyLines) {
  LibraryMachine m;
  BaseFileSpec a, b;
  AddChecksum(a.sections[1], 1, 0, "a", "A.1");
  AddChecksum(a.sections[1], 1, 0, "b", "A.2");
  a.sections[1].virusNames = "A.1";  // one name, no LF, for two records
  AddChecksum(b.sections[1], 1, 0, "c", "B.1");
  b.sections[1].virusNames = "B.1\nB.extra\nB.more\n";
  BaseFileSpec c;
  AddChecksum(c.sections[1], 1, 0, "d", "C.1");
  m.PutBase(0, WriteBase(a));
  m.PutBase(1, WriteBase(b));
  m.PutBase(2, WriteBase(c));
  m.Load(0);
  EXPECT_EQ(m.Names(1), (Names{"A.1", "Virus.Unknown", "B.1", "C.1"}));
}

TEST(VirusNames, EveryRecordOfManyFilesFindsItsOwnName) {
  // Files with 0 to 4 records per kind, one of them with a damaged section 2
  // (its records and names are absent): every record's name is found by its
  // index in the concatenated tables, at every file boundary.
  LibraryMachine m;
  Names expected[3];
  for (uint32_t i = 0; i < 9; ++i) {
    BaseFileSpec f;
    f.key1 = (uint8_t)(17 * i);
    for (uint32_t k = 1; k <= 3; ++k) {
      for (uint32_t r = 0; r < (i * k + 1) % 5; ++r) {
        std::string name = "F" + std::to_string(i) + ".K" + std::to_string(k) + ".R" + std::to_string(r);
        if (k == 1) AddChecksum(f.sections[1], 1, (uint16_t)r, name, name);
        if (k >= 2) AddMulti(f.sections[k], 1, {{(uint16_t)r, name}}, libfmt::kNoRoutine, name);
        if (!(i == 4 && k == 2)) expected[k - 1].push_back(name);
      }
    }
    Bytes bytes = WriteBase(f);
    if (i == 4) {
      size_t dir = libfmt::kSectionDir + libfmt::kSectionDirEntry * 2;
      ASSERT_NE(Get32(bytes, dir + 8), 0u);
      Set32(bytes, dir + 4, Get32(bytes, dir + 4) - 1);
    }
    m.PutBase(i, bytes);
  }
  m.Load(0);
  for (uint32_t k = 1; k <= 3; ++k) {
    EXPECT_EQ(m.Names(k), expected[k - 1]) << k;
    EXPECT_EQ(m.Name(k, (uint32_t)expected[k - 1].size()), "Virus.Unknown") << k;
    EXPECT_EQ(m.Name(k, 0xFFFFFFFFu), "Virus.Unknown") << k;
  }
}

TEST(UserFiles, RecordsOfAllUserFilesInOrder) {
  LibraryMachine m;
  m.PutUser(0, WriteUser({{"2026-01-01", 3, "abc", "C:\\x"}, {"2026-01-02", 4, "abcd", "C:\\y"}}));
  m.PutUser(2, WriteUser({{"2026-01-03", 1, "z", "D:\\z"}}));
  int result = -1;
  m.Load(0, &result);
  EXPECT_EQ(result, 1) << "the user pass alone loads the library";
  LibraryTables t;
  GetLibraryTables(m.Lib(), &t);
  ASSERT_EQ(t.userCount, 3u);
  uint8_t md5[16];
  Md5Digest("z", 1, md5);
  const uint8_t* third = t.userDigests + 60;
  EXPECT_EQ(memcmp(third, "2026-01-03", 10), 0);
  EXPECT_EQ(third[10], 1);
  EXPECT_EQ(memcmp(third + 14, md5, 16), 0);
}

TEST(UserFiles, ZeroLowByteOfTheRecordsSizeUsesTheFallbackKey) {
  LibraryMachine m;
  // 128 records: 3840 bytes, low byte 0.
  std::vector<UserEntry> entries;
  for (int i = 0; i < 128; ++i) entries.push_back({"2026-02-02", (uint32_t)i + 1, std::string(i + 1, 'q'), "P"});
  Bytes file = WriteUser(entries);
  EXPECT_EQ(Get32(file, 192), 3840u);
  m.PutUser(0, file);
  m.Load(0);
  LibraryTables t;
  GetLibraryTables(m.Lib(), &t);
  ASSERT_EQ(t.userCount, 128u);
  for (uint32_t i = 0; i < 128; ++i) {
    const uint8_t* r = t.userDigests + 30 * i;
    ASSERT_EQ(memcmp(r, "2026-02-02", 10), 0) << i;
    ASSERT_EQ(Get32(Bytes(r + 10, r + 14), 0), i + 1) << i;
  }
}

TEST(UserFiles, NoRecordsAtAllStillLoadsTheUserPass) {
  // No base files: the load stands on the user pass, whose records total is
  // 0, so its list stays empty but the pass counts as loaded.
  LibraryMachine m;
  m.PutUser(0, WriteUser({}));
  int result = -1;
  m.Load(0, &result);
  EXPECT_EQ(result, 1);
  LibraryTables t;
  GetLibraryTables(m.Lib(), &t);
  EXPECT_EQ(t.userCount, 0u);
}

TEST(UserFiles, TheLastUserFileEmptyFailsTheUserPass) {
  LibraryMachine m;
  m.PutUser(0, WriteUser({{"2026-01-01", 3, "abc", "C:\\x"}}));
  m.PutUser(1, {});
  int result = -1;
  m.Load(0, &result);
  EXPECT_EQ(result, 0);
}


// --- Files put together byte by byte from the format description, without
// the library tool's writer or the shared user file writer: the loader must
// read what the format says, not merely what our own writers write.

void Xor(Bytes& b, uint8_t key) {
  for (uint8_t& c : b) c ^= key;
}

struct HandSection {
  Bytes table;  // plain records
  uint32_t records = 0;
  Bytes objects;  // plain object part: {u32 size, image}...
  uint32_t objectCount = 0;
  std::string routineText, virusText;
};

// Decoded section k: a part directory whose other records and unread fields
// hold junk, and the parts in the reverse of the usual order.
Bytes HandDecodedSection(const HandSection& s, uint32_t k, uint8_t fileKey) {
  uint8_t tableKey = !s.routineText.empty() ? (uint8_t)s.routineText[0] : (uint8_t)s.virusText.at(0);
  Bytes table = s.table, objects = s.objects;
  Xor(table, tableKey);
  Xor(objects, tableKey);
  uint8_t textKey = !objects.empty() ? objects[0] : !table.empty() ? table[0] : fileKey;
  Bytes routine = s.routineText.empty() ? Bytes() : PackLzss(s.routineText);
  Bytes virus = s.virusText.empty() ? Bytes() : PackLzss(s.virusText);
  Xor(routine, textKey);
  Xor(virus, textKey);
  Bytes out(4 * 53, 0xEE);
  size_t rec = 53 * k;
  out[rec] = 0x99;
  Set32(out, rec + 1, 0x12345678);
  auto place = [&](const Bytes& part, size_t offsetField, size_t sizeField, size_t packedField, uint32_t size) {
    Set32(out, rec + offsetField, part.empty() ? 0xFFFFFF00u : (uint32_t)out.size());
    Set32(out, rec + sizeField, size);
    if (packedField) Set32(out, rec + packedField, (uint32_t)part.size());
    out.insert(out.end(), part.begin(), part.end());
  };
  place(virus, 41, 45, 49, (uint32_t)s.virusText.size());
  place(routine, 29, 33, 37, (uint32_t)s.routineText.size());
  place(objects, 17, 25, 0, (uint32_t)objects.size());
  Set32(out, rec + 21, s.objectCount);
  place(table, 5, 13, 0, (uint32_t)table.size());
  Set32(out, rec + 9, s.records);
  return out;
}

// A base file with sections 1 and 2 (section 2 stored first in the file).
Bytes HandBaseFile(const HandSection& s1, const HandSection& s2, uint8_t key1, uint8_t key2) {
  Bytes f(300, 0x5A);
  f[176] = key1;
  f[177] = 0x77;
  f[178] = key2;
  uint8_t fileKey = (uint8_t)(key1 + key2);
  Set32(f, 188, 0);
  Set32(f, 192, 4096);  // code bytes: room enough
  Set32(f, 196, (uint32_t)s2.routineText.size());
  Set32(f, 200, (uint32_t)(s1.virusText.size() + s2.virusText.size()));
  Set32(f, 204, (uint32_t)s1.table.size());
  Set32(f, 208, (uint32_t)s2.table.size());
  Set32(f, 212, 0);
  Set32(f, 216, 0);
  Set32(f, 220, 0);
  Set32(f, 224, (uint32_t)s1.virusText.size());
  Set32(f, 228, (uint32_t)s2.routineText.size());
  Set32(f, 232, s2.objectCount);
  Set32(f, 236, (uint32_t)s2.virusText.size());
  Set32(f, 240, 0);
  Set32(f, 244, 0);
  Set32(f, 248, 0);
  for (uint32_t k = 0; k < 4; ++k) {
    Set32(f, 252 + 12 * k, 0);
    Set32(f, 256 + 12 * k, 0);
    Set32(f, 260 + 12 * k, 0);
  }
  for (uint32_t k : {2u, 1u}) {
    Bytes decoded = HandDecodedSection(k == 1 ? s1 : s2, k, fileKey);
    Bytes packed = StoredContainer(decoded);
    Xor(packed, fileKey);
    Set32(f, 252 + 12 * k, (uint32_t)f.size());
    Set32(f, 256 + 12 * k, (uint32_t)decoded.size());
    Set32(f, 260 + 12 * k, (uint32_t)packed.size());
    f.insert(f.end(), packed.begin(), packed.end());
  }
  return f;
}

TEST(HandMadeFiles, BaseFileReadAsTheFormatSays) {
  HandSection s1;
  ChecksumRecord(s1.table, 7, 0x0102, "xyz");
  ChecksumRecord(s1.table, 9, 3, "pq");
  s1.records = 2;
  s1.virusText = "Hand.One\nHand.Two\n";
  HandSection s2;
  MultiRecord(s2.table, 1, {{0, "MZ"}}, 1, 0x44);
  MultiRecord(s2.table, 2, {}, libfmt::kNoRoutine);
  s2.records = 2;
  for (const char* prefix : {"?HandA", "?HandB"}) {
    Bytes image = RoutineObject(prefix, prefix[5] == 'A' ? 6 : 7, 8);
    Put32(s2.objects, (uint32_t)image.size());
    s2.objects.insert(s2.objects.end(), image.begin(), image.end());
    s2.objectCount++;
  }
  s2.routineText = "?HandA\n?HandB\n";
  s2.virusText = "Hand.Multi\nHand.Plain\n";

  LibraryMachine m;
  m.PutBase(0, HandBaseFile(s1, s2, 0x90, 0x85));  // file key 0x15
  int result = -1;
  m.Load(0, &result);
  EXPECT_EQ(result, 1);
  LibraryTables t;
  GetLibraryTables(m.Lib(), &t);
  ASSERT_EQ(t.checksumCount, 2u);
  EXPECT_EQ(Bytes(t.checksum, t.checksum + 16), s1.table);
  EXPECT_EQ(m.Names(1), (Names{"Hand.One", "Hand.Two"}));
  ASSERT_EQ(t.multiCount, 2u);
  ASSERT_EQ(t.multiBytes, (uint32_t)s2.table.size());
  // The first record names the file's second section-2 object: slot 1.
  EXPECT_EQ(Bytes(t.multi, t.multi + t.multiBytes), s2.table);
  EXPECT_EQ(m.Names(2), (Names{"Hand.Multi", "Hand.Plain"}));
  std::vector<uint8_t> object(90680);
  EXPECT_EQ(GuardedCall(RoutineEntry(m.Lib(), 0, 0), object.data()), 6u);
  EXPECT_EQ(GuardedCall(RoutineEntry(m.Lib(), 1, 0), object.data()), 7u);
  EXPECT_EQ(GuardedCall(RoutineEntry(m.Lib(), 1, 1), object.data()), 8u);
}

// A user file: header, LZO1X-1 payload XORed with the low byte of the
// payload size, areas XORed with the low byte of the records area size.
Bytes HandUserFile(const Bytes& records, uint32_t count, const std::string& paths, uint32_t kind = 1) {
  Bytes payload = {20};
  uint32_t payloadSize = (uint32_t)(25 + records.size() + paths.size());
  Put32(payload, payloadSize);
  Put32(payload, 25);
  Put32(payload, count);
  Put32(payload, (uint32_t)records.size());
  Put32(payload, (uint32_t)(25 + records.size()));
  Put32(payload, (uint32_t)paths.size());
  uint8_t areaKey = (uint8_t)records.size();
  if (areaKey == 0) areaKey = kFallbackKeyByte;
  for (uint8_t c : records) payload.push_back(c ^ areaKey);
  for (char c : paths) payload.push_back((uint8_t)c ^ areaKey);
  EXPECT_EQ(lzo_init(), LZO_E_OK);
  Bytes packed(payload.size() + payload.size() / 16 + 67);
  std::vector<uint8_t> work(LZO1X_1_MEM_COMPRESS + 16);
  lzo_uint packedSize = packed.size();
  EXPECT_EQ(lzo1x_1_compress(payload.data(), payload.size(), packed.data(), &packedSize, work.data()), LZO_E_OK);
  packed.resize(packedSize);
  Xor(packed, (uint8_t)payloadSize);
  Bytes f = {0x1D, 0xEA, 0x0D, 0x0A};
  std::string text = "Corvane Scan Labs\r\nVersion: 10.07.19.01\r\n";
  f.insert(f.end(), text.begin(), text.end());
  f.resize(180, 0);
  Put32(f, (uint32_t)(212 + packed.size()));
  Put32(f, 212);
  Put32(f, kind);
  Put32(f, (uint32_t)records.size());
  Put32(f, (uint32_t)paths.size());
  Put32(f, 212);
  Put32(f, payloadSize);
  Put32(f, (uint32_t)packed.size());
  f.insert(f.end(), packed.begin(), packed.end());
  return f;
}

Bytes UserRecordBytes(const std::string& date, uint32_t size, const std::string& content) {
  Bytes r(date.begin(), date.end());
  Put32(r, size);
  uint8_t md5[16];
  Md5Digest(content.data(), (uint32_t)content.size(), md5);
  r.insert(r.end(), md5, md5 + 16);
  return r;
}

TEST(HandMadeFiles, UserFileReadAsTheFormatSays) {
  Bytes records = UserRecordBytes("2026-03-04", 11, "hello world");
  Bytes second = UserRecordBytes("2026-03-05", 2, "hi");
  records.insert(records.end(), second.begin(), second.end());
  LibraryMachine m;
  m.PutUser(0, HandUserFile(records, 2, "F:\\a.exe\nF:\\b\\c.com\n"));
  m.PutUser(1, HandUserFile(UserRecordBytes("2026-03-06", 3, "abc"), 1, "G:\\x\n", 0));  // kind 0
  int result = -1;
  m.Load(0, &result);
  EXPECT_EQ(result, 1);
  LibraryTables t;
  GetLibraryTables(m.Lib(), &t);
  ASSERT_EQ(t.userCount, 2u);
  EXPECT_EQ(Bytes(t.userDigests, t.userDigests + 60), records);

  // 128 records (3840 bytes, low byte 0): the areas use the fallback key.
  Bytes many;
  for (uint32_t i = 0; i < 128; ++i) {
    Bytes r = UserRecordBytes("2026-04-01", i + 1, std::string(i + 1, 'm'));
    many.insert(many.end(), r.begin(), r.end());
  }
  m.PutUser(0, HandUserFile(many, 128, std::string(128, '\n')));
  m.Load(0, &result);
  GetLibraryTables(m.Lib(), &t);
  ASSERT_EQ(t.userCount, 128u);
  EXPECT_EQ(Bytes(t.userDigests, t.userDigests + many.size()), many);
}


TEST(LibraryFiles, PathsOfUpTo1023CharactersAreOpened) {
  // Folder text + "Base000.dat": 1023 characters load, 1024 do not.
  LibraryMachine m;
  for (size_t total : {1023u, 1024u}) {
    SCOPED_TRACE(total);
    std::string folder = m.Folder();  // "C:\Lib\"
    std::string host = m.HostFolder();
    std::string last = std::to_string(total);
    size_t want = total - 11 - folder.size() - last.size() - 1;
    while (want > 0) {
      size_t n = std::min<size_t>(want, 200);  // a folder name and its backslash
      if (want - n == 1) n -= 1;               // leave no 1-character rest
      std::string seg(n - 1, 'd');
      folder += seg + "\\";
      host += "/" + seg;
      mkdir(host.c_str(), 0777);
      want -= n;
    }
    folder += last + "\\";
    host += "/" + last;
    mkdir(host.c_str(), 0777);
    ASSERT_EQ(folder.size() + 11, total);
    Bytes base = WriteBase(NamedFile("Deep"));
    FILE* f = fopen((host + "/Base000.dat").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(base.data(), 1, base.size(), f);
    fclose(f);
    VirusLibrary* lib = CreateLibrary(m.Ctx());
    EXPECT_EQ(LoadLibraryFiles(lib, folder.c_str(), 0), total <= 1023 ? 1 : 0);
    LibraryTables t;
    GetLibraryTables(lib, &t);
    EXPECT_EQ(t.checksumCount, total <= 1023 ? 1u : 0u);
    ReleaseLibrary(lib);
  }
}

}  // namespace
}  // namespace libtest
