// GzipDecode on valid input: zlib-made containers of generated data and real
// texts, hand-built streams that reach every length and distance code, the
// window and input-buffer boundaries, and the results and sizes the
// container's edge cases call for.
#include <cstring>
#include <random>

#include "tests/codec/codec_test_support.h"
#include "tests/codec/deflate_writer.h"

using namespace codec_test;

namespace {

std::vector<uint8_t> Hex(const char* text) {
  std::vector<uint8_t> v;
  for (const char* p = text; p[0] && p[1];) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    v.push_back((uint8_t)std::strtoul(std::string(p, 2).c_str(), nullptr, 16));
    p += 2;
  }
  return v;
}

void ExpectDecodes(const std::vector<uint8_t>& packed, const std::vector<uint8_t>& plain, const std::string& what) {
  const uint32_t capacity = (uint32_t)std::max(plain.size(), packed.size());
  DecodeResult r = Decode(packed, capacity);
  ASSERT_EQ(r.result, kGzipOk) << what;
  ASSERT_EQ(r.size, plain.size()) << what;
  ASSERT_TRUE(std::equal(plain.begin(), plain.end(), r.out.begin())) << what;
}

// Random tokens whose distances stay within what has been produced.
std::vector<Token> RandomTokens(std::mt19937& rng, size_t produced, size_t outputSize, int maxDistance = 32768) {
  std::vector<Token> tokens;
  size_t n = produced;
  while (n < outputSize) {
    if (n == 0 || rng() % 3 == 0) {
      tokens.push_back(Token::Literal((uint8_t)(rng() % 4 == 0 ? rng() : 'a' + rng() % 3)));
      ++n;
      continue;
    }
    const int limit = (int)std::min<size_t>(n, (size_t)maxDistance);
    int distance;
    switch (rng() % 4) {
      case 0: distance = 1 + (int)(rng() % std::min(limit, 8)); break;        // overlapping copies
      case 1: distance = limit - (int)(rng() % std::min(limit, 300)); break;  // far back
      default: distance = 1 + (int)(rng() % limit);
    }
    const int length = rng() % 5 == 0 ? 258 - (int)(rng() % 3) : 3 + (int)(rng() % 256);
    tokens.push_back(Token::Match((uint16_t)length, (uint16_t)distance));
    n += length;
  }
  return tokens;
}

}  // namespace

TEST(GzipDecode, ZlibContainersOfGeneratedDataAndLicenseTexts) {
  const std::vector<Vector>& vectors = LoadVectors();
  ASSERT_GE(vectors.size(), 8u * 12u) << "codec_vectors missing (built by codec_make_vectors)";
  bool sawLicense = false, sawLarge = false;
  for (const Vector& v : vectors) {
    ExpectDecodes(v.packed, v.plain(), v.name);
    sawLicense |= v.name.rfind("license-", 0) == 0;
    sawLarge |= v.plain().size() > 4 * 32768 && v.packed.size() > 32768 + 100;
  }
  EXPECT_TRUE(sawLicense);
  EXPECT_TRUE(sawLarge) << "no vector crosses both the window and the input buffer";
}

TEST(GzipDecode, CapacityExactlyTheRecordedLengthIsEnough) {
  for (const Vector& v : LoadVectors()) {
    if (v.plain().size() < v.packed.size() + 1) continue;
    DecodeResult r = Decode(v.packed, (uint32_t)v.plain().size());
    ASSERT_EQ(r.result, kGzipOk) << v.name;
    ASSERT_EQ(r.out, v.plain()) << v.name;
  }
}

TEST(GzipDecode, RecordedLengthOneMoreThanCapacityAsksForRoomWithoutDecoding) {
  for (const Vector& v : LoadVectors()) {
    if (v.plain().size() < v.packed.size() + 1) continue;
    const uint32_t capacity = (uint32_t)v.plain().size() - 1;
    DecodeResult r = Decode(v.packed, capacity);
    ASSERT_EQ(r.result, kGzipNeedRoom) << v.name;
    ASSERT_EQ(r.size, v.plain().size()) << v.name;
    ASSERT_EQ(r.out, std::vector<uint8_t>(capacity, 0xA5)) << v.name << ": wrote before knowing the room";
  }
}

TEST(GzipDecode, EmptyStoredContainer) {
  const std::vector<uint8_t> packed = Hex("1F8B08 0100 00FFFF 00000000 00000000");
  ASSERT_EQ(packed.size(), 16u);
  for (uint32_t capacity : {16u, 17u, 4096u}) {
    DecodeResult r = Decode(packed, capacity);
    EXPECT_EQ(r.result, kGzipOk);
    EXPECT_EQ(r.size, 0u);
  }
}

TEST(GzipDecode, CapacityBelowSourceLengthLeavesItUnchanged) {
  const std::vector<uint8_t> packed = Hex("1F8B08 0100 00FFFF 00000000 00000000");
  DecodeResult r = Decode(packed, 15);
  EXPECT_EQ(r.result, kGzipSourceLarger);
  EXPECT_EQ(r.size, 15u);
  EXPECT_EQ(r.out, std::vector<uint8_t>(15, 0xA5));
}

