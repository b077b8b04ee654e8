// Shared code of the default base library's routines: unit types, the
// library's state in the CQEL object, little helpers and the state of nested
// passes. Every routine object includes this header; its helpers are static
// so each object carries its own copy and binds to nothing but the scanner's
// host services and the SDK's runtime helpers.
//
// Units (see library/README.md):
//   1 HEAD  the first 8192 bytes of the file or layer (zero-filled past its end)
//   2 TAIL  the last 4096 bytes, ending at window offset 4096 (zero-filled before)
//   3 NAME  the file's own name in lower case, NUL-padded to 256 bytes (files only,
//           not layers)
//   9 END   the end of a ZIP member layer (no bytes): lets the archive go on
//
// Nested passes: the scanner clears CQEL byte 6 before the pass of each file
// and byte 5 at the start of every pass, nested ones included. An unpack
// routine that writes a layer sets `pendingPush`; the layer's pass then starts
// one level deeper, and a level whose units are exhausted is left again. An
// unpack routine finds its own level again by its kind and the size of the
// packed file, since the nested passes may end without leaving theirs.
#pragma once

#include "library/sdk/tarnwell.h"

enum : tw_u32 {
  kUnitHead = 1,
  kUnitTail = 2,
  kUnitName = 3,
  kUnitEnd = 9,
};
const tw_u32 kHeadBytes = 8192;
const tw_u32 kTailBytes = 4096;
const tw_u32 kNameBytes = 256;

enum : tw_u32 { kLevelFile = 0, kLevelMember = 1, kLevelPacked = 2 };
enum : tw_u32 { kUnpackerNone = 0, kUnpackerZip = 1, kUnpackerTwpk = 2 };

struct LibLevel {
  tw_u32 unitIndex;
  tw_u32 size;
  tw_u32 kind;
  tw_u32 unpacker;     // the packer recognised at this level, if unpacking
  tw_u32 archiveSize;  // size of the packed file it reads
  tw_u32 step;         // TWPK: layers written; ZIP: members taken
  tw_u32 cdOffset, cdSize, cdCount, cdPos;  // ZIP central directory
};

const tw_u32 kMaxLevels = 40;

struct LibState {
  tw_u32 depth;
  tw_u32 pendingPush;
  tw_u32 pendingKind;
  tw_u32 failedWork;  // bytes read and reserved for members that did not decode, this file
  LibLevel levels[kMaxLevels];
};
static_assert(sizeof(LibState) <= 4112, "library state fits the CQEL area at offset 20");

static inline LibState* State(CQEL* q) { return (LibState*)q->reserved20; }

static inline tw_u32 Get16(const tw_u8* p) { return (tw_u32)p[0] | (tw_u32)p[1] << 8; }
static inline tw_u32 Get32(const tw_u8* p) {
  return (tw_u32)p[0] | (tw_u32)p[1] << 8 | (tw_u32)p[2] << 16 | (tw_u32)p[3] << 24;
}

static inline void Zero(void* p, tw_u32 n) { memset(p, 0, n); }

static inline char Lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c + 32) : c; }

// Reads count bytes of the scanned file at position into dst; answers the
// number of bytes read.
static inline tw_u32 ReadScanned(CQEL* q, tw_u32 position, void* dst, tw_u32 count) {
  if (TwScanSeek(q, position) == 0xFFFFFFFFu) return 0;
  tw_u32 got = TwScanRead(q, dst, count);
  return got == 0xFFFFFFFFu ? 0 : got;
}

static inline tw_u32 ReadLayer(CQEL* q, tw_u32 position, void* dst, tw_u32 count) {
  if (TwLayerSeek(q, (tw_i32)position, 0) == 0xFFFFFFFFu) return 0;
  tw_u32 got = TwLayerRead(q, dst, count);
  return got == 0xFFFFFFFFu ? 0 : got;
}

// Size of the packed file while an unpack entry runs.
static inline tw_u32 LayerFileSize(CQEL* q) { return TwLayerSeek(q, 0, 2); }

// Replaces the scanned file's content (an empty or earlier layer) by n bytes.
static inline int WriteLayer(CQEL* q, const void* data, tw_u32 n) {
  if (TwScanSeek(q, 0) != 0) return 0;
  if (TwScanWrite(q, data, n) != n) return 0;
  return TwScanTruncate(q, 0) ? 1 : 0;  // else the end of an earlier layer follows
}

// The level whose packer of `kind` reads a packed file of `size`: the
// deepest such level at or above the current one. Nested levels below it
// are finished when its unpack entry is called again.
static inline LibLevel* FindUnpackLevel(CQEL* q, tw_u32 kind, tw_u32 size) {
  LibState* s = State(q);
  if (s->depth >= kMaxLevels) s->depth = kMaxLevels - 1;
  for (tw_u32 i = s->depth + 1; i-- > 0;) {
    LibLevel* l = &s->levels[i];
    if (l->unpacker == kind && l->archiveSize == size) {
      s->depth = i;
      return l;
    }
  }
  return 0;
}

static inline LibLevel* CurrentLevel(CQEL* q) {
  LibState* s = State(q);
  if (s->depth >= kMaxLevels) s->depth = kMaxLevels - 1;
  return &s->levels[s->depth];
}

// After an unpack entry wrote a layer: its pass starts one level deeper.
static inline void LayerWritten(CQEL* q, tw_u32 kind) {
  LibState* s = State(q);
  s->pendingPush = 1;
  s->pendingKind = kind;
}
