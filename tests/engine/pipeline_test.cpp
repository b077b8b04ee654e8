// The scan pipeline's rules against a stand-in library whose routines are
// native functions of this test: the order and meaning of routine calls, the
// answers they give, repairs, layers and their limit, tracked blocks. The
// library loader is not linked; this file defines the library interface.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "common/keys.h"
#include "common/quarantine.h"
#include "common/md5.h"
#include "platform/nt/stand_in.h"
#include "scanner/engine/engine.h"
#include "scanner/engine/engine_internal.h"
#include "scanner/library/host_bridge.h"

namespace fs = std::filesystem;

// The fault guard's recovery writes into its own instrumented frames, which
// AddressSanitizer reports; the fault tests run in the plain build.
#if defined(__SANITIZE_ADDRESS__)
#define SKIP_FAULT_TEST_UNDER_ASAN() GTEST_SKIP() << "fault recovery is checked in the plain build"
#else
#define SKIP_FAULT_TEST_UNDER_ASAN() (void)0
#endif

// ---- the stand-in library ---------------------------------------------------

namespace {

typedef uint32_t(__attribute__((stdcall)) * Entry)(CQEL*, CQEL*);

struct FakeLibrary {
  int loads = 1;
  std::vector<uint8_t> checksum, multi, packer, user;
  uint32_t checksumCount = 0, multiCount = 0, packerCount = 0, userCount = 0;
  Entry entries[8][2] = {};
  Entry special[6] = {};
} lib;

ScanEngine* attached = nullptr;
RuntimeContext ctx;

}  // namespace

struct VirusLibrary {
  int unused;
};

VirusLibrary* CreateLibrary(RuntimeContext*) { return new VirusLibrary(); }
void AttachEngine(VirusLibrary*, ScanEngine* engine) { attached = engine; }
int LoadLibraryFiles(VirusLibrary*, const char*, uint32_t) { return lib.loads; }
void GetLibraryTables(const VirusLibrary*, LibraryTables* out) {
  out->checksum = lib.checksum.data();
  out->checksumCount = lib.checksumCount;
  out->multi = lib.multi.data();
  out->multiCount = lib.multiCount;
  out->multiBytes = (uint32_t)lib.multi.size();
  out->packer = lib.packer.data();
  out->packerCount = lib.packerCount;
  out->packerBytes = (uint32_t)lib.packer.size();
  out->userDigests = lib.user.data();
  out->userCount = lib.userCount;
}
uint32_t RoutineEntry(const VirusLibrary*, uint32_t slot, int which) {
  return slot < 8 ? (uint32_t)(uintptr_t)lib.entries[slot][which] : 0;
}
uint32_t SpecialEntryAddress(const VirusLibrary*, SpecialEntry entry) {
  return (uint32_t)(uintptr_t)lib.special[entry];
}
void LookupVirusName(const VirusLibrary*, uint32_t kind, uint32_t index, char* out) {
  std::snprintf(out, 256, "Kind%u.%u", kind, index);
}
void ReleaseLibrary(VirusLibrary* l) { delete l; }
// Blocks the routines of this test register come from the runtime heap.
size_t blocksFreed = 0;
void FreeRoutineBlock(VirusLibrary*, void* block) {
  blocksFreed++;
  MemFree(&ctx, block);
}

namespace {

#define ROUTINE(name) uint32_t __attribute__((stdcall, force_align_arg_pointer)) name(CQEL*, CQEL* q)

// What the routines saw, and what they answer.
std::vector<std::string> calls;
uint32_t unitsPerPass = 1;
uint32_t answer0 = 7, answer1 = 7, answerGeneric = 7;
std::vector<uint8_t> seenTail;

void Log(const char* what, CQEL* q) { calls.push_back(std::string(what) + "@" + std::to_string(q->size)); }

ROUTINE(StartHook1) { Log("start1", q); return 0; }
ROUTINE(StartHook2) { Log("start2", q); return 0; }
ROUTINE(StopHook1) { Log("stop1", q); return 0; }

// The HEAD-like unit: the file's first 256 bytes (zero-filled), type 1.
uint32_t HeadUnit(CQEL* q) {
  HANDLE h = EngineScannedFile(attached);
  std::memset(q->unitWindow, 0, 256);
  FileSeek(&ctx, h, 0, 0);
  FileRead(&ctx, h, q->unitWindow, q->size < 256 ? q->size : 256);
  q->unitType = 1;
  return 1;
}

// One HEAD-like unit per pass (unit type 1, the file's first bytes), then,
// for layers, one unit of type 9 that the "continue" packer recognises.
ROUTINE(NextUnit) {
  if (q->passFlag5 == 0) {
    q->passFlag5 = 1;
    q->reserved20[0] = 0;
  }
  uint8_t n = q->reserved20[0]++;
  if (n == 0) {
    return HeadUnit(q);
  }
  if (n == 1 && unitsPerPass > 1) {
    q->unitType = 9;
    return 1;
  }
  return 0;
}

ROUTINE(Check) { Log("check", q); return answer0; }
ROUTINE(Repair) { Log("repair", q); return answer1; }
ROUTINE(Generic) {
  Log("generic", q);
  const uint8_t* tail = (const uint8_t*)(uintptr_t)q->matchedTail;
  seenTail.assign(tail, tail + 15);
  if (answerGeneric == 8) {
    HANDLE h = EngineScannedFile(attached);
    FileSeek(&ctx, h, 0, 0);
    FileWrite(&ctx, h, "CLEAN", 5);
    FileSetEnd(&ctx, h);
  }
  return answerGeneric;
}
// Faults the way foreign code does: a store to an unmapped page (kept out of
// the sanitizers' sight, which would stop the test first).
__attribute__((no_sanitize("address", "undefined"))) void Fault() {
  volatile uintptr_t address = 0x10;
  *(volatile uint32_t*)address = 1;
}

ROUTINE(Crash) {
  Fault();
  return 6;
}
ROUTINE(RepairCrash) {
  HANDLE h = EngineScannedFile(attached);
  FileSeek(&ctx, h, 0, 0);
  FileWrite(&ctx, h, "HALF", 4);
  Fault();
  return 8;
}

// A packer whose every layer is a new text of growing length.
uint32_t layersWritten = 0;
ROUTINE(PackerCheck) { Log("pcheck", q); return 10; }
ROUTINE(PackerUnpack) {
  Log("unpack", q);
  HANDLE h = EngineScannedFile(attached);
  std::string text = "layer " + std::to_string(layersWritten++) + " of a test packer";
  FileSeek(&ctx, h, 0, 0);
  FileWrite(&ctx, h, text.data(), (uint32_t)text.size());
  FileSetEnd(&ctx, h);
  return 12;
}
// An unpack entry that writes the packed file itself again.
ROUTINE(SameUnpack) {
  Log("same", q);
  if (layersWritten++ >= 2) return 0;
  EngineCopyLayerOverFile(attached);
  return 12;
}
// Like NextUnit with two units per pass, but each file or layer (told
// apart by size) keeps its own place, so a pass goes on after a nested one.
std::map<uint32_t, uint8_t> unitOfSize;
ROUTINE(LevelNextUnit) {
  if (q->passFlag5 == 0) {
    q->passFlag5 = 1;
    unitOfSize[q->size] = 0;
  }
  uint8_t n = unitOfSize[q->size]++;
  if (n == 0) {
    return HeadUnit(q);
  }
  if (n == 1) {
    q->unitType = 9;
    return 1;
  }
  return 0;
}

// Present in the outer file only (21 bytes), never in its layers.
ROUTINE(OuterOnlyCheck) {
  Log("outer", q);
  return q->size == 21 ? 6 : 7;
}
ROUTINE(ContinueCheck) { return 10; }
ROUTINE(ContinueUnpack) { return 10; }

ROUTINE(Allocating) {
  void* block = MemAlloc(&ctx, 1000);
  EngineTrackBlock(attached, block);
  return 7;
}

// ---- records --------------------------------------------------------------

void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; i++) b.push_back((uint8_t)(v >> (8 * i)));
}

