// The routines' heap (see routine_heap.h).
//
// Chunk block:  | tag | size | class | state | payload ... |   (16-byte header)
// tag = kTag ^ header address; state: in use (plus the tracked bit) or free.
// Classes hold 16 << k bytes (header included), k = 0 .. 14; larger blocks
// get pages of their own, listed in `large`.
#include "scanner/library/routine_heap.h"

#include <string.h>

namespace {

const uint32_t kChunkSize = 1u << 20;
const uint32_t kMaxChunks = 2048;       // 2 GiB: more than the address space allows
const uint32_t kMaxLarge = 8192;
const uint32_t kClasses = 15;           // 16 B .. 256 KiB
const uint32_t kHeader = 16;
const uint32_t kMaxRequest = 0x40000000u;
const uint32_t kTag = 0x52485450u;
const uint32_t kStateFree = 0x46524545u;
const uint32_t kStateUsed = 0x55534544u;
const uint32_t kTrackedBit = 1;
const uint32_t kLargeClass = 0xFF;

struct Header {
  uint32_t tag, size, cls, state;
};

uint32_t TagFor(const uint8_t* header) { return kTag ^ (uint32_t)(uintptr_t)header; }

void ReadHeader(const uint8_t* p, Header* h) { memcpy(h, p, sizeof *h); }
void WriteHeader(uint8_t* p, uint32_t size, uint32_t cls, uint32_t state) {
  Header h = {TagFor(p), size, cls, state};
  memcpy(p, &h, sizeof h);
}

bool InChunk(const RoutineHeap* h, const uint8_t* header, uint32_t cls) {
  for (uint32_t i = 0; i < h->chunkCount; ++i) {
    const uint8_t* c = h->chunks[i];
    if (header < c || header >= c + kChunkSize) continue;
    uint32_t at = (uint32_t)(header - c);
    return (at & 15) == 0 && (16u << cls) <= kChunkSize - at;
  }
  return false;
}

int FindLarge(const RoutineHeap* h, const uint8_t* header) {
  for (uint32_t i = 0; i < h->largeCount; ++i)
    if (h->large[i].base == header) return (int)i;
  return -1;
}

// The header of a live block, or null. Reads only memory of this heap.
uint8_t* LiveHeader(const RoutineHeap* h, void* block) {
  uintptr_t b = (uintptr_t)block;
  if (block == nullptr || (b & 15) != 0 || b < kHeader) return nullptr;
  uint8_t* p = (uint8_t*)(b - kHeader);
  bool large = FindLarge(h, p) >= 0;
  if (!large) {
    // The class is read only after the header is known to be in a chunk.
    bool any = false;
    for (uint32_t i = 0; i < h->chunkCount && !any; ++i)
      any = p >= h->chunks[i] && p + kHeader <= h->chunks[i] + kChunkSize;
    if (!any) return nullptr;
  }
  Header hd;
  ReadHeader(p, &hd);
  if (hd.tag != TagFor(p) || (hd.state & ~kTrackedBit) != kStateUsed) return nullptr;
  if (large ? hd.cls != kLargeClass : (hd.cls >= kClasses || !InChunk(h, p, hd.cls))) return nullptr;
  return p;
}

uint32_t ClassFor(uint32_t size) {
  uint32_t total = size + kHeader;
  for (uint32_t k = 0; k < kClasses; ++k)
    if ((16u << k) >= total) return k;
  return kLargeClass;
}

uint8_t* NewChunk(RoutineHeap* h) {
  if (h->chunks == nullptr) {
    h->chunks = (uint8_t**)MemAlloc0(h->ctx, kMaxChunks * sizeof(uint8_t*));
    if (h->chunks == nullptr) return nullptr;
  }
  if (h->chunkCount >= kMaxChunks) return nullptr;
  uint8_t* c = (uint8_t*)VmAlloc(h->ctx, nullptr, kChunkSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (c == nullptr) return nullptr;
  h->chunks[h->chunkCount++] = c;
  h->bump = c;
  h->bumpLeft = kChunkSize;
  return c;
}

// Pops a free block of class k, checking each link before following it.
uint8_t* PopFree(RoutineHeap* h, uint32_t k) {
  uint8_t* p = h->freeLists[k];
  if (p == nullptr) return nullptr;
  Header hd;
  ReadHeader(p, &hd);
  if (hd.tag != TagFor(p) || hd.state != kStateFree || hd.cls != k) {
    h->freeLists[k] = nullptr;  // damaged by a routine: the list is dropped
    return nullptr;
  }
  uint8_t* next;
  memcpy(&next, p + kHeader, sizeof next);
  if (next != nullptr && !InChunk(h, next, k)) next = nullptr;
  h->freeLists[k] = next;
  return p;
}

}  // namespace

void RoutineHeapInit(RoutineHeap* h, RuntimeContext* ctx) {
  memset(h, 0, sizeof *h);
  h->ctx = ctx;
}

void RoutineHeapRelease(RoutineHeap* h) {
  for (uint32_t i = 0; i < h->chunkCount; ++i) VmFree(h->ctx, h->chunks[i], 0, MEM_RELEASE);
  for (uint32_t i = 0; i < h->largeCount; ++i) VmFree(h->ctx, h->large[i].base, 0, MEM_RELEASE);
  MemFree(h->ctx, h->chunks);
  MemFree(h->ctx, h->large);
  RoutineHeapInit(h, h->ctx);
}

void* RoutineAlloc(RoutineHeap* h, uint32_t size) {
  if (size > kMaxRequest) return nullptr;
  if (size == 0) size = 1;
  uint32_t k = ClassFor(size);
  if (k == kLargeClass) {
    if (h->large == nullptr) {
      h->large = (RoutineHeap::Large*)MemAlloc0(h->ctx, kMaxLarge * sizeof(RoutineHeap::Large));
      if (h->large == nullptr) return nullptr;
    }
    if (h->largeCount >= kMaxLarge) return nullptr;
    uint32_t bytes = (size + kHeader + 4095) & ~4095u;
    uint8_t* p = (uint8_t*)VmAlloc(h->ctx, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (p == nullptr) return nullptr;
    h->large[h->largeCount].base = p;
    h->large[h->largeCount].bytes = bytes;
    h->largeCount++;
    WriteHeader(p, size, kLargeClass, kStateUsed);
    return p + kHeader;
  }
  uint32_t bytes = 16u << k;
  uint8_t* p = PopFree(h, k);
  if (p == nullptr) {
    if (h->bumpLeft < bytes && NewChunk(h) == nullptr) return nullptr;
    p = h->bump;
    h->bump += bytes;
    h->bumpLeft -= bytes;
  }
  WriteHeader(p, size, k, kStateUsed);
  return p + kHeader;
}

int RoutineFree(RoutineHeap* h, void* block) {
  uint8_t* p = LiveHeader(h, block);
  if (p == nullptr) return 0;
  Header hd;
  ReadHeader(p, &hd);
  if (hd.cls == kLargeClass) {
    int i = FindLarge(h, p);
    VmFree(h->ctx, p, 0, MEM_RELEASE);
    h->large[i] = h->large[--h->largeCount];
    return 1;
  }
  WriteHeader(p, 0, hd.cls, kStateFree);
  memcpy(p + kHeader, &h->freeLists[hd.cls], sizeof(uint8_t*));
  h->freeLists[hd.cls] = p;
  return 1;
}

void* RoutineRealloc(RoutineHeap* h, void* block, uint32_t size) {
  uint8_t* p = LiveHeader(h, block);
  if (p == nullptr || size > kMaxRequest) return nullptr;
  if (size == 0) size = 1;
  Header hd;
  ReadHeader(p, &hd);
  uint32_t room = hd.cls == kLargeClass ? h->large[FindLarge(h, p)].bytes - kHeader : (16u << hd.cls) - kHeader;
  if (size <= room) {
    WriteHeader(p, size, hd.cls, hd.state);
    return block;
  }
  void* fresh = RoutineAlloc(h, size);
  if (fresh == nullptr) return nullptr;
  // The size field lies in front of the routine's block, where the routine
  // can write over it: never copy more than the old block's room.
  uint32_t keep = hd.size < room ? hd.size : room;
  memcpy(fresh, block, keep < size ? keep : size);
  RoutineFree(h, block);
  return fresh;
}

int RoutineBlockLive(RoutineHeap* h, void* block) { return LiveHeader(h, block) != nullptr; }

void RoutineSetTracked(RoutineHeap* h, void* block, int tracked) {
  uint8_t* p = LiveHeader(h, block);
  if (p == nullptr) return;
  Header hd;
  ReadHeader(p, &hd);
  WriteHeader(p, hd.size, hd.cls, tracked ? (kStateUsed | kTrackedBit) : kStateUsed);
}

int RoutineIsTracked(RoutineHeap* h, void* block) {
  uint8_t* p = LiveHeader(h, block);
  if (p == nullptr) return 0;
  Header hd;
  ReadHeader(p, &hd);
  return (hd.state & kTrackedBit) != 0;
}
