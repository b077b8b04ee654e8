// MD5 against the RFC 1321 suite and in pieces; CRC-32 against its check
// value and a bitwise implementation. Runs in both the 32- and 64-bit builds.
#include <cstring>
#include <random>
#include <string>

#include "common/crc32.h"
#include "common/crc32_internal.h"
#include "common/md5.h"
#include "tests/codec/codec_test_support.h"

namespace {

std::string Hex(const uint8_t* d, size_t n) {
  std::string s;
  char b[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02x", d[i]);
    s += b;
  }
  return s;
}

std::string Md5Hex(const std::string& text) {
  uint8_t d[16];
  Md5Digest(text.data(), (uint32_t)text.size(), d);
  return Hex(d, 16);
}

}  // namespace

TEST(Md5, Rfc1321Suite) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PiecesGiveTheSameDigestAsOneCall) {
  std::mt19937 rng(9);
  std::vector<uint8_t> data(1000);
  for (auto& x : data) x = (uint8_t)rng();
  for (uint32_t length : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 129u, 200u, 1000u}) {
    uint8_t whole[16];
    Md5Digest(data.data(), length, whole);
    for (uint32_t piece : {1u, 63u, 64u, 65u, 7u}) {
      Md5Context ctx;
      Md5Init(&ctx);
      for (uint32_t at = 0; at < length; at += piece) Md5Update(&ctx, data.data() + at, std::min(piece, length - at));
      Md5Update(&ctx, data.data(), 0);  // empty pieces change nothing
      uint8_t pieces[16];
      Md5Final(&ctx, pieces);
      ASSERT_EQ(Hex(pieces, 16), Hex(whole, 16)) << length << " in pieces of " << piece;
    }
    // Split once at 63, 64 and 65.
    for (uint32_t split : {63u, 64u, 65u}) {
      if (split > length) continue;
      Md5Context ctx;
      Md5Init(&ctx);
      Md5Update(&ctx, data.data(), split);
      Md5Update(&ctx, data.data() + split, length - split);
      uint8_t two[16];
      Md5Final(&ctx, two);
      ASSERT_EQ(Hex(two, 16), Hex(whole, 16)) << length << " split at " << split;
    }
  }
}

TEST(Crc32, CheckValueAndRunningForm) {
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32("", 0), 0u);
  EXPECT_EQ(Crc32Update(Crc32("12345", 5), "6789", 4), 0xCBF43926u);
}

TEST(Crc32, MatchesABitwiseCrcAtEveryAlignmentAndLength) {
  std::mt19937 rng(10);
  std::vector<uint8_t> data(4096);
  for (auto& x : data) x = (uint8_t)rng();
  // Both paths: the folding one (where the processor has it) takes lengths
  // of 256 and more, the tables the rest and the tail.
  for (uint32_t offset = 0; offset < 16; offset += 5)
    for (uint32_t length = 0; length < 700; ++length) {
      const uint32_t expected = codec_test::SlowCrc32(data.data() + offset, length);
      ASSERT_EQ(Crc32(data.data() + offset, length), expected) << offset << "+" << length;
      ASSERT_EQ(Crc32UpdateTables(0, data.data() + offset, length), expected) << offset << "+" << length;
    }
  EXPECT_EQ(Crc32(data.data(), 4096), codec_test::SlowCrc32(data.data(), 4096));
  uint32_t crc = 0;
  for (uint32_t at = 0; at < 4096; at += 37) crc = Crc32Update(crc, data.data() + at, std::min(37u, 4096 - at));
  EXPECT_EQ(crc, codec_test::SlowCrc32(data.data(), 4096));
}
