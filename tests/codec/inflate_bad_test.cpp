// GzipDecode on broken input: every malformed container or DEFLATE stream
// answers -2 (or 0 when a damaged length field asks for more room), never
// reads or writes outside its buffers (the sanitizer build checks), never
// hangs, and reports only bytes that really were produced.
#include <cstring>
#include <random>

#include "tests/codec/codec_test_support.h"
#include "tests/codec/deflate_writer.h"

using namespace codec_test;

namespace {

uint32_t Le32At(const std::vector<uint8_t>& v, size_t at) {
  return (uint32_t)v[at] | (uint32_t)v[at + 1] << 8 | (uint32_t)v[at + 2] << 16 | (uint32_t)v[at + 3] << 24;
}

const Vector& Find(const std::vector<Vector>& vectors, const std::string& name) {
  for (const Vector& v : vectors)
    if (v.name == name) return v;
  ADD_FAILURE() << "no vector " << name;
  static Vector empty;
  return empty;
}

// Damaged input: result 8 only with the original output (a flipped padding
// bit changes nothing), 0 only with the recorded length written back, else -2
// with a prefix of the original output.
void ExpectSafe(const std::vector<uint8_t>& packed, const std::vector<uint8_t>& plain, uint32_t capacity,
                const std::string& what) {
  DecodeResult r = Decode(packed, capacity);
  if (r.result == kGzipOk) {
    ASSERT_EQ(r.size, plain.size()) << what;
    ASSERT_TRUE(std::equal(plain.begin(), plain.end(), r.out.begin())) << what;
  } else if (r.result == kGzipNeedRoom) {
    ASSERT_GE(packed.size(), 7u) << what;
    ASSERT_EQ(r.size, Le32At(packed, packed.size() - 4)) << what;
    ASSERT_GT(r.size, capacity) << what;
  } else {
    ASSERT_EQ(r.result, kGzipBad) << what;
    // Decoding stops at the first flush past the capacity.
    ASSERT_LE(r.size, (uint64_t)capacity + 32768) << what;
  }
}

// Decodes a hand-built DEFLATE stream with a plausible trailer: must be bad.
void ExpectBadStream(const std::vector<uint8_t>& deflate, const std::string& what,
                     const std::vector<uint8_t>& plain = {}) {
  DecodeResult r = Decode(Container(deflate, plain), 1 << 16);
  EXPECT_EQ(r.result, kGzipBad) << what;
}

// The fixed code's lengths for the 286 symbols a dynamic block may have,
// made complete again by giving the last two symbols 7 bits.
std::vector<int> FixedLit() {
  std::vector<int> lit(286);
  for (int i = 0; i < 286; ++i) lit[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : i < 284 ? 8 : 7;
  return lit;
}

// 30 distance codes: 28 of five bits and 2 of four, a complete code.
std::vector<int> CompleteDist() {
  std::vector<int> dist(30, 5);
  dist[28] = dist[29] = 4;
  return dist;
}

}  // namespace

TEST(GzipDecodeBad, TruncatedAtEveryLength) {
  const std::vector<Vector>& vectors = LoadVectors();
  for (const char* name : {"small.l9", "small.fixed", "small.l0", "license-BSD.l6", "one.l1", "empty.l0"}) {
    const Vector& v = Find(vectors, name);
    const uint32_t capacity = (uint32_t)(v.plain().size() + v.packed.size());
    for (size_t cut = 0; cut < v.packed.size(); ++cut) {
      std::vector<uint8_t> packed(v.packed.begin(), v.packed.begin() + cut);
      DecodeResult r = Decode(packed, capacity);
      ASSERT_NE(r.result, kGzipOk) << name << " cut " << cut;
      if (r.result == kGzipBad) {
        // What was produced is a prefix of the original.
        ASSERT_LE(r.size, v.plain().size()) << name << " cut " << cut;
        ASSERT_TRUE(std::equal(v.plain().begin(), v.plain().begin() + r.size, r.out.begin())) << name << cut;
      } else {
        ASSERT_EQ(r.result, kGzipNeedRoom);
        ASSERT_EQ(r.size, Le32At(packed, cut - 4));
      }
    }
  }
  // Large streams cut inside and around input-buffer refills.
  for (const char* name : {"mixed.l9", "random.l0", "licenses-all.fixed"}) {
    const Vector& v = Find(vectors, name);
    const uint32_t capacity = (uint32_t)(v.plain().size() + v.packed.size());
    for (size_t cut : {(size_t)3, (size_t)32767, (size_t)32768, (size_t)32769, (size_t)65536 + 17,
                       v.packed.size() - 9, v.packed.size() - 8, v.packed.size() - 5, v.packed.size() - 1}) {
      if (cut >= v.packed.size()) continue;
      std::vector<uint8_t> packed(v.packed.begin(), v.packed.begin() + cut);
      ExpectSafe(packed, v.plain(), capacity, std::string(name) + " cut " + std::to_string(cut));
      DecodeResult r = Decode(packed, capacity);
      ASSERT_NE(r.result, kGzipOk);
    }
  }
}

TEST(GzipDecodeBad, EveryBitFlippedInSmallContainers) {
  const std::vector<Vector>& vectors = LoadVectors();
  for (const char* name : {"small.l9", "small.fixed", "small.l0", "license-BSD.l6", "license-BSD.huffman"}) {
    const Vector& v = Find(vectors, name);
    const uint32_t capacity = (uint32_t)(v.plain().size() + v.packed.size());
    for (size_t bit = 0; bit < v.packed.size() * 8; ++bit) {
      std::vector<uint8_t> packed = v.packed;
      packed[bit / 8] ^= (uint8_t)(1 << (bit % 8));
      ExpectSafe(packed, v.plain(), capacity, std::string(name) + " bit " + std::to_string(bit));
    }
  }
}

TEST(GzipDecodeBad, RandomCorruptionOfLargeContainers) {
  const std::vector<Vector>& vectors = LoadVectors();
  std::mt19937 rng(7);
  for (const char* name : {"mixed.l6", "text.smallblocks", "far.l9", "runs.rle", "licenses-all.sync"}) {
    const Vector& v = Find(vectors, name);
    const uint32_t capacity = (uint32_t)(v.plain().size() + v.packed.size());
    for (int round = 0; round < 60; ++round) {
      std::vector<uint8_t> packed = v.packed;
      const int edits = 1 + (int)(rng() % 8);
      for (int e = 0; e < edits; ++e) {
        const size_t at = 3 + rng() % (packed.size() - 11);
        if (rng() % 2)
          packed[at] ^= (uint8_t)(1 << (rng() % 8));
        else
          packed[at] = (uint8_t)rng();
      }
      ExpectSafe(packed, v.plain(), capacity, std::string(name) + " round " + std::to_string(round));
    }
  }
}

TEST(GzipDecodeBad, GarbageAfterTheHeaderEndsCleanly) {
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> packed = {0x1F, 0x8B, 0x08};
    const size_t n = rng() % 3000;
    for (size_t i = 0; i < n; ++i) packed.push_back((uint8_t)rng());
    PutLe32(&packed, 0);
    PutLe32(&packed, (uint32_t)(rng() % 5000));
    ExpectSafe(packed, {}, 5000 + (uint32_t)packed.size(), "round " + std::to_string(round));
  }
}

