// A scanner built before the scan engine exists: loading the library
// succeeds without an engine, so the walk shows every file and scans none.
#include "scanner/session/session.h"

int SessionCreateEngine(RuntimeContext* ctx, const EngineSettings* settings, ScanEngine** engine) {
  *engine = 0;
  return 1;
}

void SessionScanFile(ScanEngine* engine, ScanRecord* record) {}

void SessionDestroyEngine(ScanEngine* engine) {}