TEST(GzipDecode, FixedAndDynamicBlocksReachEveryLengthAndDistanceCode) {
  std::mt19937 rng(1);
  std::vector<Token> tokens;
  // More than a window of history, and more than an input buffer of input.
  for (int i = 0; i < 40000; ++i) tokens.push_back(Token::Literal((uint8_t)rng()));
  for (int length = 3; length <= 258; ++length)
    tokens.push_back(Token::Match((uint16_t)length, (uint16_t)(1 + rng() % 32768)));
  static const int kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
  for (int code = 0; code < 30; ++code) {
    const int next = code == 29 ? 32769 : kDistBase[code + 1];
    for (int distance : {kDistBase[code], next - 1, (kDistBase[code] + next) / 2})
      tokens.push_back(Token::Match((uint16_t)(3 + rng() % 256), (uint16_t)distance));
  }
  for (int distance = 1; distance <= 300; ++distance) tokens.push_back(Token::Match(258, (uint16_t)distance));
  const std::vector<uint8_t> plain = Expand(tokens);

  DeflateWriter fixed;
  fixed.Fixed(tokens, true);
  ExpectDecodes(Container(fixed.Bytes(), plain), plain, "fixed");

  for (int seed = 0; seed < 4; ++seed) {
    std::mt19937 codeRng(seed);
    // Every symbol is used, so every code must be present: complete codes
    // with lengths up to 15 bits exercise the sub-tables.
    const std::vector<int> lit = RandomCompleteLengths(286, 15, codeRng);
    const std::vector<int> dist = RandomCompleteLengths(30, 15, codeRng);
    ASSERT_EQ(*std::max_element(lit.begin(), lit.end()), 15);
    DeflateWriter dynamic;
    dynamic.Dynamic(tokens, lit, dist, true);
    ExpectDecodes(Container(dynamic.Bytes(), plain), plain, "dynamic " + std::to_string(seed));
  }
}

TEST(GzipDecode, MixedBlocksAcrossWindowAndInputBufferBoundaries) {
  for (int seed = 0; seed < 12; ++seed) {
    std::mt19937 rng(100 + seed);
    DeflateWriter w;
    std::vector<uint8_t> plain;
    const int blocks = 3 + seed % 5;
    for (int b = 0; b < blocks; ++b) {
      const bool last = b == blocks - 1;
      const size_t target = plain.size() + 1 + rng() % 90000;
      switch (rng() % 3) {
        case 0: {
          std::vector<uint8_t> data(rng() % 65536);  // a stored block holds at most 65535
          for (auto& x : data) x = (uint8_t)rng();
          w.Stored(data, last);
          plain.insert(plain.end(), data.begin(), data.end());
          break;
        }
        case 1: {
          std::vector<Token> t = RandomTokens(rng, plain.size(), target);
          w.Fixed(t, last);
          plain = Expand(t, plain);
          break;
        }
        default: {
          std::vector<Token> t = RandomTokens(rng, plain.size(), target);
          // Complete codes over all symbols: any token can be coded.
          w.Dynamic(t, RandomCompleteLengths(286, 1 + 8 + rng() % 7, rng),
                    RandomCompleteLengths(30, 5 + rng() % 11, rng), last);
          plain = Expand(t, plain);
        }
      }
    }
    ExpectDecodes(Container(w.Bytes(), plain), plain, "seed " + std::to_string(seed));
  }
}

TEST(GzipDecode, LongestMatchThatFillsTheFirstWindowExactly) {
  // A stored block leaves 32510 bytes in the window: exactly room for one
  // 258-byte match, which the fast loop then decodes up to the window's
  // very end. What follows starts a new lap, and a later match reaches back
  // into the first one, which must still count as history. The lap ends
  // inside a block, or with it.
  std::vector<uint8_t> data(32768 - 258);
  for (size_t i = 0; i < data.size(); ++i) data[i] = (uint8_t)(i * 131 + (i >> 7));
  const std::vector<Token> fill = {Token::Match(258, 1)};
  std::vector<Token> rest = {Token::Literal('X'), Token::Match(10, 100), Token::Match(258, 32768)};
  for (int i = 0; i < 40; ++i) rest.push_back(Token::Literal((uint8_t)('a' + i % 26)));
  for (int blockEnds = 0; blockEnds < 2; ++blockEnds) {
    DeflateWriter w;
    w.Stored(data, false);
    std::vector<uint8_t> plain;
    if (blockEnds) {
      w.Fixed(fill, false);
      w.Fixed(rest, true);
      plain = Expand(rest, Expand(fill, data));
    } else {
      std::vector<Token> t = fill;
      t.insert(t.end(), rest.begin(), rest.end());
      w.Fixed(t, true);
      plain = Expand(t, data);
    }
    ExpectDecodes(Container(w.Bytes(), plain), plain, blockEnds ? "lap ends with its block" : "lap ends inside a block");
  }
}