TEST(GzipDecodeBad, TrailingGarbageAfterEveryVector) {
  for (const Vector& v : LoadVectors()) {
    // One zero byte: the last four bytes then read as the length shifted
    // down, which stays within the capacity, so the decoder does run.
    std::vector<uint8_t> packed = v.packed;
    packed.push_back(0x00);
    DecodeResult r = Decode(packed, (uint32_t)(v.plain().size() + packed.size()));
    ASSERT_EQ(r.result, kGzipBad) << v.name;
    ASSERT_EQ(r.size, v.plain().size()) << v.name;
  }
}

TEST(GzipDecodeBad, OutputBeyondCapacityIsCountedNotStored) {
  // 1 MiB of 'z' in a stream that claims 1000 bytes: a decompression bomb
  // aimed at an 8 KiB buffer.
  std::vector<Token> tokens = {Token::Literal('z')};
  for (int i = 0; i < 4065; ++i) tokens.push_back(Token::Match(258, 1));
  DeflateWriter w;
  w.Fixed(tokens, true);
  std::vector<uint8_t> packed = {0x1F, 0x8B, 0x08};
  packed.insert(packed.end(), w.Bytes().begin(), w.Bytes().end());
  PutLe32(&packed, 0);
  PutLe32(&packed, 1000);
  ASSERT_LT(packed.size(), 8192u);
  DecodeResult r = Decode(packed, 8192);
  EXPECT_EQ(r.result, kGzipBad);
  EXPECT_GT(r.size, 8192u);
  EXPECT_LE(r.size, 32768u);  // stopped at the first flush past the capacity
  EXPECT_EQ(r.out, std::vector<uint8_t>(8192, 'z'));

  // One byte more than both the capacity and the recorded length.
  std::vector<uint8_t> plain(40000, 'q');
  std::vector<Token> t = {Token::Literal('q')};
  for (int n = 1; n < 40001;) {
    const int len = std::min(258, 40001 - n);
    if (len < 3) {
      t.push_back(Token::Literal('q'));
      ++n;
      continue;
    }
    t.push_back(Token::Match((uint16_t)len, 1));
    n += len;
  }
  ASSERT_EQ(Expand(t).size(), 40001u);
  DeflateWriter w2;
  w2.Fixed(t, true);
  packed = Container(w2.Bytes(), plain);  // records 40000
  r = Decode(packed, 40000);
  EXPECT_EQ(r.result, kGzipBad);
  EXPECT_EQ(r.size, 40001u);
  EXPECT_EQ(r.out, plain);
}

