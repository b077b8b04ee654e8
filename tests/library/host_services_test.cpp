// Host services called from linked library code: forwarding to the runtime
// and the engine, the routines' heap, and what happens with bad arguments.
#include "scanner/library/cqel.h"
#include "tests/library/fake_engine.h"
#include "tests/library/library_test_support.h"

namespace libtest {
namespace {

using namespace libfmt;

// A routine calling host service `place` with constant arguments:
// push args (last first); push the object; call; ret 8.
Bytes ServiceCall(uint32_t place, const std::vector<uint32_t>& args, const std::string& prefix) {
  CoffDesc d;
  CoffSectionDesc text;
  for (size_t i = args.size(); i-- > 0;) {
    text.data.push_back(0x68);
    Put32(text.data, args[i]);
  }
  if (place != 8) {  // service 8 takes nothing
    text.data.insert(text.data.end(), {0xFF, 0x74, 0x24, (uint8_t)(4 + 4 * args.size())});
  }
  uint32_t callAt = (uint32_t)text.data.size() + 1;
  text.data.insert(text.data.end(), {0xE8, 0, 0, 0, 0, 0xC2, 0x08, 0x00});
  text.relocs.push_back({callAt, 1, 20});
  d.sections.push_back(text);
  d.symbols.push_back({EntryNameOf(prefix, false), 0, 1, 0x20, 2, 0});
  d.symbols.push_back({ForgeName("_" + std::string("Service") + std::to_string(place), kHostServiceKeys[place]), 0, 0,
                       0x20, 2, 0});
  return BuildCoff(d);
}

class HostServices : public ::testing::Test {
 protected:
  // Loads one routine per call description; call i is slot i.
  void Load(const std::vector<std::pair<uint32_t, std::vector<uint32_t>>>& calls) {
    BaseFileSpec f;
    for (size_t i = 0; i < calls.size(); ++i) {
      std::string prefix = "?Call" + std::to_string(i);
      AddObject(f.sections[2], ServiceCall(calls[i].first, calls[i].second, prefix), prefix);
    }
    m.PutBase(0, WriteBase(f));
    lib = m.Load(0);
  }
  uint32_t Call(uint32_t slot, int* ok = nullptr) {
    uint32_t entry = RoutineEntry(lib, slot, 0);
    EXPECT_NE(entry, 0u);
    return GuardedCall(entry, q, ok);
  }
  uint32_t Addr(const void* p) { return (uint32_t)(uintptr_t)p; }
  void SetUp() override { q = (CQEL*)calloc(1, sizeof(CQEL)); }
  void TearDown() override { free(q); }

