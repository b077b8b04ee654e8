// Round trip: a library built by `tarnlib build` from the routine sources in
// roundtrip/ (compiled by clang to COFF) loads back with every record, name,
// slot and entry in place, and its routines answer what their sources say.
#include <dirent.h>

#include "platform/guard/guard.h"
#include "scanner/library/cqel.h"
#include "tests/library/fake_engine.h"
#include "tests/library/library_test_support.h"

namespace libtest {
namespace {

using namespace libfmt;

class RoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    DIR* d = opendir(TW_ROUNDTRIP_LIBRARY);
    ASSERT_NE(d, nullptr) << TW_ROUNDTRIP_LIBRARY;
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() != 11 || name.substr(7) != ".dat") continue;
      std::ifstream in(std::string(TW_ROUNDTRIP_LIBRARY) + "/" + name, std::ios::binary);
      m.Put(name, Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    }
    closedir(d);
    int result = 0;
    lib = m.Load(0, &result);
    ASSERT_EQ(result, 1);
    q = (CQEL*)calloc(1, sizeof(CQEL));
    AttachEngine(lib, engine.Engine());
  }
  void TearDown() override { free(q); }
  uint32_t Call(uint32_t entry, int* ok = nullptr) {
    EXPECT_NE(entry, 0u);
    return GuardedCall(entry, q, ok);
  }
  uint32_t Routine(uint32_t slot, int which, int* ok = nullptr) { return Call(RoutineEntry(lib, slot, which), ok); }

  LibraryMachine m;
  VirusLibrary* lib = nullptr;
  CQEL* q = nullptr;
  FakeEngine engine;
};

// Slots: section-0 objects 2 + 1 + 0 = 3, so section 2 numbers from 3
// (file 0: Math; file 2: Faults, Cross, Divide, Hang) and section 3 from
// 3 + 5 = 8 (Packer).
const uint32_t kMath = 3, kFaults = 4, kCross = 5, kDivide = 6, kHang = 7, kPacker = 8;

TEST_F(RoundTrip, RecordsNamesAndSlots) {
  LibraryTables t;
  GetLibraryTables(lib, &t);
  Bytes checksum;
  ChecksumRecord(checksum, 1, 0, "MZ");
  checksum.insert(checksum.end(), {2, 4, 0, 3, 0x04, 0x03, 0x02, 0x01});
  ASSERT_EQ(t.checksumCount, 2u);
  EXPECT_EQ(Bytes(t.checksum, t.checksum + 16), checksum);

  Bytes multi;
  MultiRecord(multi, 1, {{0, "MZ"}, {60, std::string("PE\0\0", 4)}}, kMath);
  multi[2 + 14] = 0x0a;  // params 0a 0b 0c
  multi[2 + 15] = 0x0b;
  multi[2 + 16] = 0x0c;
  MultiRecord(multi, 3, {}, kNoRoutine);
  MultiRecord(multi, 1, {{0, "X"}}, kCross);
  MultiRecord(multi, 1, {{0, "Y"}}, kFaults);
  MultiRecord(multi, 1, {{0, "Z"}}, kHang);
  ASSERT_EQ(t.multiCount, 5u);
  EXPECT_EQ(Bytes(t.multi, t.multi + t.multiBytes), multi);
  Bytes packer;
  MultiRecord(packer, 1, {{2, "UPX"}}, kPacker);
  ASSERT_EQ(t.packerCount, 1u);
  EXPECT_EQ(Bytes(t.packer, t.packer + t.packerBytes), packer);

  EXPECT_EQ(m.Names(1), (std::vector<std::string>{"Checksum.Zero", "Checksum.One"}));
  EXPECT_EQ(m.Names(2),
            (std::vector<std::string>{"Multi.Math", "Multi.None", "Multi.Cross", "Multi.Faults", "Multi.Hang"}));
  EXPECT_EQ(m.Names(3), (std::vector<std::string>{"Packer.One"}));

  ASSERT_EQ(t.userCount, 2u);
  uint8_t md5[16];
  Md5Digest("first sample", 12, md5);
  EXPECT_EQ(memcmp(t.userDigests, "2026-12-01", 10), 0);
  EXPECT_EQ(t.userDigests[10], 12);
  EXPECT_EQ(memcmp(t.userDigests + 14, md5, 16), 0);
  EXPECT_EQ(t.userDigests[30 + 10], 77);
  EXPECT_EQ(t.userDigests[30 + 14], 0x00);
  EXPECT_EQ(t.userDigests[30 + 29], 0xff);

  for (uint32_t slot : {kMath, kCross, kFaults, kDivide, kHang, kPacker}) {
    EXPECT_NE(RoutineEntry(lib, slot, 0), 0u) << slot;
    EXPECT_NE(RoutineEntry(lib, slot, 1), 0u) << slot;
  }
  for (uint32_t slot : {0u, 1u, 2u, 9u}) EXPECT_EQ(RoutineEntry(lib, slot, 0), 0u) << slot;
}