struct CheckSpec {
  uint16_t offset;
  std::string bytes;
};

std::vector<uint8_t> Record(uint8_t type, const std::vector<CheckSpec>& checks, uint32_t routine,
                            std::vector<uint8_t> params = {}) {
  std::vector<uint8_t> r = {type, (uint8_t)checks.size()};
  for (const CheckSpec& c : checks) {
    r.push_back((uint8_t)c.offset);
    r.push_back((uint8_t)(c.offset >> 8));
    r.push_back((uint8_t)c.bytes.size());
    Put32(r, Crc32(c.bytes.data(), (uint32_t)c.bytes.size()));
  }
  params.resize(11, 0);
  r.insert(r.end(), params.begin(), params.end());
  Put32(r, routine);
  return r;
}

void AddMulti(const std::vector<uint8_t>& r) {
  lib.multi.insert(lib.multi.end(), r.begin(), r.end());
  lib.multiCount++;
}
void AddPacker(const std::vector<uint8_t>& r) {
  lib.packer.insert(lib.packer.end(), r.begin(), r.end());
  lib.packerCount++;
}
void AddChecksum(uint8_t type, uint16_t offset, const std::string& bytes) {
  lib.checksum.push_back(type);
  lib.checksum.push_back((uint8_t)offset);
  lib.checksum.push_back((uint8_t)(offset >> 8));
  lib.checksum.push_back((uint8_t)bytes.size());
  Put32(lib.checksum, Crc32(bytes.data(), (uint32_t)bytes.size()));
  lib.checksumCount++;
}
void AddUser(const std::string& content, bool wrongDigest = false) {
  std::vector<uint8_t> r(30, 0);
  std::memcpy(r.data(), "2026-12-01", 10);
  uint32_t n = (uint32_t)content.size();
  std::memcpy(r.data() + 10, &n, 4);
  Md5Digest(content.data(), n, r.data() + 14);
  if (wrongDigest) r[14] ^= 1;
  lib.user.insert(lib.user.end(), r.begin(), r.end());
  lib.userCount++;
}

// ---- fixture ----------------------------------------------------------------

class Pipeline : public ::testing::Test {
 protected:
  fs::path root;
  ScanRecord rec{};
  ScanEngine* engine = nullptr;

  void SetUp() override {
    lib = FakeLibrary();
    calls.clear();
    unitsPerPass = 1;
    answer0 = answer1 = answerGeneric = 7;
    layersWritten = 0;
    seenTail.clear();
    lib.special[kStartHook1] = StartHook1;
    lib.special[kStartHook2] = StartHook2;
    lib.special[kStopHook1] = StopHook1;
    lib.special[kNextUnit] = NextUnit;
    lib.special[kGenericRepair] = Generic;
    root = fs::temp_directory_path() / ("tw-pipeline-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "c" / "WINDOWS" / "Temp");
    std::ofstream(root / "machine.json")
        << "{\"drives\":{\"C\":{\"root\":\"c\",\"type\":\"fixed\"}},\"registry\":\"registry.reg\","
           "\"windows\":\"C:\\\\WINDOWS\",\"environment\":{\"Temp\":\"C:\\\\WINDOWS\\\\Temp\"},"
           "\"codePage\":1252,\"utcOffsetMinutes\":0,\"keyboard\":[],\"timeScale\":0.01}";
    std::ofstream(root / "registry.reg") << "Windows Registry Editor Version 5.00\r\n\r\n";
    char err[256] = {};
    ASSERT_EQ(TwNtInit((root / "machine.json").c_str(), err, sizeof err), 1) << err;
    RuntimeInit(&ctx);
    TwNtSetDisplaySink([](const char*, size_t, void*) {}, nullptr);
  }

  void TearDown() override {
    if (engine) DestroyEngine(engine);
    TwNtSetDisplaySink(nullptr, nullptr);
    fs::remove_all(root);
  }

  void Start(uint32_t options) {
    std::memset(&rec, 0, sizeof rec);
    rec.options = options;
    EngineSettings settings = {1, "C:\\Lib\\", &rec};
    engine = CreateEngine(&ctx, &settings);
    ASSERT_NE(engine, nullptr);
    calls.clear();
  }

  void Put(const std::string& name, const std::string& content) {
    std::ofstream(root / "c" / name, std::ios::binary) << content;
  }
  // A drive path below C:\ as the host names it.
  static std::string HostName(std::string name) {
    for (char& c : name)
      if (c == '\\') c = '/';
    return name;
  }
  std::string Get(const std::string& name) {
    std::ifstream f(root / "c" / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  uint32_t Scan(const std::string& name) {
    std::snprintf(rec.path, sizeof rec.path, "C:\\%s", name.c_str());
    return ScanFile(engine, &rec);
  }
  size_t TempFiles() {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(root / "c" / "WINDOWS" / "Temp")) n += e.is_regular_file();
    return n;
  }
};

// ---- creation ----------------------------------------------------------------

TEST_F(Pipeline, CreationFailsWhenTheLibraryDoesNotLoadAndCallsNoHook) {
  lib.loads = 0;
  std::memset(&rec, 0, sizeof rec);
  EngineSettings settings = {0, "C:\\Lib\\", &rec};
  EXPECT_EQ(CreateEngine(&ctx, &settings), nullptr);
  EXPECT_TRUE(calls.empty());
  // The backup store is prepared before the library's failure ends the
  // creation.
  for (const char* digit : {"0", "9", "a", "f"})
    EXPECT_TRUE(fs::is_directory(root / "c" / "tarnwell.bak" / digit)) << digit;
}

TEST_F(Pipeline, HooksRunAtCreationAndDestruction) {
  std::memset(&rec, 0, sizeof rec);
  EngineSettings settings = {0, "C:\\Lib\\", &rec};
  engine = CreateEngine(&ctx, &settings);
  ASSERT_NE(engine, nullptr);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].substr(0, 6), "start1");
  EXPECT_EQ(calls[1].substr(0, 6), "start2");
  calls.clear();
  DestroyEngine(engine);
  engine = nullptr;
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].substr(0, 5), "stop1");
}

// ---- the size window and the digest lists --------------------------------------