  LibraryMachine m;
  VirusLibrary* lib = nullptr;
  CQEL* q = nullptr;
  FakeEngine engine;
};

TEST_F(HostServices, ScannedFileReadWriteSeekTruncate) {
  m.Put("scan.bin", Bytes{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'});
  static char buffer[16];
  memset(buffer, 0, sizeof buffer);
  Load({{0, {3}}, {1, {Addr(buffer), 4}}, {2, {Addr("AB"), 2}}, {0, {8}}, {3, {(uint32_t)-3}}});
  // No engine attached: every file service fails.
  EXPECT_EQ(Call(0), kInvalid32);
  EXPECT_EQ(Call(1), 0u);
  engine.file = FileOpen(m.Ctx(), "C:\\Lib\\scan.bin", kAccessRead | kAccessWrite, kOpenExisting);
  ASSERT_NE(engine.file, (HANDLE)0);
  AttachEngine(lib, engine.Engine());
  EXPECT_EQ(Call(0), 3u);
  EXPECT_EQ(Call(1), 4u);
  EXPECT_STREQ(buffer, "3456");
  EXPECT_EQ(Call(2), 2u);  // at 7
  EXPECT_EQ(Call(3), 8u);
  Call(4);                 // from 8 back 3: the file ends at 5
  EXPECT_EQ(FileSize(m.Ctx(), engine.file), 5u);
  FileSeek(m.Ctx(), engine.file, 0, 0);
  char all[8] = {0};
  EXPECT_EQ(FileRead(m.Ctx(), engine.file, all, 8), 5u);
  EXPECT_STREQ(all, "01234");
  FileClose(m.Ctx(), engine.file);
}

TEST_F(HostServices, BadBuffersFailOrFaultInsideTheServiceAndNothingStaysBroken) {
  m.Put("scan.bin", Bytes(100, 'x'));
  static char good[8];
  Load({{1, {0, 4}}, {1, {0x10, 4}}, {1, {0xFFFFFFF0u, 0x100}}, {1, {Addr(good), 4}}, {16, {0x20}}});
  engine.file = FileOpen(m.Ctx(), "C:\\Lib\\scan.bin", kAccessRead, kOpenExisting);
  AttachEngine(lib, engine.Engine());
  int ok = -1;
  EXPECT_EQ(Call(0, &ok), 0u) << "null buffer";
  EXPECT_EQ(ok, 1);
  Call(1, &ok);
  EXPECT_EQ(ok, 0) << "unmapped buffer: a contained fault";
  EXPECT_EQ(Call(2, &ok), 0u) << "a range that wraps";
  EXPECT_EQ(ok, 1);
  Call(4, &ok);
  EXPECT_EQ(ok, 0) << "an unmapped path text";
  for (int i = 0; i < 50; ++i) {
    Call(1, &ok);
    ASSERT_EQ(ok, 0);
  }
  // The runtime and the stand-in are untouched: reads go on working.
  EXPECT_EQ(Call(3, &ok), 4u);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(memcmp(good, "xxxx", 4), 0);
  FileClose(m.Ctx(), engine.file);
}

// Services 4 to 9 exercised directly through their symbol table addresses.
typedef void*(__attribute__((stdcall)) * AllocFn)(void*, uint32_t);
typedef void(__attribute__((stdcall)) * FreeFn)(void*, void*);
typedef void*(__attribute__((stdcall)) * ReallocFn)(void*, void*, uint32_t);

TEST_F(HostServices, RoutineMemoryTrackedAndUntracked) {
  Load({{8, {}}});
  EXPECT_EQ(Call(0), Call(0)) << "service 8 takes nothing and returns";
  auto place = [&](uint32_t i) { return lib->symbols[i].address; };
  AllocFn tracked = (AllocFn)(uintptr_t)place(4);
  FreeFn trackedFree = (FreeFn)(uintptr_t)place(5);
  AllocFn alloc = (AllocFn)(uintptr_t)place(6);
  FreeFn memFree = (FreeFn)(uintptr_t)place(7);
  ReallocFn realloc = (ReallocFn)(uintptr_t)place(9);

  EXPECT_EQ(tracked(q, 16), nullptr) << "no engine to register with";
  AttachEngine(lib, engine.Engine());
  void* a = tracked(q, 100);
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(engine.tracked.size(), 1u);
  EXPECT_EQ(tracked(q, 0x5000001), nullptr) << "above 80 MiB";
  memset(a, 0x11, 100);
  // Growing a tracked block moves it; the engine's list follows.
  void* b = realloc(q, a, 5000);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(((uint8_t*)b)[99], 0x11);
  ASSERT_EQ(engine.tracked.size(), 1u);
  EXPECT_EQ(engine.tracked[0], b);
  // Freeing it with the plain service leaves the engine's list too.
  memFree(q, b);
  EXPECT_TRUE(engine.tracked.empty());
  // The engine's release after the file.
  void* c = tracked(q, 64);
  FreeRoutineBlock(lib, engine.tracked[0]);
  engine.tracked.clear();
  EXPECT_EQ(RoutineBlockLive(&lib->heap, c), 0);
  // Untracked memory; bad and repeated frees are ignored.
  void* d = alloc(q, 1 << 20);
  ASSERT_NE(d, nullptr);
  memset(d, 0x22, 1 << 20);
  memFree(q, d);
  memFree(q, d);
  memFree(q, (void*)0x10);
  memFree(q, (uint8_t*)alloc(q, 32) + 4);
  trackedFree(q, alloc(q, 8));  // not tracked: stays live
  EXPECT_EQ(realloc(q, nullptr, 8), nullptr);
  // The engine's limit of registrations.
  engine.trackLimit = 1;
  void* e = tracked(q, 8);
  EXPECT_NE(e, nullptr);
  EXPECT_EQ(tracked(q, 8), nullptr);
  trackedFree(q, e);
  EXPECT_TRUE(engine.tracked.empty());
  EXPECT_EQ(RoutineBlockLive(&lib->heap, e), 0);
}

TEST_F(HostServices, RoutineHeapSurvivesDamage) {
  RoutineHeap h;
  RoutineHeapInit(&h, m.Ctx());
  std::vector<void*> blocks;
  for (int i = 0; i < 1000; ++i) blocks.push_back(RoutineAlloc(&h, (uint32_t)(i * 37 % 3000 + 1)));
  for (size_t i = 0; i < blocks.size(); i += 2) EXPECT_EQ(RoutineFree(&h, blocks[i]), 1);
  // A routine writes over freed blocks and the headers of live ones.
  for (size_t i = 0; i < blocks.size(); i += 2) memset((uint8_t*)blocks[i] - 16, 0xFF, 24);
  memset((uint8_t*)blocks[1] - 16, 0, 16);
  EXPECT_EQ(RoutineFree(&h, blocks[1]), 0) << "a damaged header is refused";
  for (int i = 0; i < 2000; ++i) {
    void* p = RoutineAlloc(&h, (uint32_t)(i % 500 + 1));
    ASSERT_NE(p, nullptr);
    memset(p, 0x33, (size_t)(i % 500 + 1));
  }
  void* big = RoutineAlloc(&h, 3u << 20);
  ASSERT_NE(big, nullptr);
  void* bigger = RoutineRealloc(&h, big, 5u << 20);
  ASSERT_NE(bigger, nullptr);
  EXPECT_EQ(RoutineFree(&h, big == bigger ? nullptr : big), 0);
  EXPECT_EQ(RoutineFree(&h, bigger), 1);
  RoutineHeapRelease(&h);
}

TEST_F(HostServices, ReallocCopiesNoMoreThanTheOldBlockHolds) {
  // A routine that wrote over the size in its block's header: growing the
  // block copies what the block can hold, never past its pages.
  RoutineHeap h;
  RoutineHeapInit(&h, m.Ctx());
  for (uint32_t size : {100u, 300000u}) {
    uint8_t* block = (uint8_t*)RoutineAlloc(&h, size);
    ASSERT_NE(block, nullptr);
    memset(block, 0x5C, size);
    uint32_t damaged = 0x3FFFFFF0u;
    memcpy(block - 12, &damaged, 4);
    uint8_t* grown = (uint8_t*)RoutineRealloc(&h, block, 16u << 20);
    ASSERT_NE(grown, nullptr) << size;
    EXPECT_EQ(grown[0], 0x5C);
    EXPECT_EQ(grown[size - 1], 0x5C);
    EXPECT_EQ(RoutineBlockLive(&h, block), 0);
    EXPECT_EQ(RoutineFree(&h, grown), 1);
  }
  RoutineHeapRelease(&h);
}

TEST_F(HostServices, EngineServicesAndHandles) {
  m.Put("other.bin", Bytes(33, 'o'));
  Load({{19, {1}}, {19, {7}}, {12, {}}, {15, {0}}});
  EXPECT_EQ(Call(0), 0u) << "no engine: the sweep cannot be asked for";
  EXPECT_EQ(Call(1), 6u);
  EXPECT_EQ(Call(2), 1u);
  AttachEngine(lib, engine.Engine());
  EXPECT_NE(Call(0), 0u);
  EXPECT_EQ(engine.sweep, 1);
  EXPECT_EQ(Call(2), 0u);
  engine.copyResult = 0;
  EXPECT_EQ(Call(2), 1u);
  EXPECT_EQ(engine.copies, 2);
  // A routine may not close the engine's own handles.
  typedef void(__attribute__((stdcall)) * CloseFn)(void*, HANDLE);
  CloseFn closeFile = (CloseFn)(uintptr_t)lib->symbols[14].address;
  engine.file = FileOpen(m.Ctx(), "C:\\Lib\\other.bin", kAccessRead, kOpenExisting);
  closeFile(q, engine.file);
  EXPECT_EQ(FileSize(m.Ctx(), engine.file), 33u);
  FileClose(m.Ctx(), engine.file);
}

}  // namespace
}  // namespace libtest

namespace libtest {
namespace {

// The services' arguments in the order routines push them, called through
// the addresses the symbol table binds routines to.
typedef uint32_t(__attribute__((stdcall)) * LayerSeekFn)(void*, int32_t, uint32_t);
typedef uint32_t(__attribute__((stdcall)) * LayerReadFn)(void*, void*, uint32_t);
typedef uint32_t(__attribute__((stdcall)) * HandleReadFn)(void*, HANDLE, void*, uint32_t);
typedef void(__attribute__((stdcall)) * HandleCloseFn)(void*, HANDLE);
typedef uint32_t(__attribute__((stdcall)) * HandleSizeFn)(void*, HANDLE);
typedef HANDLE(__attribute__((stdcall)) * OpenFn)(void*, const char*, uint32_t, uint32_t);
typedef uint32_t(__attribute__((stdcall)) * CodeFn)(void*, uint32_t);
typedef uint32_t(__attribute__((stdcall)) * ToWideFn)(void*, const char*, WCHAR*, uint32_t);
typedef uint32_t(__attribute__((stdcall)) * ToAnsiFn)(void*, const WCHAR*, char*, uint32_t);
typedef uint32_t(__attribute__((stdcall)) * RegOpenFn)(void*, HKEY, const char*, HKEY*);
typedef uint32_t(__attribute__((stdcall)) * RegSetFn)(void*, HKEY, const char*, uint32_t, uint32_t, const void*,
                                                       uint32_t);
typedef uint32_t(__attribute__((stdcall)) * RegKeyFn)(void*, HKEY);
typedef uint32_t(__attribute__((stdcall)) * RegDeleteFn)(void*, HKEY, const char*);
typedef uint32_t(__attribute__((stdcall)) * RegQueryFn)(void*, HKEY, const char*, uint32_t*, uint32_t*, void*,
                                                         uint32_t*);

struct ServiceTable {
  explicit ServiceTable(VirusLibrary* lib) : lib(lib) {}
  template <typename F>
  F At(uint32_t place) const {
    EXPECT_EQ(lib->symbols[place].key, kHostServiceKeys[place]);
    return (F)(uintptr_t)lib->symbols[place].address;
  }
  VirusLibrary* lib;
};

TEST(HostServiceArguments, LayerFileAnyHandleAndOpen) {
  LibraryMachine m;
  m.Put("layer.bin", Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'});
  m.Put("other.bin", Bytes(33, 'o'));
  m.PutBase(0, WriteBase(NamedFile("Virus.A")));
  VirusLibrary* lib = m.Load(0);
  ServiceTable t(lib);
  FakeEngine engine;
  std::vector<uint8_t> object(sizeof(CQEL));
  void* q = object.data();
  AttachEngine(lib, engine.Engine());

  LayerSeekFn layerSeek = t.At<LayerSeekFn>(10);
  LayerReadFn layerRead = t.At<LayerReadFn>(11);
  EXPECT_EQ(layerSeek(q, 0, 0), kInvalid32) << "no layer file yet";
  engine.layer = FileOpen(m.Ctx(), "C:\\Lib\\layer.bin", kAccessRead, kOpenExisting);
  ASSERT_NE(engine.layer, (HANDLE)0);
  EXPECT_EQ(layerSeek(q, -3, 2), 7u) << "from the end";
  EXPECT_EQ(layerSeek(q, -5, 1), 2u) << "from the current position";
  char got[8] = {0};
  EXPECT_EQ(layerRead(q, got, 3), 3u);
  EXPECT_STREQ(got, "cde");
  EXPECT_EQ(layerSeek(q, 8, 0), 8u) << "from the start";
  memset(got, 0, sizeof got);
  EXPECT_EQ(layerRead(q, got, 5), 2u);
  EXPECT_STREQ(got, "ij");
  EXPECT_EQ(layerSeek(q, 0, 3), kInvalid32) << "no such origin";

  OpenFn open = t.At<OpenFn>(16);
  HandleReadFn read = t.At<HandleReadFn>(13);
  HandleSizeFn size = t.At<HandleSizeFn>(15);
  HandleCloseFn close = t.At<HandleCloseFn>(14);
  EXPECT_EQ(open(q, "C:\\Lib\\missing.bin", kAccessRead, kOpenExisting), (HANDLE)0);
  HANDLE h = open(q, "C:\\Lib\\other.bin", kAccessRead, kOpenExisting);
  ASSERT_NE(h, (HANDLE)0);
  EXPECT_EQ(size(q, h), 33u);
  memset(got, 0, sizeof got);
  EXPECT_EQ(read(q, h, got, 4), 4u);
  EXPECT_STREQ(got, "oooo");
  close(q, h);
  EXPECT_EQ(FileSize(m.Ctx(), h), kInvalid32) << "the routine's own handle is closed";
  // The disposition is the third argument: a new file is made.
  HANDLE made = open(q, "C:\\Lib\\made.bin", kAccessRead | kAccessWrite, kCreateNew);
  ASSERT_NE(made, (HANDLE)0);
  EXPECT_EQ(size(q, made), 0u);
  close(q, made);
  EXPECT_EQ(open(q, "C:\\Lib\\made.bin", kAccessRead | kAccessWrite, kCreateNew), (HANDLE)0);

  // Service 19: codes other than 1 answer code - 1 and ask for nothing.
  CodeFn sweep = t.At<CodeFn>(19);
  EXPECT_EQ(sweep(q, 0), 0xFFFFFFFFu);
  EXPECT_EQ(sweep(q, 2), 1u);
  EXPECT_EQ(engine.sweep, 0);
  EXPECT_NE(sweep(q, 1), 0u);
  EXPECT_EQ(engine.sweep, 1);

  // Neither close service takes the engine's own handles; the registry one
  // closes any other handle, as the native close does.
  close(q, engine.layer);
  EXPECT_EQ(t.At<RegKeyFn>(24)(q, (HKEY)engine.layer), 6u);  // ERROR_INVALID_HANDLE
  EXPECT_EQ(FileSize(m.Ctx(), engine.layer), 10u) << "the layer file is still open";
  HANDLE mine = open(q, "C:\\Lib\\other.bin", kAccessRead, kOpenExisting);
  ASSERT_NE(mine, (HANDLE)0);
  EXPECT_EQ(t.At<RegKeyFn>(24)(q, (HKEY)mine), 0u);
  EXPECT_EQ(FileSize(m.Ctx(), mine), kInvalid32);
  FileClose(m.Ctx(), engine.layer);
}

TEST(HostServiceArguments, TextConversions) {
  LibraryMachine m;
  m.PutBase(0, WriteBase(NamedFile("Virus.A")));
  VirusLibrary* lib = m.Load(0);
  ServiceTable t(lib);
  std::vector<uint8_t> object(sizeof(CQEL));
  void* q = object.data();
  WCHAR wide[16];
  memset(wide, 0xFF, sizeof wide);
  EXPECT_NE(t.At<ToWideFn>(20)(q, "Run.exe", wide, sizeof wide), 0u);
  const WCHAR expectWide[] = {'R', 'u', 'n', '.', 'e', 'x', 'e', 0};
  EXPECT_EQ(memcmp(wide, expectWide, sizeof expectWide), 0);
  char ansi[16];
  memset(ansi, 0x7F, sizeof ansi);
  EXPECT_NE(t.At<ToAnsiFn>(21)(q, expectWide, ansi, sizeof ansi), 0u);
  EXPECT_STREQ(ansi, "Run.exe");
}

TEST(HostServiceArguments, RegistryServicesForwardTheirArguments) {
  LibraryMachine m(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Probe]\n\"Name\"=\"value\"\n");
  m.PutBase(0, WriteBase(NamedFile("Virus.A")));
  VirusLibrary* lib = m.Load(0);
  ServiceTable t(lib);
  std::vector<uint8_t> object(sizeof(CQEL));
  void* q = object.data();

  HKEY key = 0;
  EXPECT_EQ(t.At<RegOpenFn>(22)(q, kHkeyLocalMachine, "SOFTWARE\\Probe", &key), 0u);
  ASSERT_NE(key, 0u);
  HKEY none = 0;
  EXPECT_NE(t.At<RegOpenFn>(22)(q, kHkeyLocalMachine, "SOFTWARE\\NoSuchKey", &none), 0u);

  RegQueryFn query = t.At<RegQueryFn>(26);
  uint32_t type = 0, size = 16;
  char data[16] = {0};
  EXPECT_EQ(query(q, key, "Name", nullptr, &type, data, &size), 0u);
  EXPECT_EQ(type, 1u);  // REG_SZ
  EXPECT_EQ(size, 6u);
  EXPECT_STREQ(data, "value");

  const uint32_t number = 0x12345678;
  EXPECT_EQ(t.At<RegSetFn>(23)(q, key, "Number", 0, 4, &number, 4), 0u);
  uint32_t back = 0;
  size = 4;
  EXPECT_EQ(query(q, key, "Number", nullptr, &type, &back, &size), 0u);
  EXPECT_EQ(type, 4u);  // REG_DWORD
  EXPECT_EQ(back, number);

  EXPECT_EQ(t.At<RegDeleteFn>(25)(q, key, "Number"), 0u);
  size = 4;
  EXPECT_EQ(query(q, key, "Number", nullptr, &type, &back, &size), 2u);  // ERROR_FILE_NOT_FOUND
  EXPECT_EQ(t.At<RegKeyFn>(24)(q, key), 0u);
}

}  // namespace
}  // namespace libtest
