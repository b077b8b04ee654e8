// The heap of library routines (host services 4, 6, 7, 9 and the engine's
// release of tracked blocks). Separate from the runtime's heap on purpose:
//  - it takes no lock, so a routine stopped inside a host service (by a
//    fault or the watchdog) can never leave a lock held;
//  - its blocks live in pages of their own, so a routine that writes past a
//    block damages only routine memory, never the scanner's heap;
//  - every block handed back is checked (inside one of our chunks or large
//    mappings, at a block boundary, in use) before anything is changed, and
//    free lists are checked as they are followed, so bad pointers and
//    damaged blocks are refused instead of faulting or corrupting.
// Single-threaded: routines run on the scanner's main thread only.
#pragma once

#include "scanner/runtime/runtime.h"

struct RoutineHeap {
  RuntimeContext* ctx;
  uint8_t** chunks;  // kChunkSize each
  uint32_t chunkCount;
  uint8_t* bump;  // carving position in the newest chunk
  uint32_t bumpLeft;
  uint8_t* freeLists[16];
  struct Large {
    uint8_t* base;
    uint32_t bytes;
  } * large;
  uint32_t largeCount;
};

void RoutineHeapInit(RoutineHeap* h, RuntimeContext* ctx);
void RoutineHeapRelease(RoutineHeap* h);  // frees every block and chunk
void* RoutineAlloc(RoutineHeap* h, uint32_t size);
// 1 when block was a live block of this heap (then freed), 0 otherwise.
int RoutineFree(RoutineHeap* h, void* block);
// Null block: 0 (like MemRealloc). On failure the old block stays valid.
void* RoutineRealloc(RoutineHeap* h, void* block, uint32_t size);
// Whether the block is live; its "tracked" mark (registered with the engine).
int RoutineBlockLive(RoutineHeap* h, void* block);
void RoutineSetTracked(RoutineHeap* h, void* block, int tracked);
int RoutineIsTracked(RoutineHeap* h, void* block);