TEST_F(Pipeline, FilesOutsideTheSizeWindowAreNotExamined) {
  AddMulti(Record(1, {}, 0));  // would match every unit: its check is called first
  lib.entries[0][0] = Check;
  answer0 = 6;
  Start(kOptionLog);
  Put("six.bin", "123456");
  Put("seven.bin", "1234567");
  EXPECT_EQ(Scan("six.bin"), (uint32_t)kResultNone);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(Scan("seven.bin"), (uint32_t)kResultReported);
  // 100 MiB is the largest size examined (sparse files: nothing is read whole).
  Put("big.bin", "");
  fs::resize_file(root / "c" / "big.bin", 104857600);
  EXPECT_EQ(Scan("big.bin"), (uint32_t)kResultReported);
  fs::resize_file(root / "c" / "big.bin", 104857601);
  calls.clear();
  EXPECT_EQ(Scan("big.bin"), (uint32_t)kResultNone);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(rec.filesScanned, 4u);
}

TEST_F(Pipeline, UserDigestFirstEqualEntryWinsAndSizesMustMatch) {
  AddUser("a sample of twenty b", true);    // same size, other digest
  AddUser("another sample");                // other size
  AddUser("a sample of twenty b");          // index 2: the match
  AddUser("a sample of twenty b");
  Start(kOptionLog);
  Put("s.bin", "a sample of twenty b");
  EXPECT_EQ(Scan("s.bin"), (uint32_t)kResultReported);
  EXPECT_STREQ(rec.virusName, "Kind20.2");
  Put("t.bin", "a sample of twenty c");
  EXPECT_EQ(Scan("t.bin"), (uint32_t)kResultNone);
}

TEST_F(Pipeline, WithoutStartHook1OnlyTheDigestListsAreConsulted) {
  AddChecksum(1, 0, "VIRUS");
  AddUser("USERSAMPLE");
  lib.special[kStartHook1] = nullptr;
  Start(kOptionLog);
  Put("v.bin", "VIRUS in the head");
  Put("u.bin", "USERSAMPLE");
  EXPECT_EQ(Scan("v.bin"), (uint32_t)kResultNone);
  EXPECT_EQ(Scan("u.bin"), (uint32_t)kResultReported);
}

TEST_F(Pipeline, TheSweepUsesTheDigestListsOnly) {
  AddChecksum(1, 0, "VIRUS");
  Start(kOptionLog);
  engine->cqel->heuristic[0].size = 10;
  Md5Digest("HEURISTIC!", 10, engine->cqel->heuristic[0].md5);
  engine->cqel->heuristicCount = 1;
  rec.sweepRunning = 1;
  Put("v.bin", "VIRUS in the head");
  Put("h.bin", "HEURISTIC!");
  EXPECT_EQ(Scan("v.bin"), (uint32_t)kResultNone);
  EXPECT_EQ(Scan("h.bin"), (uint32_t)kResultReported);
  EXPECT_STREQ(rec.virusName, "Kind21.0");
}

// ---- routine calls of the multi-check table ------------------------------------

TEST_F(Pipeline, ARecordWhoseByte4IsZeroAsksItsRoutineFirst) {
  // n = 0: byte 4 is parameter byte 2 (0): the check entry decides alone.
  AddMulti(Record(1, {}, 0));
  lib.entries[0][0] = Check;
  Start(kOptionLog);
  Put("a.bin", "anything at all");
  answer0 = 7;  // undecided, and there are no checks: no match
  EXPECT_EQ(Scan("a.bin"), (uint32_t)kResultNone);
  answer0 = 6;
  EXPECT_EQ(Scan("a.bin"), (uint32_t)kResultReported);
  EXPECT_STREQ(rec.virusName, "Kind2.0");
}

TEST_F(Pipeline, ChecksFirstThenTheCheckEntry) {
  AddMulti(Record(1, {{0, "MARK"}, {6, "XY"}}, 0));
  lib.entries[0][0] = Check;
  Start(kOptionLog);
  Put("m.bin", "MARK..XY and more");
  Put("n.bin", "MARK..XZ and more");
  answer0 = 6;
  EXPECT_EQ(Scan("n.bin"), (uint32_t)kResultNone);
  EXPECT_TRUE(calls.empty());  // a failing check skips the record before its routine
  EXPECT_EQ(Scan("m.bin"), (uint32_t)kResultReported);
  ASSERT_EQ(calls.size(), 1u);
  answer0 = 7;
  EXPECT_EQ(Scan("m.bin"), (uint32_t)kResultNone);
}

TEST_F(Pipeline, MultiCheckComesBeforeTheChecksumTable) {
  AddChecksum(1, 0, "MARK");
  AddMulti(Record(1, {{0, "MARK"}}, 0xFFFFFFFFu));
  Start(kOptionLog);
  Put("m.bin", "MARK and more");
  EXPECT_EQ(Scan("m.bin"), (uint32_t)kResultReported);
  EXPECT_STREQ(rec.virusName, "Kind2.0");
}

// ---- repairs -------------------------------------------------------------------

TEST_F(Pipeline, RepairHandsOverToGenericRepairWithTheRecordsTail) {
  AddMulti(Record(1, {{0, "INFECTED"}}, 0, {0x11, 0x22, 0x33}));
  lib.entries[0][0] = Check;
  lib.entries[0][1] = Repair;
  answer0 = 6;
  answer1 = 9;
  answerGeneric = 8;
  Start(kOptionsDefault);
  Put("r.bin", "INFECTED program");
  EXPECT_EQ(Scan("r.bin"), (uint32_t)kResultCleaned);
  EXPECT_EQ(Get("r.bin"), "CLEAN");
  ASSERT_EQ(seenTail.size(), 15u);
  EXPECT_EQ(seenTail[0], 0x11);
  EXPECT_EQ(seenTail[2], 0x33);
  EXPECT_EQ(seenTail[11], 0);  // routine number 0
  EXPECT_EQ(rec.virusesCleaned, 1u);
}

TEST_F(Pipeline, ARepairAnsweringTwoDeletesTheBackedUpFile) {
  AddMulti(Record(1, {{0, "INFECTED"}}, 0));
  lib.entries[0][0] = Check;
  lib.entries[0][1] = Repair;
  answer0 = 6;
  answer1 = 2;
  Start(kOptionsDefault);
  Put("r.bin", "INFECTED program");
  EXPECT_EQ(Scan("r.bin"), (uint32_t)kResultDeleted);
  EXPECT_FALSE(fs::exists(root / "c" / "r.bin"));
}

TEST_F(Pipeline, AFaultInARepairIsACleanFailureWithTheAttributesBack) {
  SKIP_FAULT_TEST_UNDER_ASAN();
  AddMulti(Record(1, {{0, "INFECTED"}}, 0));
  lib.entries[0][0] = Check;
  lib.entries[0][1] = RepairCrash;
  answer0 = 6;
  Start(kOptionsDefault);
  Put("r.bin", "INFECTED program");
  ASSERT_TRUE(FileSetAttributes(&ctx, "C:\\r.bin", 0x1));
  EXPECT_EQ(Scan("r.bin"), (uint32_t)kResultCleanFailed);
  EXPECT_EQ(FileGetAttributes(&ctx, "C:\\r.bin"), 0x1u);
  EXPECT_EQ(rec.virusesCleaned, 0u);
  EXPECT_EQ(rec.virusesFound, 1u);
}

