// TWPK, the Tarnwell test packer: one layer per packed file.
//   0 "TWPK"  4 u8 version 1  5 u8 key  6 u16 0  8 u32 original size
//   12 u32 CRC-32 of the original  16 original bytes XOR (key + 31 * i)
#define TW_ROUTINES(R) R(Twpk)
#include "library/base/base.h"

const tw_u32 kTwpkHeader = 16;
const tw_u32 kTwpkMax = 64 * 1024 * 1024;

TW_CHECK(Twpk) {
  const tw_u8* h = q->unitWindow;
  if (q->unitType != kUnitHead || q->size < kTwpkHeader || h[4] != 1) return TW_UNDECIDED;
  tw_u32 original = Get32(h + 8);
  if (original != q->size - kTwpkHeader || original > kTwpkMax) return TW_UNDECIDED;
  LibLevel* level = CurrentLevel(q);
  level->unpacker = kUnpackerTwpk;
  level->archiveSize = q->size;
  level->step = 0;
  return TW_PACKER;
}

TW_UNPACK(Twpk) {
  tw_u32 size = LayerFileSize(q);
  LibLevel* level = FindUnpackLevel(q, kUnpackerTwpk, size);
  if (!level) return 0;
  if (level->step != 0) {
    level->unpacker = kUnpackerNone;
    return 0;
  }
  level->step = 1;
  tw_u8 header[kTwpkHeader];
  if (ReadLayer(q, 0, header, kTwpkHeader) != kTwpkHeader) return 0;
  tw_u32 original = Get32(header + 8);
  if (original != size - kTwpkHeader || original > kTwpkMax) return 0;
  tw_u8* data = (tw_u8*)TwTrackedAlloc(q, original + 1);
  if (!data) return 0;
  tw_u32 answer = 0;
  if (ReadLayer(q, kTwpkHeader, data, original) == original) {
    tw_u8 key = header[5];
    for (tw_u32 i = 0; i < original; i++) data[i] ^= (tw_u8)(key + 31 * i);
    if (WriteLayer(q, data, original)) {
      LayerWritten(q, kLevelPacked);
      answer = TW_UNPACKED;
    }
  }
  TwTrackedFree(q, data);
  return answer;
}
