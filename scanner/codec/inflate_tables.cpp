// Decoding tables of canonical Huffman codes: a root table indexed by the next
// rootBits input bits, with sub-tables for the longer codes. Input bits arrive
// least significant first, so table indexes are the codes bit-reversed.
#include "scanner/codec/inflate_internal.h"

namespace inflate {
namespace {

constexpr uint32_t kMaxCodeBits = 15;
constexpr uint32_t kMaxSymbols = 288;

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

Entry MakeEntry(CodeKind kind, uint32_t symbol, uint32_t bits) {
  Entry e;
  e.bits = (uint8_t)bits;
  e.val = 0;
  e.op = kOpBad;
  switch (kind) {
    case CodeKind::kCodeLengths:
      e.op = kOpLiteral;
      e.val = (uint16_t)symbol;
      break;
    case CodeKind::kLengths:
      if (symbol < 256) {
        e.op = kOpLiteral;
        e.val = (uint16_t)symbol;
      } else if (symbol == 256) {
        e.op = kOpEnd;
      } else if (symbol < 286) {
        e.op = (uint8_t)(kOpBase | kLengthExtra[symbol - 257]);
        e.val = kLengthBase[symbol - 257];
      }
      // 286 and 287 take part in the fixed code but never occur.
      break;
    case CodeKind::kDistances:
      if (symbol < 30) {
        e.op = (uint8_t)(kOpBase | kDistExtra[symbol]);
        e.val = kDistBase[symbol];
      }
      // 30 and 31 take part in the fixed code but never occur.
      break;
  }
  return e;
}

uint32_t Reverse(uint32_t code, uint32_t length) {
  uint32_t r = 0;
  while (length--) {
    r = (r << 1) | (code & 1);
    code >>= 1;
  }
  return r;
}

}  // namespace

bool BuildTable(CodeKind kind, const uint8_t* lengths, uint32_t count, Entry* table, uint32_t rootBits,
                uint32_t capacity) {
  const uint32_t rootSize = 1u << rootBits;
  if (count > kMaxSymbols || rootSize > capacity) return false;

  uint32_t counts[kMaxCodeBits + 1] = {};
  for (uint32_t i = 0; i < count; ++i) {
    if (lengths[i] > kMaxCodeBits) return false;
    counts[lengths[i]]++;
  }
  uint32_t maxLength = kMaxCodeBits;
  while (maxLength > 0 && counts[maxLength] == 0) --maxLength;

  Entry bad;
  bad.op = kOpBad;
  bad.bits = 1;
  bad.val = 0;
  if (maxLength == 0) {
    // No symbol at all (a block without distances): any code read is bad.
    for (uint32_t i = 0; i < rootSize; ++i) table[i] = bad;
    return true;
  }

  // Kraft sum: `left` is the code space still free at each length.
  int32_t left = 1;
  for (uint32_t len = 1; len <= kMaxCodeBits; ++len) {
    left <<= 1;
    left -= (int32_t)counts[len];
    if (left < 0) return false;  // over-subscribed
  }
  if (left > 0) {
    // Incomplete: only a lone one-bit code is allowed, and not for code lengths.
    if (kind == CodeKind::kCodeLengths || maxLength != 1) return false;
    for (uint32_t i = 0; i < rootSize; ++i) table[i] = bad;
  }

  // Symbols sorted by (length, symbol): the canonical order.
  uint32_t offsets[kMaxCodeBits + 2];
  offsets[1] = 0;
  for (uint32_t len = 1; len <= kMaxCodeBits; ++len) offsets[len + 1] = offsets[len] + counts[len];
  const uint32_t codeCount = offsets[kMaxCodeBits + 1];
  uint16_t sorted[kMaxSymbols];
  for (uint32_t sym = 0; sym < count; ++sym)
    if (lengths[sym]) sorted[offsets[lengths[sym]]++] = (uint16_t)sym;

  // Canonical codes, bit-reversed into table indexes.
  uint32_t nextCode[kMaxCodeBits + 1];
  uint32_t code = 0;
  nextCode[0] = 0;
  counts[0] = 0;  // unused symbols take no code space
  for (uint32_t len = 1; len <= kMaxCodeBits; ++len) {
    code = (code + counts[len - 1]) << 1;
    nextCode[len] = code;
  }
  uint16_t reversed[kMaxSymbols];
  for (uint32_t i = 0; i < codeCount; ++i) {
    uint32_t len = lengths[sorted[i]];
    reversed[i] = (uint16_t)Reverse(nextCode[len]++, len);
  }

  // Codes in canonical order are lexicographically increasing, so the codes
  // that share a root prefix are consecutive: each prefix gets one sub-table,
  // as wide as the longest of them needs.
  const uint32_t rootMask = rootSize - 1;
  uint32_t used = rootSize;
  uint32_t currentPrefix = 0xFFFFFFFFu;
  uint32_t subBase = 0;
  uint32_t subBits = 0;
  for (uint32_t i = 0; i < codeCount; ++i) {
    const uint32_t sym = sorted[i];
    const uint32_t len = lengths[sym];
    const uint32_t rev = reversed[i];
    if (len <= rootBits) {
      Entry e = MakeEntry(kind, sym, len);
      for (uint32_t idx = rev; idx < rootSize; idx += 1u << len) table[idx] = e;
      continue;
    }
    const uint32_t prefix = rev & rootMask;
    if (prefix != currentPrefix) {
      uint32_t longest = len;
      for (uint32_t j = i + 1; j < codeCount && (reversed[j] & rootMask) == prefix; ++j)
        if (lengths[sorted[j]] > longest) longest = lengths[sorted[j]];
      subBits = longest - rootBits;
      if (used + (1u << subBits) > capacity) return false;
      Entry link;
      link.op = (uint8_t)(kOpLink | subBits);
      link.bits = (uint8_t)rootBits;
      link.val = (uint16_t)used;
      table[prefix] = link;
      subBase = used;
      used += 1u << subBits;
      currentPrefix = prefix;
    }
    Entry e = MakeEntry(kind, sym, len - rootBits);
    for (uint32_t idx = rev >> rootBits; idx < (1u << subBits); idx += 1u << (len - rootBits))
      table[subBase + idx] = e;
  }
  return true;
}

}  // namespace inflate