TEST_F(Pipeline, ChecksumDetectionsAreNotRepaired) {
  AddChecksum(1, 0, "VIRUS");
  lib.special[kGenericRepair] = Generic;
  Start(kOptionsDefault);
  Put("v.bin", "VIRUS in the head");
  EXPECT_EQ(Scan("v.bin"), (uint32_t)kResultDeleted);
  EXPECT_TRUE(calls.empty());
}

// ---- layers ---------------------------------------------------------------------

TEST_F(Pipeline, TheLayerLimitStopsAt33ScannedLayers) {
  AddPacker(Record(1, {{0, "PACKED"}}, 0));
  AddPacker(Record(9, {}, 1));  // the "continue" unit of each layer
  lib.entries[0][0] = PackerCheck;
  lib.entries[0][1] = PackerUnpack;
  lib.entries[1][0] = ContinueCheck;
  lib.entries[1][1] = ContinueUnpack;
  unitsPerPass = 2;
  Start(kOptionsDefault);
  Put("p.bin", "PACKED data of a file");
  EXPECT_EQ(Scan("p.bin"), (uint32_t)kResultNone);
  EXPECT_EQ(rec.filesUnpacked, 34u);
  EXPECT_EQ(layersWritten, 34u);
  EXPECT_EQ(TempFiles(), 0u);
  EXPECT_EQ(engine->handleDepth, 0u);
}

TEST_F(Pipeline, ALayerEqualToThePackedFileIsNotScanned) {
  AddPacker(Record(1, {{0, "PACKED"}}, 0));
  lib.entries[0][0] = PackerCheck;
  lib.entries[0][1] = SameUnpack;
  Start(kOptionsDefault);
  Put("p.bin", "PACKED data of a file");
  EXPECT_EQ(Scan("p.bin"), (uint32_t)kResultNone);
  // Two layers written, none scanned (no pcheck in a nested pass), then 0.
  size_t checks = 0;
  for (const std::string& c : calls) checks += c.rfind("pcheck", 0) == 0;
  EXPECT_EQ(checks, 1u);
  EXPECT_EQ(rec.filesUnpacked, 2u);
}

TEST_F(Pipeline, ADetectionInTheOuterFileAfterACleanLayerIsRepaired) {
  // The HEAD unit is a packer whose layer is clean; the file's next unit is
  // infected. The detection is in the file itself, not in a layer, so it is
  // repaired like any other, although the file has been unpacked.
  AddPacker(Record(1, {{0, "PACKED"}}, 0));
  AddMulti(Record(9, {}, 1));
  lib.entries[0][0] = PackerCheck;
  lib.entries[0][1] = PackerUnpack;
  lib.entries[1][0] = OuterOnlyCheck;
  lib.entries[1][1] = Repair;
  answer1 = 9;
  answerGeneric = 8;
  lib.special[kNextUnit] = LevelNextUnit;
  Start(kOptionsDefault);
  Put("p.bin", "PACKED data of a file");
  EXPECT_EQ(Scan("p.bin"), (uint32_t)kResultCleaned);
  EXPECT_EQ(Get("p.bin"), "CLEAN");
  EXPECT_EQ(rec.virusesCleaned, 1u);
  EXPECT_EQ(rec.virusesDeleted, 0u);
  EXPECT_EQ(rec.filesUnpacked, 1u);
  EXPECT_EQ(TempFiles(), 0u);
  // A detection inside the layer is still not repaired.
  Put("q.bin", "PACKED data for layer");
  lib.entries[1][0] = Check;
  answer0 = 6;
  EXPECT_EQ(Scan("q.bin"), (uint32_t)kResultDeleted);
  EXPECT_EQ(rec.virusesCleaned, 1u);
}

TEST_F(Pipeline, AFaultInsideANestedPassEndsOnlyThatPass) {
  SKIP_FAULT_TEST_UNDER_ASAN();
  AddPacker(Record(1, {{0, "PACKED"}}, 0));
  AddMulti(Record(1, {{0, "layer 0"}}, 2));
  lib.entries[0][0] = PackerCheck;
  lib.entries[0][1] = PackerUnpack;
  lib.entries[2][0] = Crash;
  Start(kOptionsDefault);
  Put("p.bin", "PACKED data of a file");
  Put("v.bin", "layer 0 at the start of a plain file");
  EXPECT_EQ(Scan("p.bin"), (uint32_t)kResultNone);
  EXPECT_EQ(TempFiles(), 0u);
  EXPECT_EQ(engine->handleDepth, 0u);
  EXPECT_EQ(Scan("v.bin"), (uint32_t)kResultNone);  // its routine faults too
  EXPECT_EQ(rec.filesScanned, 2u);
}

TEST_F(Pipeline, TrackedBlocksAreFreedAfterEachFile) {
  AddMulti(Record(1, {}, 0));
  lib.entries[0][0] = Allocating;
  Start(kOptionLog);
  Put("a.bin", "some file content");
  blocksFreed = 0;
  Scan("a.bin");
  EXPECT_EQ(engine->trackedCount, 0u);
  EXPECT_EQ(blocksFreed, 1u);
}

TEST_F(Pipeline, CopyFileContentKeepsTheLongerDestinationsTail) {
  Start(kOptionLog);
  Put("src.bin", "short");
  Put("dst.bin", "a much longer destination");
  HANDLE s = FileOpen(&ctx, "C:\\src.bin", kAccessRead, kOpenExisting);
  HANDLE d = FileOpen(&ctx, "C:\\dst.bin", kAccessRead | kAccessWrite, kOpenExisting);
  FileSeek(&ctx, s, 3, 0);
  EXPECT_EQ(CopyFileContent(engine, s, d), 1);
  EXPECT_EQ(FileSeek(&ctx, s, 0, 1), 3u);
  EXPECT_EQ(FileSeek(&ctx, d, 0, 1), 0u);
  FileClose(&ctx, s);
  FileClose(&ctx, d);
  EXPECT_EQ(Get("dst.bin"), "shorth longer destination");

  // A write that fails is a failed copy; the positions are still put back.
  s = FileOpen(&ctx, "C:\\src.bin", kAccessRead, kOpenExisting);
  d = FileOpen(&ctx, "C:\\dst.bin", kAccessRead | kAccessWrite, kOpenExisting);
  FileSeek(&ctx, s, 2, 0);
  TwNtFailCall("NtWriteFile", 1, (NTSTATUS)0xC000007F);  // disk full
  EXPECT_EQ(CopyFileContent(engine, s, d), 0);
  TwNtClearFaults();
  EXPECT_EQ(FileSeek(&ctx, s, 0, 1), 2u);
  EXPECT_EQ(FileSeek(&ctx, d, 0, 1), 0u);
  EXPECT_EQ(CopyFileContent(engine, d, d), 1);  // the same handle: nothing to do
  FileClose(&ctx, s);
  FileClose(&ctx, d);
}


// ---- the bytes of the CQEL object the engine keeps --------------------------

