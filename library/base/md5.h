// MD5 (RFC 1321) for library routines: the heuristic digest list holds the
// size and MD5 of a whole file, as the scanner digests it.
#pragma once

#include "library/base/base.h"

static inline tw_u32 Md5Rotl(tw_u32 x, tw_u32 n) { return (x << n) | (x >> (32 - n)); }

static void Md5Block(tw_u32* st, const tw_u8* p) {
  static const tw_u32 k[64] = {
      0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
      0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
      0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
      0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
      0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
      0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
      0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
      0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
  static const tw_u8 r[16] = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};
  tw_u32 m[16];
  for (int i = 0; i < 16; i++) m[i] = Get32(p + 4 * i);
  tw_u32 a = st[0], b = st[1], c = st[2], d = st[3];
  for (int i = 0; i < 64; i++) {
    tw_u32 f, g;
    int round = i >> 4;
    if (round == 0) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (round == 1) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) & 15;
    } else if (round == 2) {
      f = b ^ c ^ d;
      g = (3 * i + 5) & 15;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) & 15;
    }
    tw_u32 t = d;
    d = c;
    c = b;
    b = b + Md5Rotl(a + f + k[i] + m[g], r[round * 4 + (i & 3)]);
    a = t;
  }
  st[0] += a;
  st[1] += b;
  st[2] += c;
  st[3] += d;
}

static void Md5Of(const tw_u8* data, tw_u32 n, tw_u8 out[16]) {
  tw_u32 st[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  tw_u32 i = 0;
  for (; n - i >= 64; i += 64) Md5Block(st, data + i);
  tw_u8 last[128];
  Zero(last, sizeof(last));
  tw_u32 rest = n - i;
  for (tw_u32 j = 0; j < rest; j++) last[j] = data[i + j];
  last[rest] = 0x80;
  tw_u32 blocks = rest + 9 <= 64 ? 1 : 2;
  tw_u32 bitsLow = n << 3, bitsHigh = n >> 29;
  tw_u8* tail = last + blocks * 64 - 8;
  for (int j = 0; j < 4; j++) {
    tail[j] = (tw_u8)(bitsLow >> (8 * j));
    tail[4 + j] = (tw_u8)(bitsHigh >> (8 * j));
  }
  Md5Block(st, last);
  if (blocks == 2) Md5Block(st, last + 64);
  for (int j = 0; j < 16; j++) out[j] = (tw_u8)(st[j >> 2] >> (8 * (j & 3)));
}
