// Library files are untrusted: damaged or crafted files lose the item that
// does not fit (a section, an object, a relocation, a symbol, a user file)
// and everything else still loads, without reads or writes out of bounds.
#include "tests/library/library_test_support.h"

namespace libtest {
namespace {

using namespace libfmt;

// Replaces section k of a file with `decoded` (packed and scrambled here).
Bytes WithSection(Bytes file, uint32_t k, const Bytes& decoded) {
  uint8_t key = (uint8_t)(file[kKeyByte1] + file[kKeyByte2]);
  Bytes packed = StoredContainer(decoded);
  for (uint8_t& c : packed) c ^= key;
  size_t dir = kSectionDir + kSectionDirEntry * k;
  Set32(file, dir, (uint32_t)file.size());
  Set32(file, dir + 4, (uint32_t)decoded.size());
  Set32(file, dir + 8, (uint32_t)packed.size());
  file.insert(file.end(), packed.begin(), packed.end());
  return file;
}

Bytes Decoded(const BaseFileSpec& f, uint32_t k) {
  std::string err;
  Bytes d = BuildDecodedSection(f.sections[k], k, (uint8_t)(f.key1 + f.key2), TestPackers(), &err);
  EXPECT_FALSE(d.empty()) << err;
  return d;
}

uint32_t PartField(uint32_t k, uint32_t field) { return kPartRecord * k + field; }

BaseFileSpec Good(const std::string& name) {
  BaseFileSpec f = NamedFile(name);
  f.key1 = 0x10;
  f.key2 = 0x77;
  return f;
}

uint32_t CallSlot(VirusLibrary* lib, uint32_t slot) {
  static void* q = calloc(1, 90680);
  uint32_t entry = RoutineEntry(lib, slot, 0);
  if (entry == 0) return 0;
  return GuardedCall(entry, q, nullptr, 0xFA17);  // 0xFA17: the call faulted
}

TEST(Malformed, TotalsSmallerThanTheDataLoseOnlyWhatDoesNotFit) {
  LibraryMachine m;
  BaseFileSpec a = Good("A.0");
  AddChecksum(a.sections[1], 1, 0, "b", "A.1");
  AddChecksum(a.sections[1], 1, 0, "c", "A.2");
  Bytes fa = WriteBase(a);
  Set32(fa, kChecksumBytes, 0);  // three records (24 bytes) announced as none
  BaseFileSpec b = Good("B.0");
  std::string longName(6000, 'n');
  BaseFileSpec c = Good("");
  c.sections[1] = BaseSectionSpec();
  AddChecksum(c.sections[1], 1, 0, "d", longName);
  Bytes fc = WriteBase(c);
  Set32(fc, kS1VirusNames, 1);  // 6001 bytes of names announced as 1
  Set32(fc, kVirusNameBytes, 1);
  m.PutBase(0, fa);
  m.PutBase(1, WriteBase(b));
  m.PutBase(2, fc);
  m.Load(0);
  // Room: 0 + 8 + 8 bytes of table: a's 24 bytes do not fit, b's 8 do;
  // c's 6001 bytes of names do not fit the room of all names (17 + 4096).
  EXPECT_EQ(m.Names(1), (std::vector<std::string>{"B.0"}));
  LibraryTables t;
  GetLibraryTables(m.Lib(), &t);
  EXPECT_EQ(t.checksumCount, 1u);
}

TEST(Malformed, CodeTotalsTooSmallRejectObjectsThatDoNotFit) {
  LibraryMachine m;
  BaseFileSpec f;
  CoffDesc d;
  CoffSectionDesc big;
  big.data = Bytes(20000, 0x90);
  Bytes ret = Answer(6);
  big.data.insert(big.data.end(), ret.begin(), ret.end());
  d.sections.push_back(big);
  d.symbols.push_back({EntryNameOf("?Big", false), 20000, 1, 0x20, 2, 0});
  AddObject(f.sections[2], BuildCoff(d), "?Big");
  AddObject(f.sections[2], RoutineObject("?Small", 7, 0), "?Small");
  Bytes bytes = WriteBase(f);
  Set32(bytes, kCodeBytes, 16);
  m.PutBase(0, bytes);
  VirusLibrary* lib = m.Load(0);
  EXPECT_EQ(RoutineEntry(lib, 0, 0), 0u) << "20 KB of code in an area of a few KB";
  EXPECT_EQ(CallSlot(lib, 1), 7u);
  EXPECT_LE(lib->codeUsed, lib->codeSize);
}

TEST(Malformed, AbsurdTotalsBuildNothing) {
  LibraryMachine m;
  Bytes bytes = WriteBase(Good("X"));
  for (uint32_t t = 0; t < kTotalCount; ++t) Set32(bytes, kFirstTotal + 4 * t, 0xFFFFFFF0u);
  m.PutBase(0, bytes);
  int result = -1;
  m.Load(0, &result);
  EXPECT_EQ(result, 1) << "the pass counts as loaded";
  LibraryTables t;
  GetLibraryTables(m.Lib(), &t);
  EXPECT_EQ(t.checksumCount, 0u);
  EXPECT_EQ(m.Name(1, 0), "Virus.Unknown");
}

TEST(Malformed, SectionsOutsideTheFileOrNotDecodingAreSkipped) {
  for (int variant = 0; variant < 4; ++variant) {
    LibraryMachine m;
    BaseFileSpec f = Good("Kept");
    AddMulti(f.sections[2], 1, {{0, "x"}}, kNoRoutine, "Lost");
    Bytes bytes = WriteBase(f);
    size_t dir = kSectionDir + kSectionDirEntry * 2;
    if (variant == 0) Set32(bytes, dir, (uint32_t)bytes.size() - 3);             // runs past the end
    if (variant == 1) Set32(bytes, dir, 0xFFFFFFF0u);                            // offset past the end
    if (variant == 2) bytes[Get32(bytes, dir) + 10] ^= 0x40;                     // damaged content: CRC
    if (variant == 3) Set32(bytes, dir + 4, 0x3000000);                          // more than 32 MiB
    m.PutBase(0, bytes);
    m.Load(0);
    EXPECT_EQ(m.Names(1), std::vector<std::string>{"Kept"}) << variant;
    EXPECT_EQ(m.Names(2), std::vector<std::string>{}) << variant;
  }
}

TEST(Malformed, PartDirectoriesPointingOutsideTheSection) {
  for (uint32_t field : {kPartTableOffset, kPartTableSize, kPartObjectOffset, kPartRoutineOffset, kPartVirusPacked,
                         kPartTableCount}) {
    LibraryMachine m;
    BaseFileSpec f = Good("Kept");
    AddObject(f.sections[2], RoutineObject("?R", 6, 0), "?R");
    AddMulti(f.sections[2], 1, {{0, "x"}}, 0, "Lost");
    Bytes section = Decoded(f, 2);
    Set32(section, PartField(2, field), field == kPartTableCount ? 2 : (uint32_t)section.size() - 1);
    m.PutBase(0, WithSection(WriteBase(f), 2, section));
    VirusLibrary* lib = m.Load(0);
    EXPECT_EQ(m.Names(1), std::vector<std::string>{"Kept"}) << field;
    EXPECT_EQ(m.Names(2), std::vector<std::string>{}) << field;
    EXPECT_EQ(RoutineEntry(lib, 0, 0), 0u) << field;
  }
}

TEST(Malformed, NameStreamsUnpackOnlyToTheirDeclaredSize) {
  // The packed names of section 1 hold "A.1\nA.2\n" but the part directory
  // declares 4 bytes: only "A.1\n" is the section's text, so the second
  // record has no name, however the names are kept afterwards.
  LibraryMachine m;
  BaseFileSpec f = Good("A.1");
  AddChecksum(f.sections[1], 1, 0, "b", "A.2");
  Bytes section = Decoded(f, 1);
  Set32(section, PartField(1, kPartVirusSize), 4);
  Bytes file = WithSection(WriteBase(f), 1, section);
  BaseFileSpec next = Good("B.1");
  m.PutBase(0, file);
  m.PutBase(1, WriteBase(next));
  m.Load(0);
  EXPECT_EQ(m.Names(1), (std::vector<std::string>{"A.1", "Virus.Unknown", "B.1"}));
}

TEST(Malformed, RecordsThatDoNotParseLoseTheirSection) {
  LibraryMachine m;
  BaseFileSpec f = Good("Kept");
  AddMulti(f.sections[2], 1, {{0, "x"}}, kNoRoutine, "Lost");
  Bytes section = Decoded(f, 2);
  // The record's check count (plain 1) claims 200 checks.
  uint32_t tableAt = Get32(section, PartField(2, kPartTableOffset));
  uint8_t tableKey = (uint8_t)'L';  // first byte of the virus-name text
  section[tableAt + 1] = 200 ^ tableKey;
  m.PutBase(0, WithSection(WriteBase(f), 2, section));
  m.Load(0);
  EXPECT_EQ(m.Names(2), std::vector<std::string>{});
  EXPECT_EQ(m.Names(1), std::vector<std::string>{"Kept"});
}

TEST(Malformed, AnObjectSizePastThePartEndsThePart) {
  LibraryMachine m;
  BaseFileSpec f;
  AddObject(f.sections[2], RoutineObject("?First", 61, 0), "?First");
  AddObject(f.sections[2], RoutineObject("?Second", 62, 0), "?Second");
  AddMulti(f.sections[2], 1, {{0, "a"}}, 0, "First");
  AddMulti(f.sections[2], 1, {{0, "b"}}, 1, "Second");
  Bytes section = Decoded(f, 2);
  uint32_t objectsAt = Get32(section, PartField(2, kPartObjectOffset));
  uint32_t firstSize = (uint32_t)f.sections[2].objects[0].image.size();
  uint8_t tableKey = (uint8_t)'?';
  // The second object's size field (scrambled) claims 1 MiB.
  uint32_t claimed = 1u << 20;
  for (int i = 0; i < 4; ++i) section[objectsAt + 4 + firstSize + i] = (uint8_t)(claimed >> (8 * i)) ^ tableKey;
  m.PutBase(0, WithSection(WriteBase(f), 2, section));
  VirusLibrary* lib = m.Load(0);
  EXPECT_EQ(CallSlot(lib, 0), 61u);
  EXPECT_EQ(RoutineEntry(lib, 1, 0), 0u);
  LibraryTables t;
  GetLibraryTables(lib, &t);
  std::vector<Bytes> records = MultiRecords(t.multi, t.multiCount);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(Get32(records[0], records[0].size() - 4), 0u);
  EXPECT_EQ(Get32(records[1], records[1].size() - 4), kMissingRoutine) << "its object never reached the loader";
}

TEST(Malformed, RoutineNumbersThatWouldWrapNameNoRoutine) {
  LibraryMachine m;
  BaseFileSpec f;
  AddObject(f.sections[0], RoutineObject("", 0, 0));
  AddObject(f.sections[2], RoutineObject("?R", 6, 0), "?R");
  AddMulti(f.sections[2], 1, {{0, "a"}}, 0xFFFFFFF0u, "Wraps");
  AddMulti(f.sections[2], 1, {{0, "b"}}, 0xFFFFFFFEu, "Big");
  m.PutBase(0, WriteBase(f));
  LibraryTables t;
  GetLibraryTables(m.Load(0), &t);
  for (const Bytes& r : MultiRecords(t.multi, t.multiCount)) EXPECT_EQ(Get32(r, r.size() - 4), kMissingRoutine);
}

// Damaged COFF images between two good objects: the damaged one contributes
// nothing (or loses only the damaged relocation or symbol), the good ones
// keep their slots, and nothing is written for a refused image.
struct Damage {
  const char* what;
  void (*apply)(Bytes& image);
  bool loads;  // whether the image is still linked in (then its entry answers 9)
};

Bytes NinesObject() {
  CoffDesc d;
  CoffSectionDesc text;
  text.data = Answer(9);
  text.data.insert(text.data.end(), {0, 0, 0, 0});
  text.relocs = {{8, 0, 6}};
  d.sections.push_back(text);
  d.symbols.push_back({EntryNameOf("?Nine", false), 0, 1, 0x20, 2, 0});
  d.symbols.push_back({".text", 0, 1, 0, 3, 0});
  return BuildCoff(d);
}

uint32_t SymOff(const Bytes& b) { return Get32(b, 8); }
uint32_t StrOff(const Bytes& b) { return SymOff(b) + 18 * Get32(b, 12); }

const Damage kDamages[] = {
    {"truncated header", [](Bytes& b) { b.resize(10); }, false},
    {"section table past the end", [](Bytes& b) { b[2] = 0xFF; b[3] = 0x7F; }, false},
    {"optional header past the end", [](Bytes& b) { Set32(b, 16, 0xFFFF); }, false},
    {"raw data past the end", [](Bytes& b) { Set32(b, 20 + 16, 0x100000); }, false},
    {"raw data offset past the end", [](Bytes& b) { Set32(b, 20 + 20, 0xFFFFFFF0u); }, false},
    {"relocations past the end", [](Bytes& b) { b[20 + 32] = 0xFF; b[20 + 33] = 0xFF; }, false},
    {"symbol table past the end", [](Bytes& b) { Set32(b, 12, 0x10000000); }, false},
    {"symbol table offset wraps", [](Bytes& b) { Set32(b, 8, 0xFFFFFFF0u); }, false},
    {"string table size past the end", [](Bytes& b) { Set32(b, StrOff(b), 0x7FFFFFFF); }, false},
    {"relocation symbol index out of range", [](Bytes& b) { Set32(b, Get32(b, 20 + 24) + 4, 5000); }, true},
    {"relocation field past its section", [](Bytes& b) { Set32(b, Get32(b, 20 + 24), 10); }, true},
    {"auxiliary count past the table", [](Bytes& b) { b[SymOff(b) + 18 + 17] = 0xFF; }, true},
    {"relocation symbol in a section past the table",
     [](Bytes& b) {
       Set32(b, Get32(b, 20 + 24) + 4, 1);  // the relocation names symbol 1 (.text)
       b[SymOff(b) + 18 + 12] = 0xFF;       // whose section number is 0x7FFF
       b[SymOff(b) + 18 + 13] = 0x7F;
     },
     true},
    {"uninitialised section larger than the code area",
     [](Bytes& b) {
       Set32(b, 20 + 36, 0x60000080);
       Set32(b, 20 + 16, 0x7FFFFFF0);
     },
     false},
};

TEST(Malformed, DamagedObjectsBetweenGoodOnes) {
  for (const Damage& dmg : kDamages) {
    SCOPED_TRACE(dmg.what);
    LibraryMachine m;
    BaseFileSpec f;
    Bytes damaged = NinesObject();
    dmg.apply(damaged);
    AddObject(f.sections[2], RoutineObject("?Before", 70, 0), "?Before");
    AddObject(f.sections[2], damaged, "?Nine");
    AddObject(f.sections[2], RoutineObject("?After", 72, 0), "?After");
    Bytes file = WriteBase(f);
    Set32(file, kCodeBytes, 16 * 3);  // what the three objects need, whatever the damaged headers say
    m.PutBase(0, file);
    VirusLibrary* lib = m.Load(0);
    EXPECT_EQ(CallSlot(lib, 0), 70u);
    EXPECT_EQ(CallSlot(lib, 2), 72u);
    if (dmg.loads) {
      EXPECT_EQ(CallSlot(lib, 1), 9u);
      EXPECT_EQ(lib->codeUsed, 16u * 3);
    } else {
      EXPECT_EQ(RoutineEntry(lib, 1, 0), 0u);
      EXPECT_EQ(lib->codeUsed, 16u * 2) << "nothing written for a refused image";
    }
  }
}

TEST(Malformed, NamesWithoutTerminatorsAndSymbolsOutsideTheirSection) {
  LibraryMachine m;
  BaseFileSpec f;
  // The entry's long name is the last text of the string table; its NUL is
  // cut off (the string table's size stops before it).
  Bytes a = RoutineObject("?NoTerminator", 6, 0);
  Set32(a, StrOff(a), Get32(a, StrOff(a)) - 1);
  a.pop_back();
  AddObject(f.sections[2], a, "?NoTerminator");
  // An entry symbol whose value lies past its section.
  CoffDesc d;
  CoffSectionDesc text;
  text.data = Answer(6);
  d.sections.push_back(text);
  d.symbols.push_back({EntryNameOf("?Outside", false), 4096, 1, 0x20, 2, 0});
  AddObject(f.sections[2], BuildCoff(d), "?Outside");
  // The image ends right before the NUL its string table still counts.
  Bytes c = RoutineObject("?Edge", 6, 0);
  c.pop_back();
  AddObject(f.sections[2], c, "?Edge");
  AddObject(f.sections[2], RoutineObject("?Fine", 8, 0), "?Fine");
  m.PutBase(0, WriteBase(f));
  VirusLibrary* lib = m.Load(0);
  EXPECT_EQ(RoutineEntry(lib, 0, 0), 0u);
  EXPECT_EQ(RoutineEntry(lib, 1, 0), 0u);
  EXPECT_EQ(RoutineEntry(lib, 2, 0), 0u);
  EXPECT_EQ(CallSlot(lib, 3), 8u);
}

TEST(Malformed, UserPayloadsThatLieAboutTheirSizes) {
  // 200 records (6000 bytes): more than the slack of 4096 bytes when a
  // header announces less.
  std::vector<UserEntry> many;
  for (int i = 0; i < 200; ++i) many.push_back({"2026-03-03", 3, "abc", "C:\\" + std::string(60, 'p')});
  Bytes good = WriteUser({{"2026-09-09", 9, "good", "C:\\good"}});
  struct Lie {
    const char* what;
    void (*apply)(Bytes& f);
  } lies[] = {
      {"payload size larger than the payload", [](Bytes& f) { Set32(f, 204, Get32(f, 204) + 1); }},
      {"payload size smaller", [](Bytes& f) { Set32(f, 204, Get32(f, 204) - 1); }},
      {"packed size past the file", [](Bytes& f) { Set32(f, 208, Get32(f, 208) + 100); }},
      {"records area larger than announced", [](Bytes& f) { Set32(f, 192, 30); }},
      {"path lines larger than announced", [](Bytes& f) { Set32(f, 196, 0); }},
      // No buffer can be had for it: only this file is left out.
      {"payload size far too large", [](Bytes& f) { Set32(f, 204, 0xF0000000u); }},
      {"path lines size far too large", [](Bytes& f) { Set32(f, 196, 0xF0000000u); }},
  };
  for (const Lie& lie : lies) {
    SCOPED_TRACE(lie.what);
    LibraryMachine m;
    Bytes bad = WriteUser(many);
    lie.apply(bad);
    m.PutUser(0, bad);
    m.PutUser(1, good);
    m.Load(0);
    LibraryTables t;
    GetLibraryTables(m.Lib(), &t);
    ASSERT_EQ(t.userCount, 1u);
    EXPECT_EQ(memcmp(t.userDigests, "2026-09-09", 10), 0);
  }
}

TEST(Malformed, UserPayloadIndexThatLies) {
  // The payload unpacks, but its index claims more records than it holds.
  std::vector<UserRecord> records(2);
  memcpy(records[0].date, "2026-03-03", 10);
  memcpy(records[1].date, "2026-03-04", 10);
  const char* paths[2] = {"a", "b"};
  uint32_t lengths[2] = {1, 1};
  Bytes payload(UserPayloadSize(2, 2));
  uint32_t length = 0;
  ASSERT_EQ(UserPayloadBuild(payload.data(), (uint32_t)payload.size(), records.data(), paths, lengths, 2, &length),
            kUfOk);
  Set32(payload, 9, 50);  // count
  Bytes file(UserFileMaxSize(length));
  std::vector<void*> work(UserFileWorkSize() / sizeof(void*) + 1);
  uint32_t fileLength = 0;
  ASSERT_EQ(UserFileBuild(payload.data(), length, "User000.dat", "2026-03-03", work.data(), file.data(),
                          (uint32_t)file.size(), &fileLength),
            kUfOk);
  file.resize(fileLength);
  LibraryMachine m;
  m.PutUser(0, file);
  m.PutUser(1, WriteUser({{"2026-09-09", 9, "good", "C:\\good"}}));
  m.Load(0);
  LibraryTables t;
  GetLibraryTables(m.Lib(), &t);
  EXPECT_EQ(t.userCount, 1u);
}


// Sections that all point at one relocation table: a crafted image would
// make the linker apply the same table once per section.
Bytes SharedRelocations(uint32_t sections, uint32_t relocations) {
  Bytes out;
  Put16(out, 0x014C);
  Put16(out, (uint16_t)sections);
  Put32(out, 0);
  Put32(out, 0);  // symbol table offset, set below
  Put32(out, 1);
  Put16(out, 0);
  Put16(out, 0);
  uint32_t headers = (uint32_t)out.size();
  out.resize(headers + 40 * sections, 0);
  uint32_t data = (uint32_t)out.size();
  Put32(out, 0);
  uint32_t table = (uint32_t)out.size();
  for (uint32_t r = 0; r < relocations; ++r) {
    Put32(out, 0);
    Put32(out, 0);
    Put16(out, 6);
  }
  for (uint32_t i = 0; i < sections; ++i) {
    uint32_t h = headers + 40 * i;
    Set32(out, h + 16, 4);
    Set32(out, h + 20, data);
    Set32(out, h + 24, table);
    out[h + 32] = (uint8_t)relocations;
    out[h + 33] = (uint8_t)(relocations >> 8);
    Set32(out, h + 36, 0x60000020);
  }
  Set32(out, 8, (uint32_t)out.size());
  Bytes sym(18, 0);
  memcpy(sym.data(), ".text", 5);
  sym[12] = 1;
  sym[16] = 3;
  out.insert(out.end(), sym.begin(), sym.end());
  Put32(out, 4);
  return out;
}

TEST(Malformed, SectionsSharingOneRelocationTableAreRefused) {
  // 64 sections over one table of 1024 relocations: together 64 times the
  // table, far more than the image holds.
  LibraryMachine m;
  BaseFileSpec f;
  AddObject(f.sections[2], SharedRelocations(64, 1024), "?Shared");
  AddObject(f.sections[2], RoutineObject("?After", 72, 0), "?After");
  Bytes file = WriteBase(f);
  Set32(file, kCodeBytes, 16 * 64 + 16);
  m.PutBase(0, file);
  VirusLibrary* lib = m.Load(0);
  EXPECT_EQ(CallSlot(lib, 1), 72u);
  EXPECT_EQ(lib->codeUsed, 16u) << "nothing of the shared-table image is placed";
  // The same sections with one table each load.
  LibraryMachine own;
  BaseFileSpec g;
  CoffDesc d;
  for (int i = 0; i < 2; ++i) {
    CoffSectionDesc text;
    text.data = {0, 0, 0, 0};
    text.relocs = {{0, 0, 6}};
    d.sections.push_back(text);
  }
  d.symbols.push_back({".text", 0, 1, 0, 3, 0});
  AddObject(g.sections[2], BuildCoff(d), "?Own");
  AddObject(g.sections[2], RoutineObject("?After", 72, 0), "?After");
  Bytes file2 = WriteBase(g);
  Set32(file2, kCodeBytes, 16 * 3);
  own.PutBase(0, file2);
  lib = own.Load(0);
  EXPECT_EQ(CallSlot(lib, 1), 72u);
  EXPECT_EQ(lib->codeUsed, 48u);
}


// An object whose symbols all name one long text of its string table that
// has no terminator for `textBytes` bytes (the last symbol is an entry).
Bytes UnterminatedNames(uint32_t symbols, uint32_t textBytes) {
  CoffDesc d;
  CoffSectionDesc text;
  text.data = Answer(6);
  d.sections.push_back(text);
  d.symbols.push_back({EntryNameOf("?Late", false), 0, 1, 0x20, 2, 0});
  Bytes out = BuildCoff(d);
  uint32_t symbolTable = SymOff(out);
  Bytes entry(out.begin() + symbolTable, out.begin() + symbolTable + 18);
  Bytes strings(out.begin() + symbolTable + 18, out.end());
  out.resize(symbolTable);
  // `symbols` symbols named by offset 4 + entry length + 1: the long text.
  uint32_t longAt = (uint32_t)strings.size();
  for (uint32_t i = 0; i < symbols; ++i) {
    Bytes rec(18, 0);
    Set32(rec, 4, longAt);
    rec[12] = 1;
    rec[14] = 0x20;
    rec[16] = 2;
    out.insert(out.end(), rec.begin(), rec.end());
  }
  out.insert(out.end(), entry.begin(), entry.end());
  Set32(out, 12, symbols + 1);
  strings.insert(strings.end(), textBytes, '?');
  strings.push_back(0);
  Set32(strings, 0, (uint32_t)strings.size());
  out.insert(out.end(), strings.begin(), strings.end());
  return out;
}

TEST(Malformed, LongUnterminatedSymbolNamesAreCheap) {
  // 2000 symbols over a 2 MiB text: a name is read no further than its
  // longest usable length, not to the end of the string table each time.
  LibraryMachine m;
  BaseFileSpec f;
  AddObject(f.sections[2], RoutineObject("?Late", 6, 0), "?Late");  // the same code bytes
  AddObject(f.sections[2], RoutineObject("?After", 72, 0), "?After");
  Bytes file = WriteBase(f);
  f.sections[2].objects[0].image = UnterminatedNames(2000, 2u << 20);
  m.PutBase(0, WithSection(file, 2, Decoded(f, 2)));
  VirusLibrary* lib = m.Load(0);
  EXPECT_EQ(CallSlot(lib, 0), 6u) << "the entry after the long names still counts";
  EXPECT_EQ(CallSlot(lib, 1), 72u);
  // Only the next object's ".text" symbol is exported; no long name is.
  EXPECT_EQ(lib->symbolCount, kFirstLibrarySymbol + 1);
  // A name of exactly 259 characters is used, one of 260 is not.
  for (uint32_t length : {259u, 260u}) {
    LibraryMachine n;
    BaseFileSpec g;
    CoffDesc d;
    CoffSectionDesc text;
    text.data = Answer(6);
    d.sections.push_back(text);
    d.symbols.push_back({"?" + std::string(length - 1, 'h'), 0, 1, 0x20, 2, 0});
    AddObject(g.sections[2], BuildCoff(d), "?Helper");
    n.PutBase(0, WriteBase(g));
    lib = n.Load(0);
    EXPECT_EQ(lib->symbolCount, kFirstLibrarySymbol + (length == 259 ? 1u : 0u)) << length;
  }
}

}  // namespace
}  // namespace libtest
