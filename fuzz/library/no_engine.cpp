// The library's fuzz targets run no routines and attach no engine: the host
// services' engine side answers failure, as it does while no engine is
// attached.
#include "scanner/library/host_bridge.h"

HANDLE EngineScannedFile(ScanEngine*) { return 0; }
HANDLE EngineLayerFile(ScanEngine*) { return 0; }
int EngineTrackBlock(ScanEngine*, void*) { return 0; }
int EngineUntrackBlock(ScanEngine*, void*) { return 0; }
int EngineTrackHandle(ScanEngine*, HANDLE) { return 0; }
int EngineUntrackHandle(ScanEngine*, HANDLE) { return 0; }
int EngineOwnsHandle(ScanEngine*, HANDLE) { return 0; }
int EngineRequestSweep(ScanEngine*) { return 0; }
int EngineCopyLayerOverFile(ScanEngine*) { return 0; }
