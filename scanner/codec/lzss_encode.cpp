// LZSS encoding with Okumura's binary search trees: every ring position is a
// node keyed by the 18 bytes starting there, one tree per first byte. The
// emitted stream must be exactly that of Okumura's LZSS.C (N = 4096, F = 18,
// THRESHOLD = 2), tie-breaking and the use of stale ring bytes at the end
// included, because the library files are made by it.
#include <string.h>

#include "scanner/codec/codec.h"
#include "scanner/codec/lzss_internal.h"

namespace {

using lzss::kMaxMatch;
using lzss::kRingSize;
using lzss::kThreshold;

constexpr uint16_t kNil = kRingSize;  // the empty index

struct Encoder {
  // The ring plus a copy of its first F - 1 bytes, so that a string starting
  // near the end can be compared without wrapping.
  uint8_t text[kRingSize + kMaxMatch - 1];
  uint16_t left[kRingSize + 1];
  uint16_t right[kRingSize + 257];  // right[N + 1 + c] is the root of the tree of first byte c
  uint16_t parent[kRingSize + 1];
  uint32_t matchPosition;
  uint32_t matchLength;
};

void InitTrees(Encoder* e) {
  for (uint32_t i = kRingSize + 1; i <= kRingSize + 256; ++i) e->right[i] = kNil;
  for (uint32_t i = 0; i < kRingSize; ++i) e->parent[i] = kNil;
}

// Inserts the string at r and finds the longest match for it among the
// strings already in its tree; the first strictly longer match met wins. A
// full match replaces the old node, which leaves the tree.
void InsertNode(Encoder* e, uint32_t r) {
  const uint8_t* key = &e->text[r];
  uint32_t p = kRingSize + 1 + key[0];
  int cmp = 1;
  e->right[r] = e->left[r] = kNil;
  e->matchLength = 0;
  for (;;) {
    if (cmp >= 0) {
      if (e->right[p] != kNil) {
        p = e->right[p];
      } else {
        e->right[p] = (uint16_t)r;
        e->parent[r] = (uint16_t)p;
        return;
      }
    } else {
      if (e->left[p] != kNil) {
        p = e->left[p];
      } else {
        e->left[p] = (uint16_t)r;
        e->parent[r] = (uint16_t)p;
        return;
      }
    }
    uint32_t i;
    for (i = 1; i < kMaxMatch; ++i)
      if ((cmp = (int)key[i] - (int)e->text[p + i]) != 0) break;
    if (i > e->matchLength) {
      e->matchPosition = p;
      if ((e->matchLength = i) >= kMaxMatch) break;
    }
  }
  // Full match: r takes p's place.
  e->parent[r] = e->parent[p];
  e->left[r] = e->left[p];
  e->right[r] = e->right[p];
  e->parent[e->left[p]] = (uint16_t)r;
  e->parent[e->right[p]] = (uint16_t)r;
  if (e->right[e->parent[p]] == p)
    e->right[e->parent[p]] = (uint16_t)r;
  else
    e->left[e->parent[p]] = (uint16_t)r;
  e->parent[p] = kNil;
}

void DeleteNode(Encoder* e, uint32_t p) {
  if (e->parent[p] == kNil) return;  // not in a tree
  uint32_t q;
  if (e->right[p] == kNil) {
    q = e->left[p];
  } else if (e->left[p] == kNil) {
    q = e->right[p];
  } else {
    // Replace p by its in-order predecessor.
    q = e->left[p];
    if (e->right[q] != kNil) {
      do {
        q = e->right[q];
      } while (e->right[q] != kNil);
      e->right[e->parent[q]] = e->left[q];
      e->parent[e->left[q]] = e->parent[q];
      e->left[q] = e->left[p];
      e->parent[e->left[p]] = (uint16_t)q;
    }
    e->right[q] = e->right[p];
    e->parent[e->right[p]] = (uint16_t)q;
  }
  e->parent[q] = e->parent[p];
  if (e->right[e->parent[p]] == p)
    e->right[e->parent[p]] = (uint16_t)q;
  else
    e->left[e->parent[p]] = (uint16_t)q;
  e->parent[p] = kNil;
}

uint32_t Encode(Encoder* e, const uint8_t* src, uint32_t length, uint8_t* dst, uint32_t capacity) {
  const uint8_t* const end = src + length;
  uint32_t written = 0;
  uint8_t code[17];  // flag byte and up to eight items of at most two bytes
  uint32_t codeLength = 1;
  uint32_t mask = 1;
  code[0] = 0;

  InitTrees(e);
  // Positions after the initial spaces hold zeros until written, as in the
  // original's static buffer; the tree compares them, so they matter.
  memset(e->text, 0, sizeof e->text);
  memset(e->text, ' ', lzss::kStart);
  uint32_t s = 0, r = lzss::kStart;
  uint32_t len = 0;
  while (len < kMaxMatch && src != end) e->text[r + len++] = *src++;
  if (len == 0) return 0;
  for (uint32_t i = 1; i <= kMaxMatch; ++i) InsertNode(e, r - i);
  InsertNode(e, r);

  do {
    if (e->matchLength > len) e->matchLength = len;
    if (e->matchLength <= kThreshold) {
      e->matchLength = 1;
      code[0] |= (uint8_t)mask;
      code[codeLength++] = e->text[r];
    } else {
      code[codeLength++] = (uint8_t)e->matchPosition;
      code[codeLength++] =
          (uint8_t)(((e->matchPosition >> 4) & 0xF0) | (e->matchLength - (kThreshold + 1)));
    }
    if ((mask = (mask << 1) & 0xFF) == 0) {
      if (codeLength > capacity - written) return 0;
      memcpy(dst + written, code, codeLength);
      written += codeLength;
      code[0] = 0;
      codeLength = mask = 1;
    }
    const uint32_t lastMatchLength = e->matchLength;
    uint32_t i;
    for (i = 0; i < lastMatchLength && src != end; ++i) {
      const uint8_t c = *src++;
      DeleteNode(e, s);
      e->text[s] = c;
      if (s < kMaxMatch - 1) e->text[s + kRingSize] = c;
      s = (s + 1) & (kRingSize - 1);
      r = (r + 1) & (kRingSize - 1);
      InsertNode(e, r);
    }
    while (i++ < lastMatchLength) {
      DeleteNode(e, s);
      s = (s + 1) & (kRingSize - 1);
      r = (r + 1) & (kRingSize - 1);
      if (--len) InsertNode(e, r);
    }
  } while (len > 0);

  if (codeLength > 1) {
    if (codeLength > capacity - written) return 0;
    memcpy(dst + written, code, codeLength);
    written += codeLength;
  }
  return written;
}

}  // namespace

uint32_t LzssEncode(const CodecAllocator* a, const uint8_t* src, uint32_t length, uint8_t* dst,
                    uint32_t capacity) {
  if (length == 0 || !a) return 0;
  Encoder* e = static_cast<Encoder*>(a->alloc(a->opaque, sizeof(Encoder)));
  if (!e) return 0;
  const uint32_t written = Encode(e, src, length, dst, capacity);
  a->free(a->opaque, e);
  return written;
}