// What NextUnit saw at the first call of each pass (told apart by size).
struct SeenPass {
  uint32_t size;
  uint8_t flag5, flag6, flag8, routineFlag;
  std::string path;
};
std::vector<SeenPass> seenPasses;
std::vector<uint8_t> seenTypeCopies;
ROUTINE(SpyNextUnit) {
  if (q->passFlag5 == 0) {
    seenPasses.push_back({q->size, q->passFlag5, q->fileFlag6, q->passFlag8, q->routineFlag,
                          std::string(q->path)});
    // Dirty every engine-kept byte: each must be put back when its rule says.
    q->passFlag5 = 0x55;
    q->fileFlag6 = 0x66;
    q->passFlag8 = 0x88;
    q->routineFlag = 0x77;
    unitOfSize[q->size] = 0;
  }
  uint8_t n = unitOfSize[q->size]++;
  if (n != 0) return 0;
  HeadUnit(q);
  q->unitType = 5;
  q->unitTypeCopy = 0;
  return 1;
}
ROUTINE(SpyTypeCopy) {
  seenTypeCopies.push_back(q->unitTypeCopy);
  return 7;
}

TEST_F(Pipeline, RoutineFlagAndTheBytesClearedPerFileAndPerPass) {
  AddPacker(Record(5, {{0, "PACKED"}}, 0));
  AddMulti(Record(5, {}, 1));  // byte 4 is 0: its check entry sees every unit
  lib.entries[0][0] = PackerCheck;
  lib.entries[0][1] = PackerUnpack;
  lib.entries[1][0] = SpyTypeCopy;
  lib.special[kNextUnit] = SpyNextUnit;
  seenPasses.clear();
  seenTypeCopies.clear();
  unitOfSize.clear();
  Start(kOptionsDefault | kOptionRoutineFlag);
  Put("p.bin", "PACKED data of a file");
  EXPECT_EQ(Scan("p.bin"), (uint32_t)kResultNone);
  ASSERT_EQ(seenPasses.size(), 2u);  // the file, then its layer
  EXPECT_EQ(seenPasses[0].size, 21u);
  EXPECT_EQ(seenPasses[0].flag5, 0);
  EXPECT_EQ(seenPasses[0].flag6, 0);
  EXPECT_EQ(seenPasses[0].flag8, 0);
  EXPECT_EQ(seenPasses[0].routineFlag, 1);
  EXPECT_EQ(seenPasses[0].path, "C:\\p.bin");
  // The nested pass clears bytes 5 and 8 only; 6 and 9 are per file.
  EXPECT_EQ(seenPasses[1].size, 24u);  // "layer 0 of a test packer"
  EXPECT_EQ(seenPasses[1].flag5, 0);
  EXPECT_EQ(seenPasses[1].flag6, 0x66);
  EXPECT_EQ(seenPasses[1].flag8, 0);
  EXPECT_EQ(seenPasses[1].routineFlag, 0x77);
  // The unit type is copied after the window before the unit is matched.
  ASSERT_EQ(seenTypeCopies.size(), 2u);
  EXPECT_EQ(seenTypeCopies[0], 5);
  EXPECT_EQ(seenTypeCopies[1], 5);

  // The next file: the flag follows the options, bytes 5, 6, 8 are cleared.
  rec.options = kOptionsDefault;
  Put("q.bin", "an ordinary file");
  EXPECT_EQ(Scan("q.bin"), (uint32_t)kResultNone);
  ASSERT_EQ(seenPasses.size(), 3u);
  EXPECT_EQ(seenPasses[2].flag5, 0);
  EXPECT_EQ(seenPasses[2].flag6, 0);
  EXPECT_EQ(seenPasses[2].flag8, 0);
  EXPECT_EQ(seenPasses[2].routineFlag, 0);
  EXPECT_EQ(seenPasses[2].path, "C:\\q.bin");

  // An empty path: the flag is written, nothing else happens.
  uint32_t scanned = rec.filesScanned;
  rec.options = kOptionsDefault | kOptionRoutineFlag;
  rec.path[0] = 0;
  rec.result = kResultReported;
  EXPECT_EQ(ScanFile(engine, &rec), (uint32_t)kResultNone);
  EXPECT_EQ(engine->cqel->routineFlag, 1);
  EXPECT_EQ(rec.filesScanned, scanned);
  EXPECT_EQ(rec.result, (uint32_t)kResultReported);
  EXPECT_EQ(seenPasses.size(), 3u);
}

// ---- paths, and the log of files that were not opened --------------------------

std::string ReadAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

TEST_F(Pipeline, PathsOfAtLeast1024CharactersAndFilesNotOpenedGetNoLog) {
  AddMulti(Record(1, {}, 0));  // every opened file is detected by its check entry
  lib.entries[0][0] = Check;
  answer0 = 6;
  Start(kOptionLog | kOptionRepair);
  std::memset(rec.path, 'x', sizeof rec.path);  // 1024 characters, no end
  rec.result = kResultReported;
  EXPECT_EQ(ScanFile(engine, &rec), (uint32_t)kResultNone);
  EXPECT_EQ(rec.result, (uint32_t)kResultNone);
  EXPECT_EQ(Scan("missing.bin"), (uint32_t)kResultNone);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(rec.filesScanned, 2u);
  LocalTime before, after;
  ReadLocalTime(&ctx, &before);
  DestroyEngine(engine);
  engine = nullptr;
  ReadLocalTime(&ctx, &after);
  // No file was opened: no header, no start time; the scan time counts from
  // midnight of the day the log ends.
  std::string log = ReadAll(root / "c" / "tarnwell.log");
  std::string expect =
      "\r\n\r\n--------  --------  --------  \r\n2 files scaned.\r\n0 viruses found.\r\n"
      "0 viruses deleted.\r\n0 viruses cleaned.\r\n0 files unpack.\r\n"
      "0 files unzip form 0 compressed files.\r\n\r\nScan time: ";
  ASSERT_EQ(log.compare(0, expect.size(), expect), 0) << log;
  ASSERT_EQ(log.size(), expect.size() + 10);
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
  int h = std::stoi(log.substr(expect.size(), 2)), m = std::stoi(log.substr(expect.size() + 3, 2)),
      s = std::stoi(log.substr(expect.size() + 6, 2));
  int shown = h * 3600 + m * 60 + s;
  int from = before.hour * 3600 + before.minute * 60 + before.second;
  int to = after.hour * 3600 + after.minute * 60 + after.second;
  if (from <= to) {  // not across midnight
    EXPECT_GE(shown, from);
    EXPECT_LE(shown, to);
  }
  EXPECT_EQ(log[expect.size() + 2], ':');
  EXPECT_EQ(log[expect.size() + 5], ':');
}

