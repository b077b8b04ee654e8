// A small DEFLATE decoder (RFC 1951) for ZIP members, after the manner of
// puff: every input bit through one checked fetch, every distance checked
// against the bytes produced, every length against the room left.
#pragma once

#include "library/base/base.h"

struct Inflate {
  const tw_u8* in;
  tw_u32 inLength, inPos;
  tw_u32 bitBuf, bitCount;
  tw_u8* out;
  tw_u32 outLength, outPos;
  int error;
};

struct Huffman {
  short count[16];
  short symbol[288];
};

static tw_u32 InflateBits(Inflate* s, tw_u32 need) {
  tw_u32 value = s->bitBuf;
  while (s->bitCount < need) {
    if (s->inPos >= s->inLength) {
      s->error = 1;
      return 0;
    }
    value |= (tw_u32)s->in[s->inPos++] << s->bitCount;
    s->bitCount += 8;
  }
  s->bitBuf = value >> need;
  s->bitCount -= need;
  return value & ((1u << need) - 1);
}

// Answers 0 for a complete code, >0 for an incomplete one, <0 for an
// over-subscribed one.
static int HuffmanBuild(Huffman* h, const short* length, int n) {
  for (int len = 0; len < 16; len++) h->count[len] = 0;
  for (int symbol = 0; symbol < n; symbol++) h->count[length[symbol]]++;
  if (h->count[0] == n) return 0;
  int left = 1;
  for (int len = 1; len < 16; len++) {
    left <<= 1;
    left -= h->count[len];
    if (left < 0) return left;
  }
  short offs[16];
  offs[1] = 0;
  for (int len = 1; len < 15; len++) offs[len + 1] = (short)(offs[len] + h->count[len]);
  for (int symbol = 0; symbol < n; symbol++)
    if (length[symbol] != 0) h->symbol[offs[length[symbol]]++] = (short)symbol;
  return left;
}

static int HuffmanDecode(Inflate* s, const Huffman* h) {
  int code = 0, first = 0, index = 0;
  for (int len = 1; len < 16; len++) {
    code |= (int)InflateBits(s, 1);
    if (s->error) return -1;
    int count = h->count[len];
    if (code - count < first) return h->symbol[index + (code - first)];
    index += count;
    first += count;
    first <<= 1;
    code <<= 1;
  }
  s->error = 1;
  return -1;
}

static int InflateCodes(Inflate* s, const Huffman* lencode, const Huffman* distcode) {
  static const short lbase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  static const short lext[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  static const short dbase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                  193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
  static const short dext[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
  for (;;) {
    int symbol = HuffmanDecode(s, lencode);
    if (symbol < 0) return -1;
    if (symbol < 256) {
      if (s->outPos >= s->outLength) return -1;
      s->out[s->outPos++] = (tw_u8)symbol;
    } else if (symbol == 256) {
      return 0;
    } else {
      symbol -= 257;
      if (symbol >= 29) return -1;
      tw_u32 length = (tw_u32)lbase[symbol] + InflateBits(s, (tw_u32)lext[symbol]);
      int d = HuffmanDecode(s, distcode);
      if (d < 0 || d >= 30) return -1;
      tw_u32 distance = (tw_u32)dbase[d] + InflateBits(s, (tw_u32)dext[d]);
      if (s->error) return -1;
      if (distance > s->outPos) return -1;
      if (length > s->outLength - s->outPos) return -1;
      for (tw_u32 i = 0; i < length; i++, s->outPos++) s->out[s->outPos] = s->out[s->outPos - distance];
    }
  }
}

static int InflateStored(Inflate* s) {
  s->bitBuf = 0;
  s->bitCount = 0;
  if (s->inLength - s->inPos < 4) return -1;
  tw_u32 length = Get16(s->in + s->inPos);
  tw_u32 check = Get16(s->in + s->inPos + 2);
  s->inPos += 4;
  if (length != (~check & 0xFFFF)) return -1;
  if (length > s->inLength - s->inPos || length > s->outLength - s->outPos) return -1;
  for (tw_u32 i = 0; i < length; i++) s->out[s->outPos++] = s->in[s->inPos++];
  return 0;
}

static int InflateFixed(Inflate* s) {
  Huffman lencode, distcode;
  short lengths[288];
  int symbol = 0;
  for (; symbol < 144; symbol++) lengths[symbol] = 8;
  for (; symbol < 256; symbol++) lengths[symbol] = 9;
  for (; symbol < 280; symbol++) lengths[symbol] = 7;
  for (; symbol < 288; symbol++) lengths[symbol] = 8;
  HuffmanBuild(&lencode, lengths, 288);
  for (symbol = 0; symbol < 30; symbol++) lengths[symbol] = 5;
  HuffmanBuild(&distcode, lengths, 30);
  return InflateCodes(s, &lencode, &distcode);
}

static int InflateDynamic(Inflate* s) {
  static const short order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  short lengths[320];
  Huffman lencode, distcode;
  int nlen = (int)InflateBits(s, 5) + 257;
  int ndist = (int)InflateBits(s, 5) + 1;
  int ncode = (int)InflateBits(s, 4) + 4;
  if (s->error || nlen > 286 || ndist > 30) return -1;
  int index = 0;
  for (; index < ncode; index++) lengths[order[index]] = (short)InflateBits(s, 3);
  for (; index < 19; index++) lengths[order[index]] = 0;
  if (s->error || HuffmanBuild(&lencode, lengths, 19) != 0) return -1;
  index = 0;
  while (index < nlen + ndist) {
    int symbol = HuffmanDecode(s, &lencode);
    if (symbol < 0) return -1;
    if (symbol < 16) {
      lengths[index++] = (short)symbol;
      continue;
    }
    short len = 0;
    tw_u32 repeat;
    if (symbol == 16) {
      if (index == 0) return -1;
      len = lengths[index - 1];
      repeat = 3 + InflateBits(s, 2);
    } else if (symbol == 17) {
      repeat = 3 + InflateBits(s, 3);
    } else {
      repeat = 11 + InflateBits(s, 7);
    }
    if (s->error || index + (int)repeat > nlen + ndist) return -1;
    while (repeat--) lengths[index++] = len;
  }
  if (lengths[256] == 0) return -1;
  int err = HuffmanBuild(&lencode, lengths, nlen);
  if (err < 0 || (err > 0 && nlen - lencode.count[0] != 1)) return -1;
  err = HuffmanBuild(&distcode, lengths + nlen, ndist);
  if (err < 0 || (err > 0 && ndist - distcode.count[0] != 1)) return -1;
  return InflateCodes(s, &lencode, &distcode);
}

// Answers the number of bytes produced, or 0xFFFFFFFF for bad data.
static tw_u32 InflateRaw(const tw_u8* in, tw_u32 inLength, tw_u8* out, tw_u32 outLength) {
  Inflate s;
  Zero(&s, sizeof(s));
  s.in = in;
  s.inLength = inLength;
  s.out = out;
  s.outLength = outLength;
  tw_u32 last;
  do {
    last = InflateBits(&s, 1);
    tw_u32 type = InflateBits(&s, 2);
    if (s.error) return 0xFFFFFFFFu;
    int r;
    if (type == 0)
      r = InflateStored(&s);
    else if (type == 1)
      r = InflateFixed(&s);
    else if (type == 2)
      r = InflateDynamic(&s);
    else
      r = -1;
    if (r != 0 || s.error) return 0xFFFFFFFFu;
  } while (!last);
  return s.outPos;
}
