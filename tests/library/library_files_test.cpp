// Base and user library files: which files a mode opens, the conditions
// that fail a pass, files of the wrong kind, damaged sections, tables and
// virus names.
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

}  // namespace
}  // namespace libtest
