// A small DEFLATE writer for tests: bits, stored blocks, fixed-Huffman and
// dynamic-Huffman blocks from explicit tokens and code lengths, so tests can
// build exactly the streams they need, broken ones included. Written from
// RFC 1951, independently of the decoder.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace codec_test {

class BitWriter {
 public:
  // `count` bits of `value`, least significant first (header fields, extra bits).
  void Put(uint32_t value, int count) {
    for (int i = 0; i < count; ++i) PutBit((value >> i) & 1);
  }
  // A Huffman code: its most significant bit goes first.
  void PutCode(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) PutBit((code >> i) & 1);
  }
  void Align() {
    while (bitCount_ % 8) PutBit(0);
  }
  void PutByte(uint8_t b) {
    Align();
    Put(b, 8);
  }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  size_t BitCount() const { return bitCount_; }

 private:
  void PutBit(uint32_t bit) {
    if (bitCount_ % 8 == 0) bytes_.push_back(0);
    bytes_.back() |= (uint8_t)(bit << (bitCount_ % 8));
    ++bitCount_;
  }
  std::vector<uint8_t> bytes_;
  size_t bitCount_ = 0;
};

struct Token {
  uint16_t length;    // 0 for a literal
  uint16_t distance;  // or the literal byte
  static Token Literal(uint8_t b) { return Token{0, b}; }
  static Token Match(uint16_t length, uint16_t distance) { return Token{length, distance}; }
};

// Expands tokens the obvious way (the expected output of a stream).
inline std::vector<uint8_t> Expand(const std::vector<Token>& tokens, std::vector<uint8_t> out = {}) {
  for (const Token& t : tokens) {
    if (t.length == 0) {
      out.push_back((uint8_t)t.distance);
    } else {
      for (int i = 0; i < t.length; ++i) out.push_back(out[out.size() - t.distance]);
    }
  }
  return out;
}

// Length and distance symbols with their extra bits (RFC 1951, 3.2.5).
struct SymbolCode {
  int symbol;
  int extraBits;
  uint32_t extra;
};

inline SymbolCode LengthSymbol(int length) {
  static const int base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  static const int extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  int i = 28;
  while (base[i] > length) --i;  // 227..257 fall to code 284, 258 has its own
  return SymbolCode{257 + i, extra[i], (uint32_t)(length - base[i])};
}

inline SymbolCode DistanceSymbol(int distance) {
  static const int base[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                               193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
  int i = 29;
  while (base[i] > distance) --i;
  const int extraBits = i < 4 ? 0 : i / 2 - 1;
  return SymbolCode{i, extraBits, (uint32_t)(distance - base[i])};
}

// Canonical codes of a set of code lengths (RFC 1951, 3.2.2).
inline std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
  int count[16] = {};
  for (int l : lengths) count[l]++;
  count[0] = 0;
  uint32_t next[16] = {};
  uint32_t code = 0;
  for (int bits = 1; bits < 16; ++bits) {
    code = (code + count[bits - 1]) << 1;
    next[bits] = code;
  }
  std::vector<uint32_t> codes(lengths.size(), 0);
  for (size_t i = 0; i < lengths.size(); ++i)
    if (lengths[i]) codes[i] = next[lengths[i]]++;
  return codes;
}

class DeflateWriter {
 public:
  void Stored(const std::vector<uint8_t>& data, bool last) {
    bits_.Put(last, 1);
    bits_.Put(0, 2);
    bits_.Align();
    bits_.Put((uint32_t)data.size(), 16);
    bits_.Put(~(uint32_t)data.size() & 0xFFFF, 16);
    for (uint8_t b : data) bits_.Put(b, 8);
  }

  void Fixed(const std::vector<Token>& tokens, bool last) {
    bits_.Put(last, 1);
    bits_.Put(1, 2);
    std::vector<int> lit(288), dist(30, 5);
    for (int i = 0; i < 288; ++i) lit[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    Codes(tokens, lit, dist);
  }

  // A dynamic block with the given code lengths (lit.size() in 257..286,
  // dist.size() in 1..30). The lengths go out plainly, one symbol each, with
  // a code-length code giving every length 0..15 four bits.
  void Dynamic(const std::vector<Token>& tokens, const std::vector<int>& lit, const std::vector<int>& dist,
               bool last) {
    bits_.Put(last, 1);
    bits_.Put(2, 2);
    DynamicHeader(lit, dist);
    Codes(tokens, lit, dist);
  }

  void DynamicHeader(const std::vector<int>& lit, const std::vector<int>& dist) {
    bits_.Put((uint32_t)lit.size() - 257, 5);
    bits_.Put((uint32_t)dist.size() - 1, 5);
    bits_.Put(19 - 4, 4);
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (int i = 0; i < 19; ++i) bits_.Put(order[i] < 16 ? 4 : 0, 3);
    for (int l : lit) bits_.PutCode((uint32_t)l, 4);  // code of length l is l itself
    for (int l : dist) bits_.PutCode((uint32_t)l, 4);
  }

  // Token codes and the end-of-block code with the given code lengths.
  void Codes(const std::vector<Token>& tokens, const std::vector<int>& lit, const std::vector<int>& dist) {
    const std::vector<uint32_t> litCodes = CanonicalCodes(lit), distCodes = CanonicalCodes(dist);
    for (const Token& t : tokens) {
      if (t.length == 0) {
        bits_.PutCode(litCodes[t.distance], lit[t.distance]);
        continue;
      }
      SymbolCode l = LengthSymbol(t.length), d = DistanceSymbol(t.distance);
      bits_.PutCode(litCodes[l.symbol], lit[l.symbol]);
      bits_.Put(l.extra, l.extraBits);
      bits_.PutCode(distCodes[d.symbol], dist[d.symbol]);
      bits_.Put(d.extra, d.extraBits);
    }
    bits_.PutCode(litCodes[256], lit[256]);
  }

  BitWriter& Bits() { return bits_; }
  const std::vector<uint8_t>& Bytes() const { return bits_.Bytes(); }

 private:
  BitWriter bits_;
};

// Random complete code lengths for `count` symbols, up to `maxLength` bits:
// start from two one-bit codes and split random leaves (a split keeps the
// Kraft sum at exactly 1). Deep leaves are preferred so that long codes occur.
inline std::vector<int> RandomCompleteLengths(int count, int maxLength, std::mt19937& rng) {
  std::vector<int> leaves = {1, 1};
  while ((int)leaves.size() < count) {
    size_t pick = rng() % leaves.size();
    if (rng() % 3) {
      for (size_t i = 0; i < leaves.size(); ++i)
        if (leaves[i] > leaves[pick] && leaves[i] < maxLength) pick = i;
    }
    if (leaves[pick] >= maxLength) continue;
    leaves[pick]++;
    leaves.push_back(leaves[pick]);
  }
  std::shuffle(leaves.begin(), leaves.end(), rng);
  return leaves;
}

}  // namespace codec_test