TEST_F(Pipeline, APathOf1023CharactersIsScanned) {
  AddMulti(Record(1, {}, 0));
  lib.entries[0][0] = Check;
  answer0 = 6;
  Start(kOptionLog);
  // C:\ + four folders of 200 characters + a name filling up to 1023.
  std::string rel;
  for (int i = 0; i < 4; i++) rel += std::string(200, (char)('a' + i)) + "\\";
  rel += std::string(1023 - 3 - rel.size(), 'n');
  std::string full = "C:\\" + rel;
  ASSERT_EQ(full.size(), 1023u);
  fs::path host = root / "c";
  for (int i = 0; i < 4; i++) host /= std::string(200, (char)('a' + i));
  fs::create_directories(host);
  std::ofstream(host / std::string(1023 - 3 - 4 * 201, 'n'), std::ios::binary) << "a detected file";
  EXPECT_EQ(Scan(rel), (uint32_t)kResultReported);
  EXPECT_EQ(std::string(engine->cqel->path), full);
  DestroyEngine(engine);
  engine = nullptr;
  std::string log = ReadAll(root / "c" / "tarnwell.log");
  EXPECT_NE(log.find("\r\n\r\n" + full + "   Kind2.0\r\n\r\n\r\n--------"), std::string::npos) << log;
}


// ---- failures of the actions ------------------------------------------------------

// The fixture's machine plus a CD-ROM drive D:, where nothing can be deleted
// or opened for writing.
void AddCdrom(const fs::path& root) {
  fs::create_directories(root / "d");
  std::ofstream(root / "machine.json")
      << "{\"drives\":{\"C\":{\"root\":\"c\",\"type\":\"fixed\"},\"D\":{\"root\":\"d\",\"type\":\"cdrom\"}},"
         "\"registry\":\"registry.reg\",\"windows\":\"C:\\\\WINDOWS\",\"environment\":{\"Temp\":"
         "\"C:\\\\WINDOWS\\\\Temp\"},\"codePage\":1252,\"utcOffsetMinutes\":0,\"keyboard\":[],\"timeScale\":0.01}";
  char err[256] = {};
  ASSERT_EQ(TwNtInit((root / "machine.json").c_str(), err, sizeof err), 1) << err;
  RuntimeInit(&ctx);
}

TEST_F(Pipeline, AFailedDeletionIsDeleteFailedAndKeepsItsBackup) {
  AddCdrom(root);
  AddChecksum(1, 0, "VIRUS");
  Start(kOptionDelete | kOptionLog);
  std::ofstream(root / "d" / "v.bin", std::ios::binary) << "VIRUS on a disc";
  std::snprintf(rec.path, sizeof rec.path, "D:\\v.bin");
  EXPECT_EQ(ScanFile(engine, &rec), (uint32_t)kResultDeleteFailed);
  EXPECT_EQ(rec.virusesFound, 1u);
  EXPECT_EQ(rec.virusesDeleted, 0u);
  EXPECT_TRUE(fs::exists(root / "d" / "v.bin"));
  size_t records = 0;
  for (const auto& e : fs::recursive_directory_iterator(root / "c" / "tarnwell.bak")) records += e.is_regular_file();
  EXPECT_EQ(records, 1u);
  DestroyEngine(engine);
  engine = nullptr;
  std::string log = ReadAll(root / "c" / "tarnwell.log");
  EXPECT_NE(log.find("\r\n\r\nD:\\v.bin   Kind1.0, delete failed\r\n\r\n\r\n--------"), std::string::npos) << log;
  EXPECT_NE(log.find("1 viruses found.\r\n0 viruses deleted.\r\n0 viruses cleaned.\r\n"), std::string::npos);
}

// Sets or clears the immutable flag of a host folder: its entries can then
// not be removed, while the files in it keep their attributes writable.
bool SetImmutable(const fs::path& folder, bool on) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}

TEST_F(Pipeline, AFailedDeletionPutsTheAttributesBack) {
  AddChecksum(1, 0, "VIRUS");
  Start(kOptionDelete | kOptionLog);
  fs::create_directories(root / "c" / "locked");
  Put("locked/v.bin", "VIRUS that stays");
  ASSERT_TRUE(FileSetAttributes(&ctx, "C:\\locked\\v.bin", 0x7));
  if (!SetImmutable(root / "c" / "locked", true)) GTEST_SKIP() << "no immutable folders here";
  uint32_t result = Scan("locked\\v.bin");
  uint32_t attributes = FileGetAttributes(&ctx, "C:\\locked\\v.bin");
  SetImmutable(root / "c" / "locked", false);
  EXPECT_EQ(result, (uint32_t)kResultDeleteFailed);
  // Read-only and system were cleared for the deletion; it failed, so the
  // file is as it was.
  EXPECT_EQ(attributes, 0x7u);
}

TEST_F(Pipeline, ARepairThatCannotReopenTheFileLeavesItAndReportsTheFailure) {
  AddCdrom(root);
  AddMulti(Record(1, {{0, "INFECTED"}}, 0));
  lib.entries[0][0] = Check;
  lib.entries[0][1] = Repair;
  answer0 = 6;
  answer1 = 8;
  Start(kOptionsDefault);
  std::ofstream(root / "d" / "r.bin", std::ios::binary) << "INFECTED program on a disc";
  std::snprintf(rec.path, sizeof rec.path, "D:\\r.bin");
  EXPECT_EQ(ScanFile(engine, &rec), (uint32_t)kResultCleanFailed);
  // No repair entry was called: the file could not be opened for writing.
  for (const std::string& c : calls) EXPECT_NE(c.rfind("repair", 0), 0u) << c;
  EXPECT_EQ(ReadAll(root / "d" / "r.bin"), "INFECTED program on a disc");
  EXPECT_EQ(rec.virusesCleaned, 0u);
  EXPECT_EQ(rec.virusesFound, 1u);
  EXPECT_EQ(engine->file, nullptr);
}

// ---- quarantine records of the engine, byte for byte ------------------------------

// Checks a record file against the layout, from its parts: the source's
// content, origin, the engine's start time and the source's times.
void ExpectRecord(const std::string& record, const std::string& content, const std::string& path,
                  const std::string& name, const ScanEngine* e, const int64_t times[3]) {
  auto u16 = [&](size_t at) { return (uint32_t)(uint8_t)record[at] | (uint32_t)(uint8_t)record[at + 1] << 8; };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  auto u64 = [&](size_t at) { return (uint64_t)u32(at) | (uint64_t)u32(at + 4) << 32; };
  std::string line = path + "&" + name + "\r\n";
  uint32_t n = (uint32_t)content.size();
  ASSERT_EQ(record.size(), 248 + line.size() + n);
  EXPECT_EQ(record.substr(0, 4), std::string("\xBA\xC0\x0D\x0A", 4));
  uint8_t d1[16];
  Md5Digest(content.data(), n, d1);
  char hex[33];
  for (int i = 0; i < 16; i++) std::snprintf(hex + 2 * i, 3, "%02x", d1[i]);
  char date[32];
  std::snprintf(date, sizeof date, "%04u-%02u-%02u", e->startTime.year, e->startTime.month, e->startTime.day);
  std::string text = std::string("Corvane Scan Labs\r\nVersion: 10.07.19.01\r\nName: ") + hex + ".vir\r\nData:" +
                     date + "\r\nSize: " + std::to_string(n) + "\r\nOfficial website: " + kQuarantineWebsite +
                     "\r\n\r\n";
  text.resize(160, '\0');
  EXPECT_EQ(record.substr(4, 160), text);
  const uint16_t* when = &e->startTime.year;
  for (int i = 0; i < 8; i++) EXPECT_EQ(u16(164 + 2 * i), when[i]) << "time field " << i;
  EXPECT_EQ(u32(180), n);
  EXPECT_EQ(u32(184), 248 + line.size());
  EXPECT_EQ(u32(188), 2u);
  EXPECT_EQ(record.substr(192, 16), std::string((const char*)d1, 16));
  std::string zeroed = record;
  std::memset(&zeroed[208], 0, 16);
  uint8_t d2[16];
  Md5Digest(zeroed.data(), (uint32_t)zeroed.size(), d2);
  EXPECT_EQ(record.substr(208, 16), std::string((const char*)d2, 16));
  for (int i = 0; i < 3; i++) EXPECT_EQ(u64(224 + 8 * i), (uint64_t)times[i]) << "file time " << i;
  EXPECT_EQ(record.substr(248, line.size()), line);
  uint8_t key = (uint8_t)n ? (uint8_t)n : kFallbackKeyByte;
  size_t wrong = 0;
  for (uint32_t i = 0; i < n; i++) wrong += (uint8_t)record[248 + line.size() + i] != ((uint8_t)content[i] ^ key);
  EXPECT_EQ(wrong, 0u);
}

