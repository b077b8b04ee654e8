// The object linker: routine slots, relocations, binding by name key, cut
// names, special entries, and calls of the linked code.
#include "scanner/library/cqel.h"
#include "tests/library/fake_engine.h"
#include "tests/library/library_test_support.h"

namespace libtest {
namespace {

using namespace libfmt;

// Calls an entry with a zeroed CQEL object; ok = 0 when it faulted.
uint32_t CallEntry(uint32_t entry, int* ok = nullptr, CQEL* q = nullptr) {
  static CQEL* object = (CQEL*)calloc(1, sizeof(CQEL));
  return GuardedCall(entry, q ? q : object, ok);
}

uint32_t SlotAnswer(VirusLibrary* lib, uint32_t slot, int which) {
  uint32_t e = RoutineEntry(lib, slot, which);
  if (e == 0) return 0;
  return CallEntry(e);
}

Bytes NamedFunctionObject(const std::vector<std::pair<std::string, uint32_t>>& named, uint8_t storageClass = 2,
                          uint16_t type = 0x20);

// An object with code only (no entries): a section-0 filler.
Bytes Filler() {
  CoffDesc d;
  CoffSectionDesc t;
  t.data = {0xC3};
  d.sections.push_back(t);
  return BuildCoff(d);
}

TEST(Slots, RoutineNumbersAreRebasedPerFileAndSection) {
  LibraryMachine m;
  BaseFileSpec a, b;
  AddObject(a.sections[0], Filler());
  AddObject(a.sections[0], Filler());
  AddObject(a.sections[2], RoutineObject("?A", 61, 81), "?A");
  AddObject(a.sections[2], RoutineObject("?B", 62, 82), "?B");
  AddMulti(a.sections[2], 1, {{0, "x"}}, 1, "a0");
  AddMulti(a.sections[2], 1, {{0, "y"}}, 0, "a1");
  AddMulti(a.sections[2], 1, {{0, "z"}}, kNoRoutine, "a2");
  AddObject(a.sections[3], RoutineObject("?P", 10, 12), "?P");
  AddMulti(a.sections[3], 1, {{0, "p"}}, 0, "ap");
  AddObject(b.sections[0], Filler());
  AddObject(b.sections[2], RoutineObject("?C", 63, 83), "?C");
  AddMulti(b.sections[2], 1, {{0, "w"}}, 0, "b0");
  AddObject(b.sections[3], RoutineObject("?Q", 11, 13), "?Q");
  AddMulti(b.sections[3], 1, {{0, "q"}}, 0, "bq");
  m.PutBase(0, WriteBase(a));
  m.PutBase(1, WriteBase(b));
  VirusLibrary* lib = m.Load(0);
  // Section-0 objects: 3 in all, so section 2 counts from 3 and section 3
  // from 3 + 3.
  LibraryTables t;
  GetLibraryTables(lib, &t);
  std::vector<Bytes> multi = MultiRecords(t.multi, t.multiCount);
  ASSERT_EQ(multi.size(), 4u);
  auto slotOf = [](const Bytes& r) { return Get32(r, r.size() - 4); };
  EXPECT_EQ(slotOf(multi[0]), 4u);
  EXPECT_EQ(slotOf(multi[1]), 3u);
  EXPECT_EQ(slotOf(multi[2]), kNoRoutine);
  EXPECT_EQ(slotOf(multi[3]), 5u) << "routine 0 of the second file is its own first object";
  std::vector<Bytes> packer = MultiRecords(t.packer, t.packerCount);
  ASSERT_EQ(packer.size(), 2u);
  EXPECT_EQ(slotOf(packer[0]), 6u);
  EXPECT_EQ(slotOf(packer[1]), 7u);
  EXPECT_EQ(SlotAnswer(lib, 3, 0), 61u);
  EXPECT_EQ(SlotAnswer(lib, 3, 1), 81u);
  EXPECT_EQ(SlotAnswer(lib, 4, 0), 62u);
  EXPECT_EQ(SlotAnswer(lib, 5, 1), 83u);
  EXPECT_EQ(SlotAnswer(lib, 6, 0), 10u);
  EXPECT_EQ(SlotAnswer(lib, 7, 1), 13u);
  EXPECT_EQ(RoutineEntry(lib, kNoRoutine, 0), 0u);
  EXPECT_EQ(RoutineEntry(lib, 4096, 0), 0u);
}

TEST(Slots, RejectedObjectsStillUseTheirSlot) {
  LibraryMachine m;
  BaseFileSpec a, b;
  Bytes unknownMachine = RoutineObject("?Bad", 99, 99);
  unknownMachine[0] = 0x34;
  unknownMachine[1] = 0x12;
  AddObject(a.sections[2], RoutineObject("?N0", 70, 0), "?N0");
  AddObject(a.sections[2], unknownMachine, "?Bad");
  AddObject(a.sections[2], RoutineObject("?N2", 72, 0), "?N2");
  AddObject(b.sections[2], RoutineObject("?N3", 73, 0), "?N3");
  AddMulti(b.sections[2], 1, {{0, "k"}}, 0, "b");
  m.PutBase(0, WriteBase(a));
  m.PutBase(1, WriteBase(b));
  VirusLibrary* lib = m.Load(0);
  EXPECT_EQ(SlotAnswer(lib, 0, 0), 70u);
  EXPECT_EQ(RoutineEntry(lib, 1, 0), 0u);
  EXPECT_EQ(SlotAnswer(lib, 2, 0), 72u);
  EXPECT_EQ(SlotAnswer(lib, 3, 0), 73u);
  LibraryTables t;
  GetLibraryTables(lib, &t);
  EXPECT_EQ(Get32(MultiRecords(t.multi, 1)[0], 2 + 7 + 11), 3u);
}

TEST(Slots, ARoutineNumberPastItsFilesObjectsNamesNoRoutine) {
  LibraryMachine m;
  BaseFileSpec a, b;
  AddObject(a.sections[2], RoutineObject("?A", 6, 0), "?A");
  AddMulti(a.sections[2], 1, {{0, "k"}}, 1, "points past its own objects");
  AddObject(b.sections[2], RoutineObject("?B", 6, 0), "?B");
  m.PutBase(0, WriteBase(a));
  m.PutBase(1, WriteBase(b));
  VirusLibrary* lib = m.Load(0);
  LibraryTables t;
  GetLibraryTables(lib, &t);
  uint32_t slot = Get32(MultiRecords(t.multi, 1)[0], 2 + 7 + 11);
  EXPECT_NE(slot, 1u) << "would call the next file's routine";
  EXPECT_NE(slot, kNoRoutine) << "would match without its routine";
  EXPECT_EQ(RoutineEntry(lib, slot, 0), 0u);
}

TEST(Slots, SlotsFromFourThousandNinetySixOnGetNoEntriesAndSpareTheSpecialOnes) {
  // The header claims 4095 section-0 objects, so the section-2 objects take
  // slots 4095, 4096 and 4097: only the first gets its entries, and the
  // special entries (kept right after the numbered slots) stay as the
  // section-0 object set them.
  LibraryMachine m;
  BaseFileSpec f;
  std::vector<std::pair<std::string, uint32_t>> specials;
  for (uint32_t i = 0; i < kSpecialCount; ++i) specials.push_back({ForgeName("?Special", kSpecialKeys[i]), 100 + i});
  AddObject(f.sections[0], NamedFunctionObject(specials));
  AddObject(f.sections[2], RoutineObject("?Last", 61, 81), "?Last");
  AddObject(f.sections[2], RoutineObject("?Over1", 62, 82), "?Over1");
  AddObject(f.sections[2], RoutineObject("?Over2", 63, 83), "?Over2");
  AddMulti(f.sections[2], 1, {{0, "a"}}, 0, "last");
  AddMulti(f.sections[2], 1, {{0, "b"}}, 1, "over");
  Bytes bytes = WriteBase(f);
  Set32(bytes, kS0Objects, 4095);
  m.PutBase(0, bytes);
  VirusLibrary* lib = m.Load(0);
  EXPECT_EQ(SlotAnswer(lib, 4095, 0), 61u);
  EXPECT_EQ(SlotAnswer(lib, 4095, 1), 81u);
  for (uint32_t e = 0; e < kSpecialCount; ++e)
    EXPECT_EQ(CallEntry(SpecialEntryAddress(lib, (SpecialEntry)e)), 100u + e) << e;
  LibraryTables t;
  GetLibraryTables(lib, &t);
  std::vector<Bytes> records = MultiRecords(t.multi, t.multiCount);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(Get32(records[0], records[0].size() - 4), 4095u);
  EXPECT_EQ(Get32(records[1], records[1].size() - 4), 4096u);
  EXPECT_EQ(RoutineEntry(lib, 4096, 0), 0u) << "a slot past the numbered ones has no routine";
}

TEST(Entries, CheckOnlyRepairOnlyAndDecoratedEntryNames) {
  LibraryMachine m;
  BaseFileSpec f;
  AddObject(f.sections[2], RoutineObject("?OnlyCheck", 6, 0), "?OnlyCheck");
  AddObject(f.sections[2], RoutineObject("?OnlyRepair", 0, 8), "?OnlyRepair");
  // ".%08x@CQEL@@..." is cut at "@CQEL" and still names the entry.
  CoffDesc d;
  CoffSectionDesc text;
  text.data = Answer(7);
  d.sections.push_back(text);
  d.symbols.push_back({EntryNameOf("?Long", false) + "@CQEL@@QAGKPAV1@@Z", 0, 1, 0x20, 2, 0});
  AddObject(f.sections[2], BuildCoff(d), "?Long");
  // A routine-name line longer than 63 characters is cut to 63.
  std::string longPrefix = "?" + std::string(70, 'R');
  AddObject(f.sections[2], RoutineObject(longPrefix.substr(0, 63), 5, 0), longPrefix);
  m.PutBase(0, WriteBase(f));
  VirusLibrary* lib = m.Load(0);
  EXPECT_EQ(SlotAnswer(lib, 0, 0), 6u);
  EXPECT_EQ(RoutineEntry(lib, 0, 1), 0u);
  EXPECT_EQ(RoutineEntry(lib, 1, 0), 0u);
  EXPECT_EQ(SlotAnswer(lib, 1, 1), 8u);
  EXPECT_EQ(SlotAnswer(lib, 2, 0), 7u);
  EXPECT_EQ(SlotAnswer(lib, 3, 0), 5u);
}

// A function symbol (class 2) answering `value`, named to carry `key`.
Bytes NamedFunctionObject(const std::vector<std::pair<std::string, uint32_t>>& named, uint8_t storageClass,
                          uint16_t type) {
  CoffDesc d;
  CoffSectionDesc text;
  for (const auto& n : named) {
    d.symbols.push_back({n.first, (uint32_t)text.data.size(), 1, type, storageClass, 0});
    Bytes code = Answer(n.second);
    text.data.insert(text.data.end(), code.begin(), code.end());
  }
  d.sections.push_back(text);
  return BuildCoff(d);
}

TEST(Entries, SpecialEntriesByKeyFromAnySectionLaterOnesReplace) {
  LibraryMachine m;
  BaseFileSpec f;
  std::vector<std::pair<std::string, uint32_t>> specials;
  for (uint32_t i = 0; i < kSpecialCount; ++i) specials.push_back({ForgeName("?Special", kSpecialKeys[i]), 100 + i});
  AddObject(f.sections[0], NamedFunctionObject(specials));
  AddObject(f.sections[2], NamedFunctionObject({{ForgeName("?Again", kSpecialKeys[0]), 200}}), "?Again");
  m.PutBase(0, WriteBase(f));
  VirusLibrary* lib = m.Load(0);
  EXPECT_EQ(CallEntry(SpecialEntryAddress(lib, kStartHook1)), 200u) << "the later object replaced it";
  EXPECT_EQ(CallEntry(SpecialEntryAddress(lib, kStopHook1)), 101u);
  EXPECT_EQ(CallEntry(SpecialEntryAddress(lib, kStartHook2)), 102u);
  EXPECT_EQ(CallEntry(SpecialEntryAddress(lib, kStopHook2)), 103u);
  EXPECT_EQ(CallEntry(SpecialEntryAddress(lib, kNextUnit)), 104u);
  EXPECT_EQ(CallEntry(SpecialEntryAddress(lib, kGenericRepair)), 105u);
  EXPECT_EQ(SpecialEntryAddress(lib, (SpecialEntry)6), 0u);
  // The special entries are slots 4096..4098; RoutineEntry does not give them.
  EXPECT_EQ(RoutineEntry(lib, 4096, 0), 0u);
}

TEST(Entries, CutNamesForStorageClassesTwoAndThree) {
  // Class 3: the cut name starts at the seventh character; class 2 keeps
  // the whole name; both end at "@CQEL".
  std::string tail = ForgeName("F", kSpecialKeys[kNextUnit]);
  std::string name = "?ABCDE" + tail + "@CQEL@@QAGKPAV1@@Z";
  {
    LibraryMachine m;
    BaseFileSpec f;
    AddObject(f.sections[0], NamedFunctionObject({{name, 31}}, 3));
    m.PutBase(0, WriteBase(f));
    VirusLibrary* lib = m.Load(0);
    EXPECT_EQ(CallEntry(SpecialEntryAddress(lib, kNextUnit)), 31u);
  }
  {
    LibraryMachine m;
    BaseFileSpec f;
    AddObject(f.sections[0], NamedFunctionObject({{name, 32}}, 2));
    // Class 2 with the same cut as class 3 would have: the text before F.
    AddObject(f.sections[0], NamedFunctionObject({{ForgeName("?Q", kSpecialKeys[kStopHook2]) + "@CQEL@@Z", 33}}, 2));
    m.PutBase(0, WriteBase(f));
    VirusLibrary* lib = m.Load(0);
    EXPECT_EQ(SpecialEntryAddress(lib, kNextUnit), 0u);
    EXPECT_EQ(CallEntry(SpecialEntryAddress(lib, kStopHook2)), 33u);
    uint32_t address = 0;
    EXPECT_TRUE(SymbolFind(lib, Crc(name), &address)) << "not special: exported under its full name";
  }
  {
    // Not a function: the cut name is empty, so nothing special.
    LibraryMachine m;
    BaseFileSpec f;
    AddObject(f.sections[0], NamedFunctionObject({{ForgeName("?D", kSpecialKeys[kStartHook1]), 34}}, 2, 0));
    m.PutBase(0, WriteBase(f));
    EXPECT_EQ(SpecialEntryAddress(m.Load(0), kStartHook1), 0u);
  }
}

// x86: push 5; push [esp+8] (the object); call rel32 <symbol>; ret 8.
Bytes CallerCode() { return {0x6A, 0x05, 0xFF, 0x74, 0x24, 0x08, 0xE8, 0, 0, 0, 0, 0xC2, 0x08, 0x00}; }
// x86: call rel32 <symbol> (stdcall, no arguments); ret 8.
Bytes CallNoArgs() { return {0xE8, 0, 0, 0, 0, 0xC2, 0x08, 0x00}; }

Bytes CallerObject(const std::string& prefix, const std::string& target, const Bytes& code, uint32_t relocAt) {
  CoffDesc d;
  CoffSectionDesc text;
  text.data = code;
  text.relocs.push_back({relocAt, 1, 20});
  d.sections.push_back(text);
  d.symbols.push_back({EntryNameOf(prefix, false), 0, 1, 0x20, 2, 0});
  d.symbols.push_back({target, 0, 0, 0x20, 2, 0});
  return BuildCoff(d);
}

// x86: mov eax, value; ret (stdcall without arguments).
Bytes HelperCode(uint32_t value) {
  Bytes b = {0xB8};
  Put32(b, value);
  b.push_back(0xC3);
  return b;
}

// An object of one code section returning `value`, without symbols yet.
CoffDesc HelperDesc(uint32_t value) {
  CoffDesc d;
  CoffSectionDesc text;
  text.data = HelperCode(value);
  d.sections.push_back(text);
  return d;
}

Bytes HelperObject(const std::string& name, uint32_t value) {
  CoffDesc d = HelperDesc(value);
  d.symbols.push_back({name, 0, 1, 0x20, 2, 0});
  return BuildCoff(d);
}

TEST(Binding, FirstHelperDefinitionWinsAndOnlyEarlierObjectsBind) {
  LibraryMachine m;
  BaseFileSpec a, b;
  AddObject(a.sections[0], HelperObject("?Helper@@YGIXZ", 1111));
  AddObject(a.sections[0], HelperObject("?Helper@@YGIXZ", 2222));
  AddObject(a.sections[2], CallerObject("?UsesHelper", "?Helper@@YGIXZ", CallNoArgs(), 1), "?UsesHelper");
  // Bound to a helper of a later file: not there yet, so address 0.
  AddObject(a.sections[2], CallerObject("?TooEarly", "?Later@@YGIXZ", CallNoArgs(), 1), "?TooEarly");
  AddObject(b.sections[0], HelperObject("?Later@@YGIXZ", 3333));
  AddObject(b.sections[2], CallerObject("?InTime", "?Later@@YGIXZ", CallNoArgs(), 1), "?InTime");
  m.PutBase(0, WriteBase(a));
  m.PutBase(1, WriteBase(b));
  VirusLibrary* lib = m.Load(0);
  EXPECT_EQ(SlotAnswer(lib, 3, 0), 1111u);
  int ok = -1;
  CallEntry(RoutineEntry(lib, 4, 0), &ok);
  EXPECT_EQ(ok, 0) << "a call through an unresolved reference faults, and is contained";
  EXPECT_EQ(SlotAnswer(lib, 5, 0), 3333u);
}

TEST(Binding, HostServicesCannotBeReplaced) {
  LibraryMachine m;
  BaseFileSpec f;
  std::string sweep = ForgeName("?Sweep", kHostServiceKeys[19]);
  // A library symbol with the key of host service 19 is not added.
  AddObject(f.sections[0], HelperObject(sweep, 999));
  AddObject(f.sections[2], CallerObject("?Caller", sweep, CallerCode(), 7), "?Caller");
  m.PutBase(0, WriteBase(f));
  VirusLibrary* lib = m.Load(0);
  // Service 19 with code 5 answers 5 - 1 (and needs no engine for that).
  EXPECT_EQ(SlotAnswer(lib, 1, 0), 4u);
}

TEST(Binding, AFullSymbolTableTakesNoMoreAndStillBinds) {
  // 10,000 exported helpers: places 128 .. 10001 take the first 9,874, the
  // rest are dropped; later objects still bind to what is there.
  LibraryMachine m;
  BaseFileSpec f;
  CoffDesc d = HelperDesc(4321);
  auto name = [](uint32_t i) {
    char buf[32];
    snprintf(buf, sizeof buf, "?Sym%05u@@YGIXZ", i);
    return std::string(buf);
  };
  for (uint32_t i = 0; i < 10000; ++i) d.symbols.push_back({name(i), 0, 1, 0x20, 2, 0});
  AddObject(f.sections[0], BuildCoff(d));
  AddObject(f.sections[2], CallerObject("?First", name(0), CallNoArgs(), 1), "?First");
  AddObject(f.sections[2], CallerObject("?Dropped", name(9999), CallNoArgs(), 1), "?Dropped");
  AddObject(f.sections[2], RoutineObject("?After", 6, 0), "?After");
  m.PutBase(0, WriteBase(f));
  VirusLibrary* lib = m.Load(0);
  EXPECT_EQ(lib->symbolCount, kSymbolPlaces);
  uint32_t address = 0;
  EXPECT_TRUE(SymbolFind(lib, Crc(name(9873)), &address));
  EXPECT_FALSE(SymbolFind(lib, Crc(name(9874)), &address));
  EXPECT_EQ(SlotAnswer(lib, 1, 0), 4321u);
  int ok = -1;
  CallEntry(RoutineEntry(lib, 2, 0), &ok);
  EXPECT_EQ(ok, 0) << "bound to address 0: faults, contained";
  EXPECT_EQ(SlotAnswer(lib, 3, 0), 6u);
}

TEST(Binding, NameKeysCraftedToShareOneProbeChainStayCheap) {
  // A name's key is its CRC-32, which a library file chooses freely (four
  // appended bytes steer it). 9,000 helpers whose keys a multiplicative hash
  // of 14 bits sends to one bucket, then an object with 240,000 references to
  // a missing name of the same bucket: every lookup must stay short.
  const uint32_t c = 2654435761u;
  uint32_t inverse = c;
  for (int i = 0; i < 5; ++i) inverse *= 2 - c * inverse;
  auto keyOf = [&](uint32_t j) { return j * inverse; };  // key * c == j: bucket 0
  LibraryMachine m;
  BaseFileSpec f;
  CoffDesc d = HelperDesc(4321);
  std::vector<std::string> names;
  for (uint32_t j = 1; j <= 9000; ++j) names.push_back(ForgeName("?H", keyOf(j)));
  for (const std::string& n : names) d.symbols.push_back({n, 0, 1, 0x20, 2, 0});
  AddObject(f.sections[0], BuildCoff(d));
  CoffDesc r;
  for (int k = 0; k < 4; ++k) {
    CoffSectionDesc data;
    data.name = ".data";
    data.data = {0, 0, 0, 0};
    data.characteristics = 0xC0000040;
    for (uint32_t i = 0; i < 60000; ++i) data.relocs.push_back({0, 0, 6});
    r.sections.push_back(data);
  }
  r.symbols.push_back({ForgeName("?Missing", keyOf(9001)), 0, 0, 0x20, 2, 0});
  AddObject(f.sections[0], BuildCoff(r));
  AddObject(f.sections[2], CallerObject("?First", names[0], CallNoArgs(), 1), "?First");
  AddObject(f.sections[2], CallerObject("?Last", names.back(), CallNoArgs(), 1), "?Last");
  m.PutBase(0, WriteBase(f));
  VirusLibrary* lib = m.Load(0);
  EXPECT_EQ(lib->symbolCount, kFirstLibrarySymbol + 9000);
  uint32_t address = 0;
  EXPECT_FALSE(SymbolFind(lib, keyOf(9001), &address));
  EXPECT_TRUE(SymbolFind(lib, keyOf(4500), &address));
  for (uint32_t i = 0; i < libfmt::kHostServiceCount; ++i)
    EXPECT_TRUE(SymbolFind(lib, libfmt::kHostServiceKeys[i], &address)) << i;
  EXPECT_EQ(SlotAnswer(lib, 2, 0), 4321u);  // after the two objects of section 0
  EXPECT_EQ(SlotAnswer(lib, 3, 0), 4321u);
}

TEST(Relocations, TypesSixAndTwentyAndTheIgnoredOnes) {
  LibraryMachine m;
  BaseFileSpec f;
  CoffDesc d;
  CoffSectionDesc text;
  // 0: mov eax, imm32 (DIR32 to .data + 4); 5: ret 8; 8: call rel32 to
  // "target" at 16 (REL32); 13: type 7 field; 24: type 4 field.
  text.data = {0xB8, 4, 0, 0, 0, 0xC2, 0x08, 0x00, 0xE8, 0, 0, 0, 0, 0x11, 0x22, 0x33, 0xC3, 0x90, 0x90, 0x90,
               0x90, 0x90, 0x90, 0x90, 0, 0, 0, 0};
  text.relocs = {{1, 2, 6}, {9, 3, 20}, {13, 3, 7}, {24, 3, 4}, {26, 3, 6} /* past the section end */,
                 {0, 99, 6} /* no such symbol */};
  CoffSectionDesc data;
  data.name = ".data";
  data.data = Bytes(16, 0x5A);
  data.characteristics = 0xC0000040;
  d.sections = {text, data};
  d.symbols = {{EntryNameOf("?Reloc", false), 0, 1, 0x20, 2, 0},
               {".text", 0, 1, 0, 3, 0},
               {".data", 0, 2, 0, 3, 0},
               {"target", 16, 1, 0x20, 3, 0}};
  AddObject(f.sections[2], BuildCoff(d), "?Reloc");
  m.PutBase(0, WriteBase(f));
  VirusLibrary* lib = m.Load(0);
  uint32_t entry = RoutineEntry(lib, 0, 0);
  ASSERT_NE(entry, 0u);
  const uint8_t* code = (const uint8_t*)(uintptr_t)entry;
  uint32_t dataAt = entry + 32;  // .text is 28 bytes, rounded up to 32
  EXPECT_EQ(Get32(Bytes(code, code + 28), 1), dataAt + 4) << "type 6 adds S to the field";
  uint32_t target = entry + 16;
  uint32_t t20 = entry + 9;
  EXPECT_EQ(Get32(Bytes(code, code + 28), 9), target - t20 - 4) << "type 20 stores S - T - 4";
  EXPECT_EQ(Get32(Bytes(code, code + 28), 24), target - (entry + 24) - 4) << "type 4 likewise";
  EXPECT_EQ(Get32(Bytes(code, code + 28), 13), 0xC3332211u) << "type 7 is left alone";
  EXPECT_EQ(CallEntry(entry), dataAt + 4);
  EXPECT_EQ(((const uint8_t*)(uintptr_t)dataAt)[0], 0x5A);
}

TEST(Relocations, UninitialisedSectionsAreZeroedAndDiscardableOnesSkipped) {
  LibraryMachine m;
  BaseFileSpec f;
  CoffDesc d;
  CoffSectionDesc debug;
  debug.name = ".debug$S";
  debug.data = Bytes(64, 0xEE);
  debug.characteristics = 0x42000040;  // discardable
  CoffSectionDesc text;
  text.data = {0xA1, 0, 0, 0, 0, 0xC2, 0x08, 0x00};  // mov eax, [bss]
  text.relocs = {{1, 2, 6}};
  CoffSectionDesc bss;
  bss.name = ".bss";
  bss.characteristics = 0xC0000080;
  bss.bssSize = 64;
  CoffSectionDesc drectve;
  drectve.name = ".drectve";
  drectve.data = Bytes(8, 0x20);
  drectve.characteristics = 0x00100A00;  // link information
  d.sections = {debug, text, bss, drectve};
  d.symbols = {{EntryNameOf("?Bss", false), 0, 2, 0x20, 2, 0}, {".text", 0, 2, 0, 3, 0}, {".bss", 0, 3, 0, 3, 0}};
  AddObject(f.sections[2], BuildCoff(d), "?Bss");
  m.PutBase(0, WriteBase(f));
  VirusLibrary* lib = m.Load(0);
  uint32_t entry = RoutineEntry(lib, 0, 0);
  ASSERT_NE(entry, 0u);
  EXPECT_EQ(entry, (uint32_t)(uintptr_t)lib->code) << "the discardable section took no room";
  EXPECT_EQ(CallEntry(entry), 0u) << "the .bss word reads as zero";
  EXPECT_EQ(lib->codeUsed, 16u + 64u);
}


TEST(Relocations, TypesOneThreeAndFiveAddTheSymbolValue) {
  LibraryMachine m;
  BaseFileSpec f;
  CoffDesc d;
  CoffSectionDesc text;
  text.data = Answer(0);
  text.data.resize(16, 0x90);
  text.data.insert(text.data.end(), {0x10, 0, 0, 0, 0x20, 0, 0, 0, 0x30, 0, 0, 0});
  text.relocs = {{16, 2, 1}, {20, 2, 3}, {24, 2, 5}};
  CoffSectionDesc data;
  data.name = ".data";
  data.data = Bytes(8, 0x5A);
  data.characteristics = 0xC0000040;
  d.sections = {text, data};
  d.symbols = {{EntryNameOf("?Add", false), 0, 1, 0x20, 2, 0}, {".text", 0, 1, 0, 3, 0}, {".data", 0, 2, 0, 3, 0}};
  AddObject(f.sections[2], BuildCoff(d), "?Add");
  m.PutBase(0, WriteBase(f));
  VirusLibrary* lib = m.Load(0);
  uint32_t entry = RoutineEntry(lib, 0, 0);
  ASSERT_NE(entry, 0u);
  const uint8_t* code = (const uint8_t*)(uintptr_t)entry;
  Bytes fields(code + 16, code + 28);
  uint32_t dataAt = entry + 32;  // .text is 28 bytes: .data starts 32 bytes on
  EXPECT_EQ(Get32(fields, 0), dataAt + 0x10) << "type 1";
  EXPECT_EQ(Get32(fields, 4), dataAt + 0x20) << "type 3";
  EXPECT_EQ(Get32(fields, 8), dataAt + 0x30) << "type 5";
}

TEST(Symbols, AuxiliaryRecordsAreSteppedOverAndCounted) {
  // Symbol 0 has one auxiliary record whose bytes read like an exported
  // "?Aux": it is no symbol. The relocation names the symbol after it by its
  // table index 2 (auxiliary records count).
  LibraryMachine m;
  BaseFileSpec f;
  CoffDesc d;
  CoffSectionDesc text;
  text.data = {0xB8, 0, 0, 0, 0, 0xC2, 0x08, 0x00};  // mov eax, imm32 (DIR32 to "?Value")
  text.data.resize(16, 0x90);
  text.data.insert(text.data.end(), {1, 2, 3, 4});
  text.relocs = {{1, 2, 6}};
  d.sections = {text};
  d.symbols = {{".text", 0, 1, 0, 3, 1}, {"?Value", 16, 1, 0, 2, 0}, {EntryNameOf("?Aux", false), 0, 1, 0x20, 2, 0}};
  Bytes image = BuildCoff(d);
  uint32_t aux = Get32(image, 8) + 18;
  memcpy(&image[aux], "?Aux", 4);
  image[aux + 12] = 1;     // section 1
  image[aux + 14] = 0x20;  // function
  image[aux + 16] = 2;     // external
  AddObject(f.sections[2], image, "?Aux");
  m.PutBase(0, WriteBase(f));
  VirusLibrary* lib = m.Load(0);
  uint32_t entry = RoutineEntry(lib, 0, 0);
  ASSERT_NE(entry, 0u) << "the symbols after the auxiliary record are read";
  EXPECT_EQ(CallEntry(entry), entry + 16) << "relocated against ?Value";
  uint32_t address = 0;
  EXPECT_TRUE(SymbolFind(lib, Crc("?Value"), &address));
  EXPECT_EQ(address, entry + 16);
  EXPECT_FALSE(SymbolFind(lib, Crc("?Aux"), &address));
}

TEST(Symbols, NamesOfUpTo259CharactersAreUsed) {
  LibraryMachine m;
  BaseFileSpec f;
  std::string used = "?" + std::string(258, 'u');
  std::string unused = "?" + std::string(259, 'v');
  AddObject(f.sections[0], NamedFunctionObject({{used, 1}, {unused, 2}}, 2, 0));
  m.PutBase(0, WriteBase(f));
  VirusLibrary* lib = m.Load(0);
  uint32_t address = 0;
  EXPECT_TRUE(SymbolFind(lib, Crc(used), &address));
  EXPECT_FALSE(SymbolFind(lib, Crc(unused), &address));
}

TEST(Entries, SectionZeroObjectsUseSlotZero) {
  // A section-0 object's routine slot is 0: its entries named after its
  // prefix land there, and section 2 counts on from the section-0 total.
  LibraryMachine m;
  BaseFileSpec f;
  AddObject(f.sections[0], RoutineObject("?Zero", 41, 42), "?Zero");
  AddObject(f.sections[2], RoutineObject("?Two", 6, 8), "?Two");
  m.PutBase(0, WriteBase(f));
  VirusLibrary* lib = m.Load(0);
  EXPECT_EQ(SlotAnswer(lib, 0, 0), 41u);
  EXPECT_EQ(SlotAnswer(lib, 0, 1), 42u);
  EXPECT_EQ(SlotAnswer(lib, 1, 0), 6u);
  EXPECT_EQ(SlotAnswer(lib, 1, 1), 8u);
}

}  // namespace
}  // namespace libtest