TEST(GzipDecode, PermittedDegenerateCodes) {
  // A lone one-bit distance code, distance symbol 0 (distance 1) only.
  std::vector<int> lit(286, 0), dist = {1};
  for (int i = 0; i < 256; ++i) lit[i] = 9;  // 256 x 1/512
  lit[256] = 2;                              // 1/4
  lit[257] = 2;                              // length 3: 1/4
  std::vector<Token> tokens = {Token::Literal('z'), Token::Match(3, 1), Token::Literal('y')};
  DeflateWriter one;
  one.Dynamic(tokens, lit, dist, true);
  std::vector<uint8_t> plain = Expand(tokens);
  ASSERT_EQ(plain, std::vector<uint8_t>({'z', 'z', 'z', 'z', 'y'}));
  ExpectDecodes(Container(one.Bytes(), plain), plain, "one distance code");

  // No distance code at all in a literal-only block, after a stored block.
  lit[257] = 0;
  lit[256] = 1;  // 1/2 + 256/512: complete
  DeflateWriter none;
  none.Stored({'h', 'i'}, false);
  none.Dynamic({Token::Literal('!')}, lit, {0}, true);
  ExpectDecodes(Container(none.Bytes(), {'h', 'i', '!'}), {'h', 'i', '!'}, "no distance code");

  // A block that can only end: its one code is end-of-block.
  std::vector<int> endOnly(257, 0);
  endOnly[256] = 1;
  DeflateWriter empty;
  empty.Fixed({Token::Literal('q')}, false);
  empty.Dynamic({}, endOnly, {0}, true);
  ExpectDecodes(Container(empty.Bytes(), {'q'}), {'q'}, "end-of-block only");
}

TEST(GzipDecode, ExtraByteAfterTrailerIsRejectedAfterProducingEverything) {
  std::vector<Token> tokens;
  for (char c : std::string("tarnwell")) tokens.push_back(Token::Literal((uint8_t)c));
  tokens.push_back(Token::Match(258, 8));
  const std::vector<uint8_t> plain = Expand(tokens);
  DeflateWriter w;
  w.Fixed(tokens, true);
  std::vector<uint8_t> packed = Container(w.Bytes(), plain);
  ExpectDecodes(packed, plain, "without the extra byte");
  packed.push_back(0);
  DecodeResult r = Decode(packed, 1000);
  EXPECT_EQ(r.result, kGzipBad);
  EXPECT_EQ(r.size, plain.size());
}

TEST(GzipDecode, CrcOrLengthMismatchIsRejectedAfterProducingEverything) {
  const std::vector<Vector>& vectors = LoadVectors();
  const Vector* v = nullptr;
  for (const Vector& x : vectors)
    if (x.name == "text.l6") v = &x;
  ASSERT_NE(v, nullptr);
  const uint32_t capacity = (uint32_t)v->plain().size() + 1000;
  const size_t crcAt = v->packed.size() - 8;
  for (int bit = 0; bit < 32; ++bit) {
    std::vector<uint8_t> packed = v->packed;
    packed[crcAt + bit / 8] ^= (uint8_t)(1 << (bit % 8));
    DecodeResult r = Decode(packed, capacity);
    ASSERT_EQ(r.result, kGzipBad) << bit;
    ASSERT_EQ(r.size, v->plain().size()) << bit;
    ASSERT_TRUE(std::equal(v->plain().begin(), v->plain().end(), r.out.begin())) << bit;
  }
  for (int delta : {-1, 1, 1000}) {
    std::vector<uint8_t> packed = v->packed;
    const uint32_t length = (uint32_t)v->plain().size() + delta;
    for (int i = 0; i < 4; ++i) packed[v->packed.size() - 4 + i] = (uint8_t)(length >> (8 * i));
    DecodeResult r = Decode(packed, capacity);
    ASSERT_EQ(r.result, kGzipBad) << delta;
    ASSERT_EQ(r.size, v->plain().size()) << delta;
  }
}

TEST(GzipDecode, ShortOrForeignHeadersAreRejected) {
  for (const char* hex : {"", "1F", "1F8B", "1F8B08", "1F8B0801", "1F8B080100", "1F8B08010000"}) {
    std::vector<uint8_t> packed = Hex(hex);
    DecodeResult r = Decode(packed, 64);
    EXPECT_EQ(r.result, kGzipBad) << hex;
    EXPECT_EQ(r.size, 0u) << hex;
  }
  for (const char* hex : {"1F8C08 0100 00FFFF 00000000 00000000", "1E8B08 0100 00FFFF 00000000 00000000",
                          "1F8B07 0100 00FFFF 00000000 00000000",
                          // a real gzip member: flags and time after the method are not ours
                          "1F8B08 00 00000000 00 03 0300 00000000 00000000"}) {
    DecodeResult r = Decode(Hex(hex), 64);
    EXPECT_EQ(r.result, kGzipBad) << hex;
  }
}

TEST(GzipDecode, AllocationFailureIsBad) {
  const std::vector<uint8_t> packed = Hex("1F8B08 0100 00FFFF 00000000 00000000");
  TestAllocator alloc;
  alloc.failAt = 0;
  uint8_t out[32];
  uint32_t size = sizeof out;
  EXPECT_EQ(GzipDecode(&alloc.api, packed.data(), (uint32_t)packed.size(), out, &size), kGzipBad);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(alloc.live, 0);
}
