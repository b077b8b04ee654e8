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

int EngineRequestSweep(ScanEngine* engine) {
  if (!engine || !engine->record) return 0;
  engine->record->sweepRequested = 1;
  return 1;
}

int EngineCopyLayerOverFile(ScanEngine* engine) {
  if (!engine) return 0;
  return CopyFileContent(engine, engine->second, engine->file);
}
