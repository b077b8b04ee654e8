// Test infector A: the original program is everything before the block,
// checked against the CRC-32 the block keeps before the block is cut.
#define TW_ROUTINES(R) R(InfectorA)
#include "library/base/infector.h"

// Answers 1 when the first `length` bytes of the scanned file have the
// CRC-32 `want` (the standard reflected CRC-32, as the infector stored it).
static int PrefixCrcIs(CQEL* q, tw_u32 length, tw_u32 want) {
  tw_u32 table[256];
  for (tw_u32 i = 0; i < 256; i++) {
    tw_u32 c = i;
    for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    table[i] = c;
  }
  const tw_u32 chunk = 65536;
  tw_u8* buffer = (tw_u8*)TwTrackedAlloc(q, chunk);
  if (!buffer) return 0;
  tw_u32 crc = 0xFFFFFFFFu;
  int ok = TwScanSeek(q, 0) == 0;
  for (tw_u32 done = 0; ok && done < length;) {
    tw_u32 n = length - done < chunk ? length - done : chunk;
    if (TwScanRead(q, buffer, n) != n) {
      ok = 0;
      break;
    }
    for (tw_u32 i = 0; i < n; i++) crc = table[(crc ^ buffer[i]) & 0xFF] ^ (crc >> 8);
    done += n;
  }
  TwTrackedFree(q, buffer);
  return ok && ~crc == want;
}

TW_CHECK(InfectorA) { return BlockFits(q, kInfectorABlock) ? TW_PRESENT : TW_UNDECIDED; }

TW_REPAIR(InfectorA) {
  tw_u32 size = q->size;
  if (size < kInfectorABlock) return TW_UNDECIDED;
  tw_u8 block[kInfectorABlock];
  if (ReadScanned(q, size - kInfectorABlock, block, kInfectorABlock) != kInfectorABlock) return TW_UNDECIDED;
  if (memcmp(block, "TWINFECT", 8) != 0 || block[8] != 'A') return TW_UNDECIDED;
  tw_u32 original = Get32(block + 12);
  if (original != size - kInfectorABlock) return TW_UNDECIDED;
  // Cutting the block gives back the program only if what stays is what was
  // infected; a changed program (or a block that lies) is left alone.
  if (!PrefixCrcIs(q, original, Get32(block + 16))) return TW_UNDECIDED;
  if (TwScanSeek(q, original) != original) return TW_UNDECIDED;
  if (!TwScanTruncate(q, 0)) return TW_UNDECIDED;
  return TW_REPAIRED;
}
