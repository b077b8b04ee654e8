// The Tarnwell test infectors: harmless markers appended to executables.
//
// Variant A appends a 64-byte block and changes nothing else:
//   0 "TWINFECT"  8 "A1"  10 u16 version  12 u32 original size
//   16 u32 CRC-32 of the original  20 44 bytes of text
// Variant B overwrites the first 32 bytes of the program with its own and
// keeps them in a 96-byte block:
//   0 "TWINFECT"  8 "B2"  10 u16 version  12 u32 original size
//   16 u32 reserved  20 32 saved bytes  52 44 bytes of text
#pragma once

#include "library/base/base.h"

const tw_u32 kInfectorABlock = 64;
const tw_u32 kInfectorBBlock = 96;

// The block as the TAIL unit holds it (the file ends at window offset 4096).
static inline const tw_u8* TailBlock(CQEL* q, tw_u32 block) { return q->unitWindow + kTailBytes - block; }

static inline int BlockFits(CQEL* q, tw_u32 block) {
  if (q->unitType != kUnitTail || q->size < block) return 0;
  const tw_u8* b = TailBlock(q, block);
  return Get32(b + 12) == q->size - block;
}