// Reads must not move a file's last access time while a test compares it
// (the host updates it on read while it is not later than the last write).
void KeepAccessTime(const fs::path& p) {
  struct timespec times[2] = {{2000000000, 0}, {1900000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

TEST_F(Pipeline, RecordsOfFilesAroundTheWorkBufferLimitAreLaidOutAlike) {
  // 0x3FEFFF bytes still fit the work buffer; 0x3FF000 and 4 MiB + 3 take a
  // buffer of their own (and the last also a digest buffer of its own).
  std::vector<std::string> contents;
  for (uint32_t size : {0x3FEFFFu, 0x3FF000u, 0x400003u}) {
    std::string c(size, '\0');
    for (uint32_t i = 0; i < size; i++) c[i] = (char)(i * 7 + size);
    contents.push_back(c);
    AddUser(c);
  }
  Start(kOptionsDefault);
  for (size_t k = 0; k < contents.size(); k++) {
    std::string name = "big" + std::to_string(k) + ".bin";
    Put(name, contents[k]);
    KeepAccessTime(root / "c" / name);
    int64_t times[3] = {};
    HANDLE h = FileOpen(&ctx, ("C:\\" + name).c_str(), kAccessRead, kOpenExisting);
    ASSERT_TRUE(FileGetTimes(&ctx, h, &times[0], &times[1], &times[2]));
    FileClose(&ctx, h);
    EXPECT_EQ(Scan(name), (uint32_t)kResultDeleted);
    EXPECT_EQ(std::string(rec.virusName), "Kind20." + std::to_string(k));
    std::vector<fs::path> found;
    for (const auto& e : fs::recursive_directory_iterator(root / "c" / "tarnwell.bak"))
      if (e.is_regular_file()) found.push_back(e.path());
    ASSERT_EQ(found.size(), k + 1);
    fs::path newest;
    for (const fs::path& f : found) {
      std::string r = ReadAll(f);
      if (r.size() > 248 && r.find("C:\\" + name + "&") == 248) newest = f;
    }
    ASSERT_FALSE(newest.empty());
    std::string record = ReadAll(newest);
    ExpectRecord(record, contents[k], "C:\\" + name, rec.virusName, engine, times);
    // Stored as <digit of D2>\<D2 in hex>.vir.
    char expectName[40];
    for (int i = 0; i < 16; i++) std::snprintf(expectName + 2 * i, 3, "%02x", (uint8_t)record[208 + i]);
    std::strcat(expectName, ".vir");
    EXPECT_EQ(newest.filename().string(), expectName);
    EXPECT_EQ(newest.parent_path().filename().string(), std::string(1, expectName[0]));
  }
}

TEST_F(Pipeline, AContentLengthThatIsAMultipleOf256UsesTheFallbackKey) {
  std::string c(512, 'Z');
  AddUser(c);
  Start(kOptionDelete | kOptionLog);
  Put("k.bin", c);
  KeepAccessTime(root / "c" / "k.bin");
  int64_t times[3] = {};
  HANDLE h = FileOpen(&ctx, "C:\\k.bin", kAccessRead, kOpenExisting);
  ASSERT_TRUE(FileGetTimes(&ctx, h, &times[0], &times[1], &times[2]));
  FileClose(&ctx, h);
  EXPECT_EQ(Scan("k.bin"), (uint32_t)kResultDeleted);
  std::vector<fs::path> found;
  for (const auto& e : fs::recursive_directory_iterator(root / "c" / "tarnwell.bak"))
    if (e.is_regular_file()) found.push_back(e.path());
  ASSERT_EQ(found.size(), 1u);
  std::string record = ReadAll(found[0]);
  ExpectRecord(record, c, "C:\\k.bin", "Kind20.0", engine, times);
  EXPECT_EQ((uint8_t)record.back(), (uint8_t)('Z' ^ kFallbackKeyByte));
}


TEST_F(Pipeline, ALogThatCouldNotBeCreatedIsCreatedAnewAtTheNextWrite) {
  // A log of an earlier run is on C:. This run's first write cannot create
  // the log; the next write must still replace the old log, not append this
  // run's end to it.
  std::ofstream(root / "c" / "tarnwell.log", std::ios::binary) << "the log of an earlier run\r\n";
  AddChecksum(1, 0, "VIRUS");
  Start(kOptionLog);
  Put("v.bin", "VIRUS in the head");
  EXPECT_EQ(Scan("v.bin"), (uint32_t)kResultReported);
  TwNtFailCall("NtCreateFile", 1, (NTSTATUS)0xC0000022);  // access denied
  FlushLog(engine, engine->logBuffer, engine->logFill, 0);
  TwNtClearFaults();
  std::memset(engine->logBuffer, 0, kLogBufferSize);
  engine->logFill = 0;
  EXPECT_EQ(ReadAll(root / "c" / "tarnwell.log"), "the log of an earlier run\r\n");
  DestroyEngine(engine);
  engine = nullptr;
  std::string log = ReadAll(root / "c" / "tarnwell.log");
  EXPECT_EQ(log.find("earlier run"), std::string::npos) << log;
  EXPECT_EQ(log.rfind("\r\n\r\n--------  --------  --------  \r\n1 files scaned.\r\n", 0), 0u) << log;
}


// A packer check entry that answers what the test sets for files of 26
// bytes, and "undecided" for anything else (the layers).
ROUTINE(SizedPackerCheck) {
  Log("check", q);
  return q->size == 26 ? answer0 : 7;
}

TEST_F(Pipeline, PackerRecordsMatchOnlyByTheirCheckEntryAnsweringTen) {
  AddPacker(Record(1, {{0, "PACKED"}}, 0xFFFFFFFFu));  // checks equal, no routine: skipped
  AddPacker(Record(1, {}, 1));                         // byte 4 is 0: the check entry decides
  AddPacker(Record(1, {{0, "PACKED"}}, 2));            // checks, then the check entry
  lib.entries[1][0] = SizedPackerCheck;
  lib.entries[1][1] = PackerUnpack;
  lib.entries[2][0] = PackerCheck;
  lib.entries[2][1] = PackerUnpack;
  Start(kOptionsDefault);
  Put("p.bin", "PACKED data of a file, 26!");
  answer0 = 6;  // "present" is not a packer: the record is skipped
  EXPECT_EQ(Scan("p.bin"), (uint32_t)kResultNone);
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[0], "check@26");
  EXPECT_EQ(calls[1], "pcheck@26");  // the third record matched
  EXPECT_EQ(calls[2], "unpack@26");
  EXPECT_EQ(rec.filesUnpacked, 1u);
  EXPECT_EQ(rec.virusesFound, 0u);  // a packer is not a detection

  calls.clear();
  answer0 = 10;  // now the second record matches first
  Put("q.bin", "no mark of the packer here");
  EXPECT_EQ(Scan("q.bin"), (uint32_t)kResultNone);
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0], "check@26");
  EXPECT_EQ(calls[1], "unpack@26");
  EXPECT_EQ(rec.filesUnpacked, 2u);

  // Without Unpack the packer records are never consulted.
  calls.clear();
  rec.options = kOptionRepair | kOptionLog;
  EXPECT_EQ(Scan("p.bin"), (uint32_t)kResultNone);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(rec.filesUnpacked, 2u);
  EXPECT_EQ(TempFiles(), 0u);
}


