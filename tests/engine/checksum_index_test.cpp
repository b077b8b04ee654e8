// The checksum index against the record-by-record scan it replaces: the
// first record in stored order whose unit type and CRC match must win.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "common/crc32.h"
#include "scanner/engine/checksum_index.h"

namespace {

void* Alloc(void*, uint32_t size) { return std::malloc(size); }
void Free(void*, void* p) { std::free(p); }
const IndexAllocator kAlloc = {Alloc, Free, nullptr};

struct Rec {
  uint8_t type;
  uint16_t offset;
  uint8_t length;
  uint32_t crc;
};

std::vector<uint8_t> Pack(const std::vector<Rec>& recs) {
  std::vector<uint8_t> out;
  for (const Rec& r : recs) {
    out.push_back(r.type);
    out.push_back(r.offset & 0xFF);
    out.push_back(r.offset >> 8);
    out.push_back(r.length);
    for (int i = 0; i < 4; i++) out.push_back((r.crc >> (8 * i)) & 0xFF);
  }
  return out;
}

uint32_t Naive(const std::vector<Rec>& recs, uint8_t type, const uint8_t* window) {
  for (size_t i = 0; i < recs.size(); i++) {
    const Rec& r = recs[i];
    if (r.type == type && Crc32(window + r.offset, r.length) == r.crc) return (uint32_t)i;
  }
  return 0xFFFFFFFFu;
}

TEST(ChecksumIndex, AgreesWithRecordByRecordScan) {
  std::mt19937 rng(12345);
  std::vector<uint8_t> window(65536 + 256 + 16);
  for (auto& b : window) b = rng() & 0xFF;
  std::vector<Rec> recs;
  // Records taken from the window (so they match), decoys, duplicates of the
  // same (group, crc) at a later index, zero-length records, and records
  // sharing an offset with different lengths (the running CRC).
  for (int i = 0; i < 3000; i++) {
    Rec r;
    r.type = 1 + rng() % 3;
    r.offset = (rng() % 8) * 512 + (rng() % 2);
    r.length = (uint8_t)(rng() % 4 == 0 ? 0 : 1 + rng() % 64);
    if (i % 300 == 0) r.offset = 65535, r.length = 255;
    bool matching = rng() % 10 == 0;
    r.crc = matching ? Crc32(window.data() + r.offset, r.length) : (uint32_t)rng();
    if (r.length == 0 && !matching) r.crc |= 1;  // the CRC of nothing is 0
    recs.push_back(r);
  }
  recs.push_back(recs[17]);
  std::vector<uint8_t> packed = Pack(recs);
  ChecksumIndex index;
  ASSERT_EQ(BuildChecksumIndex(&index, &kAlloc, packed.data(), (uint32_t)recs.size()), 1);
  for (int trial = 0; trial < 40; trial++) {
    for (int type = 0; type < 5; type++) {
      EXPECT_EQ(MatchChecksumIndex(&index, (uint8_t)type, window.data()), Naive(recs, (uint8_t)type, window.data()))
          << "trial " << trial << " type " << type;
    }
    // Change a few bytes so other records (or none) match next time.
    for (int k = 0; k < 8; k++) window[(rng() % 8) * 512 + rng() % 70] ^= 0x5A;
  }
  ReleaseChecksumIndex(&index, &kAlloc);
}

// A small file's head unit is zeros past its end. Runs of zero bytes take
// an answer worked out when the index was built: it must be the one the
// record-by-record scan gives, for runs wholly zero, partly zero, and of
// zero length, with records for zeros stored before and after others.
TEST(ChecksumIndex, ZeroBytesAgreeWithRecordByRecordScan) {
  std::mt19937 rng(777);
  std::vector<uint8_t> zeros(256, 0);
  std::vector<Rec> recs;
  for (int i = 0; i < 2000; i++) {
    Rec r;
    r.type = 1 + rng() % 2;
    r.offset = (uint16_t)((rng() % 16) * 64);
    r.length = (uint8_t)(rng() % 8 == 0 ? 0 : 1 + rng() % 48);
    int kind = rng() % 4;
    if (kind == 0)
      r.crc = Crc32(zeros.data(), r.length);  // matches wherever those bytes are zero
    else
      r.crc = (uint32_t)rng() | (r.length == 0 ? 1 : 0);
    recs.push_back(r);
  }
  std::vector<uint8_t> packed = Pack(recs);
  ChecksumIndex index;
  ASSERT_EQ(BuildChecksumIndex(&index, &kAlloc, packed.data(), (uint32_t)recs.size()), 1);
  std::vector<uint8_t> window(65536 + 256 + 16, 0);
  for (uint32_t filled : {0u, 1u, 63u, 64u, 100u, 500u, 1023u, 1100u}) {
    for (int trial = 0; trial < 8; trial++) {
      std::fill(window.begin(), window.end(), 0);
      for (uint32_t k = 0; k < filled; k++) window[k] = (uint8_t)(rng() % 3 == 0 ? 0 : 1 + rng() % 255);
      // Now and then one stray byte inside a zero run.
      if (trial % 2 == 1) window[filled + rng() % 200] = 0x80;
      for (int type = 0; type < 4; type++)
        EXPECT_EQ(MatchChecksumIndex(&index, (uint8_t)type, window.data()), Naive(recs, (uint8_t)type, window.data()))
            << "filled " << filled << " trial " << trial << " type " << type;
    }
  }
  ReleaseChecksumIndex(&index, &kAlloc);
}

TEST(ChecksumIndex, FirstStoredRecordWinsAcrossGroups) {
  std::vector<uint8_t> window(70000, 0);
  std::memcpy(window.data() + 100, "SIGNATURE-ONE", 13);
  std::vector<Rec> recs = {
      {2, 100, 13, Crc32("SIGNATURE-ONE", 13)},  // another unit type
      {1, 50, 10, 0xDEADBEEF},
      {1, 100, 9, Crc32("SIGNATURE", 9)},      // index 2: matches
      {1, 100, 13, Crc32("SIGNATURE-ONE", 13)},  // index 3: matches later
      {1, 100, 9, Crc32("SIGNATURE", 9)},      // duplicate, later
  };
  std::vector<uint8_t> packed = Pack(recs);
  ChecksumIndex index;
  ASSERT_EQ(BuildChecksumIndex(&index, &kAlloc, packed.data(), (uint32_t)recs.size()), 1);
  EXPECT_EQ(MatchChecksumIndex(&index, 1, window.data()), 2u);
  EXPECT_EQ(MatchChecksumIndex(&index, 2, window.data()), 0u);
  EXPECT_EQ(MatchChecksumIndex(&index, 3, window.data()), 0xFFFFFFFFu);
  window[100] = 'X';
  EXPECT_EQ(MatchChecksumIndex(&index, 1, window.data()), 0xFFFFFFFFu);
  ReleaseChecksumIndex(&index, &kAlloc);
}

// CRCs chosen for a hash of (group, CRC) with a public mixing function
// (xor-shift 16, multiply, xor-shift 13, as common hash tables use): its
// inverse turns any wanted slot into a CRC, and a library file can hold any
// CRCs. These 262144 records of one group all land in the first 1024 slots of
// a table of 2^19, one probe chain for all of them. Building the index and
// finding records must stay cheap, and the first record of a CRC must win.
TEST(ChecksumIndex, CrcsCraftedToCollideInOneGroup) {
  auto inverse = [](uint32_t c) {
    uint32_t x = c;
    for (int i = 0; i < 5; i++) x *= 2 - c * x;
    return x;
  };
  const uint32_t n = 262144;
  std::vector<Rec> recs;
  for (uint32_t k = 0; k < n; k++) {
    uint32_t x = (k & 1023) | (k >> 10) << 19;
    x ^= x >> 13;
    x ^= x >> 26;
    x *= inverse(0x85EBCA6Bu);
    x ^= x >> 16;
    recs.push_back({1, 0, 4, x ^ 0x9E3779B9u});  // the first group
  }
  std::vector<uint8_t> window(65536 + 256 + 16, 0);
  recs[n / 4].crc = Crc32(window.data(), 4);
  recs.push_back(recs[n / 4]);  // a later duplicate
  std::vector<uint8_t> packed = Pack(recs);
  ChecksumIndex index;
  ASSERT_EQ(BuildChecksumIndex(&index, &kAlloc, packed.data(), (uint32_t)recs.size()), 1);
  EXPECT_EQ(MatchChecksumIndex(&index, 1, window.data()), n / 4);
  for (int trial = 0; trial < 100; trial++) {
    // Windows whose CRC is that of some record (a few) or of none.
    std::memcpy(window.data(), &recs[(trial * 7919u) % n].crc, 4);
    window[0] ^= (uint8_t)(trial % 3);
    EXPECT_EQ(MatchChecksumIndex(&index, 1, window.data()), Naive(recs, 1, window.data())) << trial;
  }
  ReleaseChecksumIndex(&index, &kAlloc);
}

TEST(ChecksumIndex, EmptyTableMatchesNothing) {
  std::vector<uint8_t> window(70000, 0);
  ChecksumIndex index;
  ASSERT_EQ(BuildChecksumIndex(&index, &kAlloc, nullptr, 0), 1);
  EXPECT_EQ(MatchChecksumIndex(&index, 0, window.data()), 0xFFFFFFFFu);
  ReleaseChecksumIndex(&index, &kAlloc);
}

std::vector<uint8_t> MultiRecord(uint8_t type, uint8_t checks, uint8_t fill) {
  std::vector<uint8_t> r = {type, checks};
  r.resize(17 + 7 * checks, fill);
  return r;
}

TEST(RecordList, SplitsByTypeInStoredOrderAndStopsAtACutRecord) {
  std::vector<uint8_t> table;
  std::vector<uint32_t> offsets;
  uint8_t types[] = {3, 1, 3, 0, 255, 1};
  uint8_t checks[] = {0, 2, 1, 5, 0, 3};
  for (int i = 0; i < 6; i++) {
    offsets.push_back((uint32_t)table.size());
    auto r = MultiRecord(types[i], checks[i], (uint8_t)i);
    table.insert(table.end(), r.begin(), r.end());
  }
  RecordList list;
  ASSERT_EQ(BuildRecordList(&list, &kAlloc, table.data(), (uint32_t)table.size(), 6), 1);
  ASSERT_EQ(list.count, 6u);
  EXPECT_EQ(list.typeStart[1 + 1] - list.typeStart[1], 2u);
  EXPECT_EQ(list.offsets[list.typeStart[1]], offsets[1]);
  EXPECT_EQ(list.indexes[list.typeStart[1] + 1], 5u);
  EXPECT_EQ(list.offsets[list.typeStart[3]], offsets[0]);
  EXPECT_EQ(list.indexes[list.typeStart[3] + 1], 2u);
  EXPECT_EQ(list.typeStart[256] - list.typeStart[255], 1u);
  ReleaseRecordList(&list, &kAlloc);

  // The last record cut short: only the five whole ones are kept; a count
  // below the records present stops earlier.
  ASSERT_EQ(BuildRecordList(&list, &kAlloc, table.data(), (uint32_t)table.size() - 1, 6), 1);
  EXPECT_EQ(list.count, 5u);
  ReleaseRecordList(&list, &kAlloc);
  ASSERT_EQ(BuildRecordList(&list, &kAlloc, table.data(), (uint32_t)table.size(), 2), 1);
  EXPECT_EQ(list.count, 2u);
  ReleaseRecordList(&list, &kAlloc);
}

}  // namespace
