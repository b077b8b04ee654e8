// The session's view of the scan engine: the engine of scanner/engine.
#include "scanner/session/session.h"

int SessionCreateEngine(RuntimeContext* ctx, const EngineSettings* settings, ScanEngine** engine) {
  *engine = CreateEngine(ctx, settings);
  return *engine != 0;
}

void SessionScanFile(ScanEngine* engine, ScanRecord* record) { ScanFile(engine, record); }

void SessionDestroyEngine(ScanEngine* engine) { DestroyEngine(engine); }