TEST_F(Pipeline, ARunWithoutDetectionsLogsTheHeaderAndTheSummaryOnly) {
  Start(kOptionLog | kOptionUnpack);
  Put("clean.bin", "a clean file of some length");
  Put("tiny.bin", "tiny");  // opened but outside the size window
  LocalTime before, after;
  ReadLocalTime(&ctx, &before);
  EXPECT_EQ(Scan("tiny.bin"), (uint32_t)kResultNone);
  ReadLocalTime(&ctx, &after);
  EXPECT_EQ(Scan("clean.bin"), (uint32_t)kResultNone);
  DestroyEngine(engine);
  engine = nullptr;
  std::string log = ReadAll(root / "c" / "tarnwell.log");
  // The header: title, maker line, web address, then the start time
  // (taken at the first opened file) and an empty line.
  ASSERT_EQ(log.rfind("Tarnwell v1.0\r\n\r\n", 0), 0u) << log;
  size_t at = log.find("\r\n\r\n[Start time]: ");
  ASSERT_NE(at, std::string::npos) << log;
  std::string middle = log.substr(17, at - 17);  // the maker and the web address
  ASSERT_EQ(std::count(middle.begin(), middle.end(), '\n'), 1) << middle;
  at += 18;
  std::string when = log.substr(at, 19);
  char expectDate[32];
  std::snprintf(expectDate, sizeof expectDate, "%04u-%02u-%02u ", before.year, before.month, before.day);
  EXPECT_EQ(when.substr(0, 11), expectDate);
  int seconds = std::stoi(when.substr(11, 2)) * 3600 + std::stoi(when.substr(14, 2)) * 60 + std::stoi(when.substr(17, 2));
  int from = before.hour * 3600 + before.minute * 60 + before.second;
  int to = after.hour * 3600 + after.minute * 60 + after.second;
  if (from <= to) {
    EXPECT_GE(seconds, from);
    EXPECT_LE(seconds, to);
  }
  EXPECT_EQ(when[13], ':');
  EXPECT_EQ(when[16], ':');
  // Nothing between the header and the summary; no deleted/cleaned lines
  // without Delete or Repair.
  std::string expect =
      "\r\n\r\n\r\n\r\n--------  --------  --------  \r\n2 files scaned.\r\n0 viruses found.\r\n"
      "0 files unpack.\r\n0 files unzip form 0 compressed files.\r\n\r\nScan time: 00:00:";
  EXPECT_EQ(log.substr(at + 19, expect.size()), expect) << log;
  EXPECT_EQ(log.size(), at + 19 + expect.size() + 4);
}


TEST_F(Pipeline, PathsOver512CharactersGetNoRecordAndAreKept) {
  AddChecksum(1, 0, "VIRUS");
  Start(kOptionDelete | kOptionLog);
  // C:\ + two folders of 250 characters + names: 512 and 513 characters.
  fs::path host = root / "c" / std::string(250, 'a') / std::string(250, 'b');
  fs::create_directories(host);
  std::string folder = std::string(250, 'a') + "\\" + std::string(250, 'b') + "\\";
  std::string at512 = folder + std::string(512 - 3 - folder.size() - 4, 'n') + ".com";
  std::string at513 = folder + std::string(513 - 3 - folder.size() - 4, 'm') + ".com";
  ASSERT_EQ(at512.size() + 3, 512u);
  std::ofstream(host / at512.substr(folder.size()), std::ios::binary) << "VIRUS one";
  std::ofstream(host / at513.substr(folder.size()), std::ios::binary) << "VIRUS two";
  // With the store at hand, a file whose record cannot be written is not
  // deleted: nothing could ever bring it back.
  EXPECT_EQ(Scan(at513), (uint32_t)kResultDeleteFailed);
  EXPECT_EQ(Get(HostName(at513)), "VIRUS two");
  size_t records = 0;
  if (fs::exists(root / "c" / "tarnwell.bak"))
    for (const auto& e : fs::recursive_directory_iterator(root / "c" / "tarnwell.bak")) records += e.is_regular_file();
  EXPECT_EQ(records, 0u);
  // 512 characters are backed up when the origin line still fits the
  // reader's 512 bytes ("path&" + name + CR LF): here it does not, so the
  // record is refused rather than written unlistable, and the file stays.
  EXPECT_EQ(Scan(at512), (uint32_t)kResultDeleteFailed);
  EXPECT_EQ(Get(HostName(at512)), "VIRUS one");
  EXPECT_EQ(rec.virusesDeleted, 0u);
  EXPECT_EQ(rec.virusesFound, 2u);
}

TEST_F(Pipeline, ARepairNeedsTheBackupFirst) {
  AddMulti(Record(1, {{0, "INFECTED"}}, 0));
  lib.entries[0][0] = Check;
  lib.entries[0][1] = Repair;
  answer0 = 6;
  answer1 = 8;
  Start(kOptionsDefault);
  fs::path host = root / "c" / std::string(250, 'a') / std::string(250, 'b');
  fs::create_directories(host);
  std::string name = std::string(250, 'a') + "\\" + std::string(250, 'b') + "\\" + std::string(20, 'r') + ".exe";
  std::ofstream(host / (std::string(20, 'r') + ".exe"), std::ios::binary) << "INFECTED program";
  // No record can be written for this path: the file is neither changed
  // by the repair nor deleted.
  EXPECT_EQ(Scan(name), (uint32_t)kResultDeleteFailed);
  EXPECT_EQ(Get(HostName(name)), "INFECTED program");
  for (const std::string& call : calls) EXPECT_NE(call.substr(0, 6), "repair") << call;
  EXPECT_EQ(rec.virusesCleaned, 0u);
  EXPECT_EQ(rec.virusesDeleted, 0u);
}

}  // namespace