TEST(GzipDecodeBad, BlockHeaders) {
  BitWriter reserved;
  reserved.Put(1, 1);
  reserved.Put(3, 2);  // block type 3
  ExpectBadStream(reserved.Bytes(), "block type 3");

  DeflateWriter stored;
  stored.Bits().Put(1, 1);
  stored.Bits().Put(0, 2);
  stored.Bits().Align();
  stored.Bits().Put(5, 16);
  stored.Bits().Put(0xFFFB, 16);  // complement of 4
  for (int i = 0; i < 5; ++i) stored.Bits().Put('s', 8);
  ExpectBadStream(stored.Bytes(), "stored length mismatch", std::vector<uint8_t>(5, 's'));

  DeflateWriter cut;
  cut.Stored(std::vector<uint8_t>(100, 'c'), true);
  std::vector<uint8_t> bytes = cut.Bytes();
  bytes.resize(bytes.size() - 50);
  // The trailer supplies 8 of the missing bytes; the rest are not there.
  ExpectBadStream(bytes, "stored block cut short", std::vector<uint8_t>(100, 'c'));

  DeflateWriter notLast;
  notLast.Stored({'a'}, false);  // the stream never ends
  ExpectBadStream(notLast.Bytes(), "no last block", {'a'});
}

TEST(GzipDecodeBad, InvalidDynamicHeaders) {
  const std::vector<int> lit = FixedLit(), dist = CompleteDist();
  const std::vector<Token> tokens = {Token::Literal('a')};
  {
    DeflateWriter w;  // control: this block is fine
    w.Dynamic(tokens, lit, dist, true);
    DecodeResult r = Decode(Container(w.Bytes(), {'a'}), 1 << 16);
    ASSERT_EQ(r.result, kGzipOk);
  }
  for (int hlit : {287, 288}) {
    std::vector<int> l = lit;
    l.resize(hlit, 8);
    DeflateWriter w;
    w.Bits().Put(1, 1);
    w.Bits().Put(2, 2);
    w.DynamicHeader(l, dist);
    ExpectBadStream(w.Bytes(), "HLIT " + std::to_string(hlit));
  }
  for (int hdist : {31, 32}) {
    DeflateWriter w;
    w.Bits().Put(1, 1);
    w.Bits().Put(2, 2);
    w.DynamicHeader(lit, std::vector<int>(hdist, 5));
    ExpectBadStream(w.Bytes(), "HDIST " + std::to_string(hdist));
  }
  // Code-length codes: over-subscribed, incomplete, a lone one-bit code.
  const std::vector<std::vector<int>> codeLengthCodes = {
      {1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {0, 0, 0, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}};
  for (size_t c = 0; c < codeLengthCodes.size(); ++c) {
    BitWriter b;
    b.Put(1, 1);
    b.Put(2, 2);
    b.Put(0, 5);
    b.Put(0, 5);
    b.Put(15, 4);
    for (int l : codeLengthCodes[c]) b.Put((uint32_t)l, 3);
    for (int i = 0; i < 40; ++i) b.Put(0, 8);
    ExpectBadStream(b.Bytes(), "code-length code " + std::to_string(c));
  }
}

TEST(GzipDecodeBad, InvalidCodeLengthSequences) {
  // A dynamic block header whose code-length code gives 0, 16, 17 and 18
  // two bits each (with repeats) or 0..15 four bits each.
  auto header = [](BitWriter& b, int hlit, int hdist, bool withRepeats) {
    b.Put(1, 1);
    b.Put(2, 2);
    b.Put((uint32_t)hlit - 257, 5);
    b.Put((uint32_t)hdist - 1, 5);
    b.Put(19 - 4, 4);
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    // With repeats: 16, 17, 18 and 0 two bits each; else 0..15 four bits.
    for (int i = 0; i < 19; ++i) {
      const int sym = order[i];
      b.Put(withRepeats ? (sym >= 16 || sym == 0 ? 2 : 0) : (sym < 16 ? 4 : 0), 3);
    }
  };
  // Canonical codes of {0, 16, 17, 18} at two bits: 0 -> 00, 16 -> 01, 17 -> 10, 18 -> 11.
  {
    BitWriter b;
    header(b, 257, 1, true);
    b.PutCode(1, 2);  // 16 first: nothing to repeat
    b.Put(0, 2);
    for (int i = 0; i < 40; ++i) b.Put(0, 8);
    ExpectBadStream(b.Bytes(), "repeat with no previous length");
  }
  {
    BitWriter b;
    header(b, 257, 1, true);
    b.PutCode(3, 2);  // 18: 138 zeros
    b.Put(127, 7);
    b.PutCode(3, 2);  // 18: 120 zeros more than the 120 left
    b.Put(120 - 11 + 1, 7);
    for (int i = 0; i < 40; ++i) b.Put(0, 8);
    ExpectBadStream(b.Bytes(), "repeat past the end of the lengths");
  }
  {
    BitWriter b;
    header(b, 257, 1, true);
    b.PutCode(3, 2);  // 18: 138 zeros
    b.Put(127, 7);
    b.PutCode(3, 2);  // 18: 118 zeros: lengths of symbols 138..255
    b.Put(118 - 11, 7);
    b.PutCode(0, 2);  // 256 = 0: no end-of-block code
    b.PutCode(0, 2);  // distance 0 = 0
    for (int i = 0; i < 40; ++i) b.Put(0, 8);
    ExpectBadStream(b.Bytes(), "missing end-of-block code");
  }

  DeflateWriter over;  // 286 codes of eight bits: over-subscribed
  over.Bits().Put(1, 1);
  over.Bits().Put(2, 2);
  over.DynamicHeader(std::vector<int>(286, 8), CompleteDist());
  ExpectBadStream(over.Bytes(), "over-subscribed literal/length code");

  std::vector<int> incomplete(286, 0);
  incomplete[256] = 2;
  incomplete['a'] = 2;  // half the code space unused, and more than one code
  DeflateWriter inc;
  inc.Bits().Put(1, 1);
  inc.Bits().Put(2, 2);
  inc.DynamicHeader(incomplete, CompleteDist());
  ExpectBadStream(inc.Bytes(), "incomplete literal/length code");

  DeflateWriter overDist;
  overDist.Bits().Put(1, 1);
  overDist.Bits().Put(2, 2);
  overDist.DynamicHeader(FixedLit(), {1, 1, 1});
  ExpectBadStream(overDist.Bytes(), "over-subscribed distance code");

  DeflateWriter incDist;
  incDist.Bits().Put(1, 1);
  incDist.Bits().Put(2, 2);
  incDist.DynamicHeader(FixedLit(), {2, 2});
  ExpectBadStream(incDist.Bytes(), "incomplete distance code");
}

TEST(GzipDecodeBad, UnusedCodesAndDistancesTooFarBack) {
  // Fixed code: length symbols 286 and 287, distance codes 30 and 31.
  for (int sym : {286, 287}) {
    BitWriter b;
    b.Put(1, 1);
    b.Put(1, 2);
    b.PutCode(0x30 + 'a', 8);
    b.PutCode(0xC0 + (uint32_t)(sym - 280), 8);
    for (int i = 0; i < 20; ++i) b.Put(0, 8);
    ExpectBadStream(b.Bytes(), "length symbol " + std::to_string(sym), {'a'});
  }
  for (int code : {30, 31}) {
    BitWriter b;
    b.Put(1, 1);
    b.Put(1, 2);
    b.PutCode(0x30 + 'a', 8);
    b.PutCode(1, 7);  // symbol 257: length 3
    b.PutCode((uint32_t)code, 5);
    for (int i = 0; i < 20; ++i) b.Put(0, 8);
    ExpectBadStream(b.Bytes(), "distance code " + std::to_string(code), {'a'});
  }
  // Distances one past the output, at the start and after some output;
  // after 100 bytes, distance 100 is fine and 101 is not.
  for (int produced : {0, 1, 100, 32767}) {
    std::vector<Token> ok, bad;
    for (int i = 0; i < produced; ++i) ok.push_back(Token::Literal((uint8_t)i));
    bad = ok;
    bad.push_back(Token::Match(3, (uint16_t)(produced + 1)));
    DeflateWriter w;
    w.Fixed(bad, true);
    ExpectBadStream(w.Bytes(), "distance past the start after " + std::to_string(produced));
    if (produced > 0) {
      ok.push_back(Token::Match(3, (uint16_t)produced));
      DeflateWriter w2;
      w2.Fixed(ok, true);
      std::vector<uint8_t> plain = Expand(ok);
      DecodeResult r = Decode(Container(w2.Bytes(), plain), 1 << 16);
      EXPECT_EQ(r.result, kGzipOk) << produced;
    }
  }
  // A match in a block without distance codes, and the unused half of a
  // lone one-bit distance code.
  std::vector<int> lit(286, 0);
  for (int i = 0; i < 256; ++i) lit[i] = 9;
  lit[256] = 2;
  lit[257] = 2;
  {
    DeflateWriter w;
    w.Bits().Put(1, 1);
    w.Bits().Put(2, 2);
    w.DynamicHeader(lit, {0});
    std::vector<uint32_t> codes = CanonicalCodes(lit);
    w.Bits().PutCode(codes['x'], 9);
    w.Bits().PutCode(codes[257], 2);
    w.Bits().Put(0, 1);  // any distance code
    for (int i = 0; i < 20; ++i) w.Bits().Put(0, 8);
    ExpectBadStream(w.Bytes(), "match without distance codes", {'x'});
  }
  {
    DeflateWriter w;
    w.Bits().Put(1, 1);
    w.Bits().Put(2, 2);
    w.DynamicHeader(lit, {1});
    std::vector<uint32_t> codes = CanonicalCodes(lit);
    w.Bits().PutCode(codes['x'], 9);
    w.Bits().PutCode(codes[257], 2);
    w.Bits().Put(1, 1);  // the code that is not there
    for (int i = 0; i < 20; ++i) w.Bits().Put(0, 8);
    ExpectBadStream(w.Bytes(), "unused half of a one-bit distance code", {'x'});
  }
}
