// The scan engine of one run: created when the library is loaded, handed every
// file by the walk, destroyed at the end of the run.
#pragma once

#include "scanner/runtime/runtime.h"
#include "scanner/session/scan_record.h"

struct ScanEngine;

struct EngineSettings {
  uint32_t libraryMode;      // 0 USB disks, 1 fixed drives and the Windows directory
  const char* libraryFolder;  // ANSI, ends with a backslash
  ScanRecord* record;         // the session's scan record
};

// Null when the library cannot be loaded (everything created is released).
ScanEngine* CreateEngine(RuntimeContext* ctx, const EngineSettings* settings);
// Scans record->path; the verdict is left in record->result.
uint32_t ScanFile(ScanEngine* engine, ScanRecord* record);
void DestroyEngine(ScanEngine* engine);
