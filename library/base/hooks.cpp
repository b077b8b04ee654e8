// The special entries of the default base library: the start and stop
// hooks, NextUnit (cuts a file or layer into its units) and GenericRepair
// (repairs described by the routine parameters of a record).
#include "library/base/autorun.h"
#include "library/base/base.h"

// Before the first file: every removable drive's autorun.inf is looked at, so
// the worm's program is known however the drive's files are ordered.
TW_ENTRY(StartHook1) {
  char drives[4 * 26 + 4];
  tw_u32 bytes = TwListDrives(q, sizeof(drives), drives);
  if (bytes == 0 || bytes > sizeof(drives) - 1) return 0;
  for (tw_u32 at = 0; at + 4 <= bytes; at += 4) {
    char path[16] = {drives[at], ':', '\\', 'a', 'u', 't', 'o', 'r', 'u', 'n', '.', 'i', 'n', 'f', 0};
    char root[4] = {drives[at], ':', '\\', 0};
    if (TwDriveType(q, root) != kDriveRemovable) continue;
    TwHandle h = TwFileOpen(q, path, TW_ACCESS_READ, TW_OPEN_EXISTING);
    if (!h || h == (TwHandle)-1) continue;
    tw_u32 size = TwFileSize(q, h);
    if (size != 0xFFFFFFFFu && size <= kMaxInfBytes) {
      char* text = (char*)TwTrackedAlloc(q, size + 1);
      if (text) {
        tw_u32 got = TwFileRead(q, h, text, size);
        TwFileClose(q, h);
        h = 0;
        if (got <= size) AnalyzeAutorun(q, path, text, got);
        TwTrackedFree(q, text);
      }
    }
    if (h) TwFileClose(q, h);
  }
  return 0;
}

TW_ENTRY(StartHook2) { return 0; }
TW_ENTRY(StopHook1) { return 0; }
TW_ENTRY(StopHook2) { return 0; }

static void FillHead(CQEL* q) {
  tw_u32 n = q->size < kHeadBytes ? q->size : kHeadBytes;
  tw_u32 got = ReadScanned(q, 0, q->unitWindow, n);
  Zero(q->unitWindow + got, kHeadBytes - got);
}

static void FillTail(CQEL* q) {
  tw_u32 n = q->size < kTailBytes ? q->size : kTailBytes;
  tw_u32 got = ReadScanned(q, q->size - n, q->unitWindow + kTailBytes - n, n);
  Zero(q->unitWindow, kTailBytes - n);
  if (got < n) Zero(q->unitWindow + kTailBytes - n + got, n - got);
}

static void FillName(CQEL* q) {
  tw_u32 start = 0, i = 0;
  for (; i < sizeof(q->path) && q->path[i]; i++)
    if (q->path[i] == '\\') start = i + 1;
  Zero(q->unitWindow, kNameBytes);
  for (tw_u32 k = 0; start + k < i && k < kNameBytes - 1; k++) q->unitWindow[k] = (tw_u8)Lower(q->path[start + k]);
}

TW_ENTRY(NextUnit) {
  LibState* s = State(q);
  if (q->passFlag5 == 0) {
    // A pass starts: the file's own, or a layer's one level deeper.
    q->passFlag5 = 1;
    tw_u32 kind = kLevelFile;
    if (q->fileFlag6 == 0) {
      q->fileFlag6 = 1;
      s->depth = 0;
      s->failedWork = 0;
    } else if (s->pendingPush) {
      if (s->depth + 1 < kMaxLevels) s->depth++;
      kind = s->pendingKind;
    } else {
      kind = CurrentLevel(q)->kind;
    }
    LibLevel* level = CurrentLevel(q);
    Zero(level, sizeof(*level));
    level->kind = kind;
    level->size = q->size;
  }
  // A layer whose pass ended before its first unit leaves no level behind.
  s->pendingPush = 0;
  LibLevel* level = CurrentLevel(q);
  for (;;) {
    tw_u32 unit = level->unitIndex++;
    if (unit == 0) {
      q->unitType = kUnitHead;
      FillHead(q);
      return 1;
    }
    if (unit == 1) {
      q->unitType = kUnitTail;
      FillTail(q);
      return 1;
    }
    if (unit == 2 && s->depth == 0) {
      q->unitType = kUnitName;
      FillName(q);
      return 1;
    }
    if (unit == 3 && level->kind == kLevelMember) {
      q->unitType = kUnitEnd;
      return 1;
    }
    if (unit >= 3) break;
  }
  level->unitIndex = 4;
  if (s->depth > 0) s->depth--;  // back to the pass that unpacked this layer
  return 0;
}

// Routine parameters (the first 11 bytes of a record's tail):
//   0     action: 1 delete the file; 2 restore the saved head and cut the
//         appended block
//   1..2  size of the appended block (action 2)
//   3..4  offset of the saved head bytes inside the block
//   5     number of saved head bytes (at most 64)
//   6..7  offset of the block's 8-byte marker inside the block
//   8..10 unused
TW_ENTRY(GenericRepair) {
  const tw_u8* p = (const tw_u8*)(unsigned long)q->matchedTail;
  if (!p) return TW_UNDECIDED;
  if (p[0] == 1) return 2;  // the scanner deletes the file (it is backed up)
  if (p[0] != 2) return TW_UNDECIDED;
  tw_u32 block = Get16(p + 1), saved = Get16(p + 3), count = p[5], marker = Get16(p + 6);
  tw_u32 size = q->size;
  if (block == 0 || block > size || count > 64 || saved + count > block || marker + 8 > block) return TW_UNDECIDED;
  if (count > size - block) return TW_UNDECIDED;
  tw_u8 mark[8];
  if (ReadScanned(q, size - block + marker, mark, 8) != 8 || memcmp(mark, "TWINFECT", 8) != 0) return TW_UNDECIDED;
  tw_u8 head[64];
  if (ReadScanned(q, size - block + saved, head, count) != count) return TW_UNDECIDED;
  if (TwScanSeek(q, 0) != 0 || TwScanWrite(q, head, count) != count) return TW_UNDECIDED;
  if (TwScanSeek(q, size - block) != size - block) return TW_UNDECIDED;
  if (!TwScanTruncate(q, 0)) return TW_UNDECIDED;  // the block is still there
  return TW_REPAIRED;
}
