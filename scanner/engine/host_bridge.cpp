// What the library's host services reach in the engine: its two file
// handles, the blocks routines allocated, the sweep request and the file copy.
#include "scanner/library/host_bridge.h"

#include "scanner/engine/engine_internal.h"

HANDLE EngineScannedFile(ScanEngine* engine) { return engine ? engine->file : 0; }

HANDLE EngineLayerFile(ScanEngine* engine) { return engine ? engine->second : 0; }

int EngineTrackBlock(ScanEngine* engine, void* block) {
  if (!engine || !block || engine->trackedCount >= kMaxTrackedBlocks) return 0;
  engine->tracked[engine->trackedCount++] = block;
  return 1;
}

int EngineUntrackBlock(ScanEngine* engine, void* block) {
  if (!engine || !block) return 0;
  for (uint32_t i = engine->trackedCount; i-- > 0;) {
    if (engine->tracked[i] != block) continue;
    engine->tracked[i] = engine->tracked[--engine->trackedCount];
    return 1;
  }
  return 0;
}

int EngineTrackHandle(ScanEngine* engine, HANDLE h) {
  if (!engine || !ValidHandle(h) || engine->routineHandleCount >= kMaxRoutineHandles) return 0;
  RoutineHandle* r = &engine->routineHandles[engine->routineHandleCount++];
  r->handle = h;
  r->pass = engine->pass ? engine->pass->serial : 0;
  return 1;
}

int EngineUntrackHandle(ScanEngine* engine, HANDLE h) {
  if (!engine || !ValidHandle(h)) return 0;
  for (uint32_t i = engine->routineHandleCount; i-- > 0;) {
    if (engine->routineHandles[i].handle != h) continue;
    engine->routineHandles[i] = engine->routineHandles[--engine->routineHandleCount];
    return 1;
  }
  return 0;
}

int EngineOwnsHandle(ScanEngine* engine, HANDLE h) {
  if (!engine || !ValidHandle(h)) return 0;
  if (h == engine->file || h == engine->second) return 1;
  for (uint32_t i = 0; i < engine->handleDepth && i < kHandleStackSize; i++)
    if (engine->handleStack[i].handle == h) return 1;
  for (uint32_t i = 0; engine->temps && engine->tempCount && i < kMaxTempFiles; i++)
    if (engine->temps[i].handle == h) return 1;
  return 0;
}

void CloseRoutineHandles(ScanEngine* e, uint32_t fromPass) {
  for (uint32_t i = e->routineHandleCount; i-- > 0;) {
    RoutineHandle r = e->routineHandles[i];
    if (r.pass == 0 || r.pass < fromPass) continue;
    e->routineHandles[i] = e->routineHandles[--e->routineHandleCount];
    if (!EngineOwnsHandle(e, r.handle)) FileClose(e->ctx, r.handle);
  }
}

int EngineRequestSweep(ScanEngine* engine) {
  if (!engine || !engine->record) return 0;
  engine->record->sweepRequested = 1;
  return 1;
}

int EngineCopyLayerOverFile(ScanEngine* engine) {
  if (!engine) return 0;
  return CopyFileContent(engine, engine->second, engine->file);
}
