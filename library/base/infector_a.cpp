// Test infector A: the original program is everything before the block.
#define TW_ROUTINES(R) R(InfectorA)
#include "library/base/infector.h"

TW_CHECK(InfectorA) { return BlockFits(q, kInfectorABlock) ? TW_PRESENT : TW_UNDECIDED; }

TW_REPAIR(InfectorA) {
  tw_u32 size = q->size;
  if (size < kInfectorABlock) return TW_UNDECIDED;
  tw_u8 block[kInfectorABlock];
  if (ReadScanned(q, size - kInfectorABlock, block, kInfectorABlock) != kInfectorABlock) return TW_UNDECIDED;
  if (memcmp(block, "TWINFECT", 8) != 0 || block[8] != 'A') return TW_UNDECIDED;
  tw_u32 original = Get32(block + 12);
  if (original != size - kInfectorABlock) return TW_UNDECIDED;
  if (TwScanSeek(q, original) != original) return TW_UNDECIDED;
  TwScanTruncate(q, 0);
  return TW_REPAIRED;
}