uint32_t MathExpected(uint32_t size) {
  unsigned long long w = (unsigned long long)size * 0x100000001ull;
  long long s = -(long long)w;
  unsigned long long r = w / (size | 1) + w % 1000003 + (unsigned long long)(s / 7) + (unsigned long long)(s % 11);
  r += (w << (size & 31)) + (w >> (size & 15)) + (unsigned long long)(s >> (size & 7));
  r += w * (unsigned long long)(size + 3);
  return (uint32_t)(r ^ (r >> 32)) + (uint8_t)(size + 299);
}

TEST_F(RoundTrip, RoutinesAnswerWhatTheirSourcesSay) {
  for (uint32_t size : {0u, 1u, 7u, 1000u, 123456789u, 0xFFFFFFFFu}) {
    q->size = size;
    EXPECT_EQ(Routine(kMath, 0), MathExpected(size)) << size;
    EXPECT_EQ(Routine(kCross, 0), size * 2654435761u ^ (size >> 7)) << "the helper of file 1, called from file 2";
  }
  EXPECT_EQ(Routine(kMath, 1), 104u) << "host service 19: 5 - 1, and the sweep asked for";
  EXPECT_EQ(engine.sweep, 1);
  q->unitWindow[0] = 'M';
  EXPECT_EQ(Routine(kCross, 1), 8u);
  q->unitWindow[0] = 'N';
  EXPECT_EQ(Routine(kCross, 1), 9u);
  EXPECT_EQ(Routine(kPacker, 0), 10u);
  EXPECT_EQ(Routine(kPacker, 1), 12u);
  EXPECT_EQ(Call(SpecialEntryAddress(lib, kStartHook1)), 0x51u);
  EXPECT_EQ(Call(SpecialEntryAddress(lib, kStopHook1)), 0x52u);
  EXPECT_EQ(Call(SpecialEntryAddress(lib, kStartHook2)), 0x53u);
  EXPECT_EQ(Call(SpecialEntryAddress(lib, kStopHook2)), 0x54u);
  EXPECT_EQ(Call(SpecialEntryAddress(lib, kGenericRepair)), 8u);
  uint32_t next = SpecialEntryAddress(lib, kNextUnit);
  EXPECT_EQ(Call(next), 1u);
  EXPECT_EQ(Call(next), 1u);
  EXPECT_EQ(Call(next), 1u);
  EXPECT_EQ(Call(next), 0u);
}

TEST_F(RoundTrip, FaultingRoutinesDoNotEndTheProgram) {
  struct Case {
    uint32_t slot;
    int which;
    int fault;
  } cases[] = {{kFaults, 0, kTwFaultAccess},
               {kFaults, 1, kTwFaultIllegal},
               {kDivide, 0, kTwFaultArith},
               {kDivide, 1, kTwFaultAccess},   // endless recursion: the stack's guard region
               {kHang, 1, kTwFaultAccess}};    // a 32 MiB frame: the stack probe faults
  for (const Case& c : cases) {
    q->size = 5;
    int ok = -1;
    Routine(c.slot, c.which, &ok);
    EXPECT_EQ(ok, 0) << c.slot << "/" << c.which;
    EXPECT_EQ(TwLastFault(), c.fault) << c.slot << "/" << c.which;
    EXPECT_EQ(Routine(kMath, 0), MathExpected(5));
  }
  TwSetWatchdogMillis(300);
  int ok = -1;
  Routine(kHang, 0, &ok);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(TwLastFault(), kTwFaultWatchdog);
  TwSetWatchdogMillis(5000);
  for (int i = 0; i < 300; ++i) {
    Routine(i % 2 ? kFaults : kDivide, 0, &ok);
    ASSERT_EQ(ok, 0) << i;
  }
  q->size = 77;
  EXPECT_EQ(Routine(kCross, 0), 77u * 2654435761u ^ (77u >> 7));
}

}  // namespace
}  // namespace libtest
