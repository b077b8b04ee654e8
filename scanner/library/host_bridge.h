// What the library's host services need from the scan engine. The engine
// implements these; every function answers a failure value (0, or
// RT_INVALID_HANDLE for handles) when the engine is null, so routines called
// while no engine is attached fail cleanly.
#pragma once

#include "scanner/runtime/runtime.h"

struct ScanEngine;

HANDLE EngineScannedFile(ScanEngine* engine);  // the current file handle (0 when none)
HANDLE EngineLayerFile(ScanEngine* engine);    // the second handle (0 when none)
int EngineTrackBlock(ScanEngine* engine, void* block);    // 1 when registered (at most 4096)
int EngineUntrackBlock(ScanEngine* engine, void* block);  // 1 when it was registered
// Files routines open: registered (at most 64 at once) so that those of a
// pass a fault ended can be closed; the engine's own handles (current,
// second, parked under a layer, temporary) are not the routines' to close.
int EngineTrackHandle(ScanEngine* engine, HANDLE h);    // 1 when registered
int EngineUntrackHandle(ScanEngine* engine, HANDLE h);  // 1 when it was registered
int EngineOwnsHandle(ScanEngine* engine, HANDLE h);     // 1 for the engine's own
int EngineRequestSweep(ScanEngine* engine);               // sets sweepRequested; 1 on success
int EngineCopyLayerOverFile(ScanEngine* engine);          // 1 on success
