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
int EngineRequestSweep(ScanEngine* engine);               // sets sweepRequested; 1 on success
int EngineCopyLayerOverFile(ScanEngine* engine);          // 1 on success
