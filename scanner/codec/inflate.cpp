// The DEFLATE block decoder (RFC 1951): the checked bit reader over the input
// buffer, stored, fixed and dynamic blocks, and the symbol-at-a-time decoder
// used where the fast loop has not enough input or window room left.
#include <string.h>

#include "common/crc32.h"
#include "scanner/codec/inflate_internal.h"

namespace inflate {
namespace {

// The order in which a dynamic block sends the code-length code lengths.
const uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Pulls one more byte into the bit buffer; false when the source is exhausted.
bool PullByte(State* s) {
  if (s->inPos == s->inEnd) {
    TopUpInput(s);
    if (s->inPos == s->inEnd) {
      s->inputExhausted = true;
      return false;
    }
  }
  s->hold |= (BitBuffer)s->in[s->inPos++] << s->bits;
  s->bits += 8;
  return true;
}

// Takes `n` bits (n <= 16) least significant first.
bool GetBits(State* s, uint32_t n, uint32_t* out) {
  while (s->bits < n)
    if (!PullByte(s)) return false;
  *out = (uint32_t)(s->hold & (((BitBuffer)1 << n) - 1));
  s->hold >>= n;
  s->bits -= n;
  return true;
}

// Decodes one symbol with a two-level table; false at the end of the source.
bool DecodeSymbol(State* s, const Entry* table, uint32_t rootBits, Entry* out) {
  Entry e;
  for (;;) {
    e = table[s->hold & ((1u << rootBits) - 1)];
    if (e.bits <= s->bits) break;
    if (!PullByte(s)) return false;
  }
  if ((e.op & 0xF0) == kOpLink) {
    const uint32_t subBits = e.op & kOpLowMask;
    Entry sub;
    for (;;) {
      sub = table[e.val + ((s->hold >> rootBits) & ((1u << subBits) - 1))];
      if (rootBits + sub.bits <= s->bits) break;
      if (!PullByte(s)) return false;
    }
    s->hold >>= rootBits;
    s->bits -= rootBits;
    e = sub;
  }
  s->hold >>= e.bits;
  s->bits -= e.bits;
  *out = e;
  return true;
}

// Appends one byte to the window, flushing a full window.
inline bool PutByte(State* s, uint8_t c) {
  s->window[s->wpos++] = c;
  return s->wpos < kWindowSize || FlushWindow(s);
}

bool StoredBlock(State* s) {
  // Skip to a byte boundary: the length fields are byte aligned.
  s->hold >>= s->bits & 7;
  s->bits -= s->bits & 7;
  uint32_t length, complement;
  if (!GetBits(s, 16, &length) || !GetBits(s, 16, &complement)) return false;
  if (length != (~complement & 0xFFFF)) return false;
  // The slow reader never holds a whole unread byte here, so the data comes
  // straight from the input buffer.
  while (length) {
    if (s->inPos == s->inEnd) {
      TopUpInput(s);
      if (s->inPos == s->inEnd) {
        s->inputExhausted = true;
        return false;
      }
    }
    uint32_t n = s->inEnd - s->inPos;
    if (n > length) n = length;
    if (n > kWindowSize - s->wpos) n = kWindowSize - s->wpos;
    memcpy(s->window + s->wpos, s->in + s->inPos, n);
    s->inPos += n;
    s->wpos += n;
    length -= n;
    if (s->wpos == kWindowSize && !FlushWindow(s)) return false;
  }
  return true;
}

// Copies a match one byte at a time through the window (the slow path).
bool CopyMatch(State* s, uint32_t length, uint32_t distance) {
  if (!s->windowFull && distance > s->wpos) return false;  // before the start of the output
  while (length--) {
    if (!PutByte(s, s->window[(s->wpos - distance) & (kWindowSize - 1)])) return false;
  }
  return true;
}

// Decodes the symbols of one Huffman-coded block until its end-of-block code.
bool CodedBlock(State* s, const Entry* lenTable, const Entry* distTable) {
  for (;;) {
    if (s->inEnd - s->inPos < kFastInputMargin) TopUpInput(s);
    if (s->inEnd - s->inPos >= kFastInputMargin && kWindowSize - s->wpos >= kMaxMatch) {
      FastResult r = InflateFast(s, lenTable, distTable);
      if (r == FastResult::kBad) return false;
      // The fast loop's last match may end at the window's very end. Flush
      // that full window now: the slow path writes only into a window with
      // room, and only a full flush makes the whole lap count as history.
      if (s->wpos == kWindowSize && !FlushWindow(s)) return false;
      if (r == FastResult::kEndOfBlock) return true;
      continue;
    }
    Entry e;
    if (!DecodeSymbol(s, lenTable, kLenRootBits, &e)) return false;
    if (e.op == kOpLiteral) {
      if (!PutByte(s, (uint8_t)e.val)) return false;
      continue;
    }
    if (e.op == kOpEnd) return true;
    if ((e.op & 0xF0) != kOpBase) return false;
    uint32_t extra, length, distance;
    if (!GetBits(s, e.op & kOpLowMask, &extra)) return false;
    length = e.val + extra;
    if (!DecodeSymbol(s, distTable, kDistRootBits, &e)) return false;
    if ((e.op & 0xF0) != kOpBase) return false;
    if (!GetBits(s, e.op & kOpLowMask, &extra)) return false;
    distance = e.val + extra;
    if (!CopyMatch(s, length, distance)) return false;
  }
}

bool BuildFixedTables(State* s) {
  uint8_t lengths[288];
  uint32_t i = 0;
  for (; i < 144; ++i) lengths[i] = 8;
  for (; i < 256; ++i) lengths[i] = 9;
  for (; i < 280; ++i) lengths[i] = 7;
  for (; i < 288; ++i) lengths[i] = 8;
  if (!BuildTable(CodeKind::kLengths, lengths, 288, s->fixedLen, kLenRootBits, 512)) return false;
  for (i = 0; i < 32; ++i) lengths[i] = 5;
  if (!BuildTable(CodeKind::kDistances, lengths, 32, s->fixedDist, kDistRootBits, 64)) return false;
  s->fixedBuilt = true;
  return true;
}

bool DynamicBlock(State* s) {
  uint32_t hlit, hdist, hclen;
  if (!GetBits(s, 5, &hlit) || !GetBits(s, 5, &hdist) || !GetBits(s, 4, &hclen)) return false;
  hlit += 257;
  hdist += 1;
  hclen += 4;
  if (hlit > 286 || hdist > 30) return false;

  uint8_t lengths[286 + 30];
  memset(lengths, 0, 19);
  for (uint32_t i = 0; i < hclen; ++i) {
    uint32_t v;
    if (!GetBits(s, 3, &v)) return false;
    lengths[kCodeLengthOrder[i]] = (uint8_t)v;
  }
  if (!BuildTable(CodeKind::kCodeLengths, lengths, 19, s->codeLenTable, kCodeLenRootBits, kCodeLenTableSize))
    return false;

  const uint32_t total = hlit + hdist;
  uint32_t n = 0;
  while (n < total) {
    Entry e;
    if (!DecodeSymbol(s, s->codeLenTable, kCodeLenRootBits, &e)) return false;
    uint32_t sym = e.val, repeat, value, v;
    if (e.op != kOpLiteral) return false;
    if (sym < 16) {
      lengths[n++] = (uint8_t)sym;
      continue;
    }
    if (sym == 16) {
      if (n == 0) return false;  // nothing to repeat
      value = lengths[n - 1];
      if (!GetBits(s, 2, &v)) return false;
      repeat = 3 + v;
    } else if (sym == 17) {
      value = 0;
      if (!GetBits(s, 3, &v)) return false;
      repeat = 3 + v;
    } else {
      value = 0;
      if (!GetBits(s, 7, &v)) return false;
      repeat = 11 + v;
    }
    if (repeat > total - n) return false;
    while (repeat--) lengths[n++] = (uint8_t)value;
  }
  if (lengths[256] == 0) return false;  // a block must be able to end
  if (!BuildTable(CodeKind::kLengths, lengths, hlit, s->lenTable, kLenRootBits, kLenTableSize)) return false;
  if (!BuildTable(CodeKind::kDistances, lengths + hlit, hdist, s->distTable, kDistRootBits, kDistTableSize))
    return false;
  return CodedBlock(s, s->lenTable, s->distTable);
}

}  // namespace

void TopUpInput(State* s) {
  if (s->srcPos >= s->srcLength) return;
  const uint32_t keep = s->inEnd - s->inPos;
  if (keep) memmove(s->in, s->in + s->inPos, keep);
  uint32_t n = kInputSize - keep;
  if (n > s->srcLength - s->srcPos) n = s->srcLength - s->srcPos;
  memcpy(s->in + keep, s->src + s->srcPos, n);
  s->srcPos += n;
  s->inPos = 0;
  s->inEnd = keep + n;
}

bool FlushWindow(State* s) {
  const uint32_t n = s->wpos;
  if (n == 0) return true;
  s->crc = Crc32Update(s->crc, s->window, n);
  uint32_t room = s->capacity - s->stored;
  uint32_t copy = n < room ? n : room;
  if (copy) {
    memcpy(s->dst + s->stored, s->window, copy);
    s->stored += copy;
  }
  s->produced += n;
  if (n == kWindowSize) s->windowFull = true;
  s->wpos = 0;
  if (s->produced > s->capacity) {
    // The container promised no more than the capacity; decoding on would
    // only burn time on a stream that is bad anyway.
    s->outputOverflow = true;
    return false;
  }
  return true;
}

bool ReadByte(State* s, uint8_t* out) {
  if (s->inPos == s->inEnd) {
    TopUpInput(s);
    if (s->inPos == s->inEnd) {
      s->inputExhausted = true;
      return false;
    }
  }
  *out = s->in[s->inPos++];
  return true;
}

bool InflateStream(State* s) {
  s->hold = 0;
  s->bits = 0;
  uint32_t last;
  do {
    uint32_t type;
    if (!GetBits(s, 1, &last) || !GetBits(s, 2, &type)) return false;
    bool ok;
    switch (type) {
      case 0:
        ok = StoredBlock(s);
        break;
      case 1:
        ok = (s->fixedBuilt || BuildFixedTables(s)) && CodedBlock(s, s->fixedLen, s->fixedDist);
        break;
      case 2:
        ok = DynamicBlock(s);
        break;
      default:
        ok = false;
    }
    if (!ok) return false;
  } while (!last);
  // Whole bytes still in the bit buffer belong to the trailer.
  s->inPos -= s->bits >> 3;
  s->hold = 0;
  s->bits = 0;
  return FlushWindow(s);
}

}  // namespace inflate
