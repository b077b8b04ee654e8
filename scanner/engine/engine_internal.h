// The scan engine's private state and the operations its files share.
#pragma once

#include "scanner/engine/checksum_index.h"
#include "scanner/engine/engine.h"
#include "scanner/library/cqel.h"
#include "scanner/library/library.h"

// Pass answers. 6..12 are also the answers of library routines.
enum : uint32_t {
  kPassNone = 0,
  kPassReopenFailed = 1,
  kPassDetected = 2,
  kPassDeleteRequested = 3,
  // Not a routine answer: the detection's repair failed (the routines
  // answered something other than 8, or faulted). The file keeps its backup
  // and is reported as CleanFailed.
  kPassRepairFailed = 4,
  kAnswerPresent = 6,
  kAnswerUndecided = 7,
  kAnswerRepaired = 8,
  kAnswerGeneric = 9,
  kAnswerPacker = 10,
  kAnswerLayer = 12,
};

const uint32_t kWorkBufferSize = 0x400000;
const uint32_t kLogBufferSize = 0x10000;
// The summary block needs about 300 bytes past a full buffer of lines.
const uint32_t kLogBufferRoom = kLogBufferSize + 1024;
const uint32_t kMaxTempFiles = 4096;
const uint32_t kTempPathMax = 511;
const uint32_t kHandleStackSize = 4096;
const uint32_t kSizeStackSize = 8191;
const uint32_t kMaxTrackedBlocks = 4096;
const uint32_t kMaxRoutineHandles = 64;
const uint32_t kMaxLayerSteps = 32;  // a step numbered above this stops the unpacking
const uint32_t kMinScanSize = 7;
const uint32_t kMaxScanSize = 0x6400000;
// Repairs of one file before the engine gives up on a repair that keeps
// answering "repaired" while the file still holds a virus.
const uint32_t kMaxRepairRounds = 4;

struct TempSlot {
  HANDLE handle;
  char path[kTempPathMax + 1];
};

struct HandleEntry {
  HANDLE handle;
  uint32_t position;
};

// One scan pass (nested for unpacked layers); lives on the stack of ScanPass.
struct PassFrame {
  ScanEngine* engine;
  PassFrame* outer;
  uint32_t serial;        // numbers the passes of the engine's life, from 1
  uint32_t answer;        // the last answer reached
  uint32_t unpackAnswer;  // what UnpackLayers answered, when not 0
  uint32_t handleDepth;   // handle stack depth at the start of the pass
  uint32_t sizeDepth;
  uint32_t size;          // CQEL size at the start of the pass
  int digestDone;
  int digestOk;
  uint8_t digest[16];
  // A repair in progress: what must be put back if a routine faults.
  int repairing;
  uint32_t savedAttributes;
  int timesOk;
  int64_t times[3];
};

// A file a routine opened through the host services and has not closed, and
// the pass it was opened in (0: outside any pass).
struct RoutineHandle {
  HANDLE handle;
  uint32_t pass;
};

struct UserDigestRef {
  uint32_t size;
  uint32_t index;
};

struct ScanEngine {
  // Library routines raise this through the engine reference of the CQEL
  // object (CqelEngineHead): it must stay the first field.
  uint32_t membersUnzipped;

  RuntimeContext* ctx;
  CQEL* cqel;
  VirusLibrary* library;
  int libraryLoaded;
  LibraryTables tables;
  ScanRecord* record;

  HANDLE file;    // the current file: every pass reads it
  HANDLE second;  // the layer file while unpacking

  uint32_t kind;
  uint32_t matchedIndex;
  const uint8_t* matchedRecord;  // MultiCheckTable record of the detection
  const uint8_t* packerRecord;   // PackerTable record of the unpacking

  char sessionDate[16];
  LocalTime startTime;
  uint8_t* work;
  uint8_t lastDigest[16];
  int backupAvailable;
  int backedUpThisFile;  // the store holds this file's record
  int verifying;  // a pass that checks a repaired file: no name printed

  // Scan log.
  char* logBuffer;
  uint32_t logFill;
  int logHeaderWritten;
  int logCreated;
  int logStartTaken;
  LocalTime logStart;

  // Unpacking.
  TempSlot* temps;
  uint32_t tempCount;
  HandleEntry handleStack[kHandleStackSize];
  uint32_t handleDepth;
  uint32_t sizeStack[kSizeStackSize];
  uint32_t sizeDepth;
  uint32_t layerCounter;

  void* tracked[kMaxTrackedBlocks];
  uint32_t trackedCount;

  // Files routines hold open. A routine may keep one from file to file, so
  // they are closed only when a fault ends the pass they were opened in (or
  // a pass around it): the routine that would have closed them is gone.
  RoutineHandle routineHandles[kMaxRoutineHandles];
  uint32_t routineHandleCount;
  uint32_t passSerial;

  PassFrame* pass;  // innermost running pass

  // Indexes built once from the library tables.
  ChecksumIndex checksumIndex;
  RecordList multiRecords;
  RecordList packerRecords;
  UserDigestRef* userBySize;  // sorted by size, then index
  uint32_t userCount;
};

// Scan pipeline (scan_pass.cpp).
uint32_t ScanPass(ScanEngine* e);
uint32_t CallRoutine(ScanEngine* e, uint32_t slot, int which);
uint32_t CallSpecial(ScanEngine* e, SpecialEntry entry);
uint32_t PackerMatch(ScanEngine* e);
int BuildUserDigestIndex(ScanEngine* e);

// Unpacking (unpack.cpp).
uint32_t UnpackLayers(ScanEngine* e, PassFrame* frame);
HANDLE CreateTempFile(ScanEngine* e);
void CloseTempFile(ScanEngine* e, HANDLE h);
void CloseAllTempFiles(ScanEngine* e);
int CopyFileContent(ScanEngine* e, HANDLE source, HANDLE destination);
void RestoreHandles(ScanEngine* e, uint32_t depth);
void FreeTrackedBlocks(ScanEngine* e);
void CloseRoutineHandles(ScanEngine* e, uint32_t fromPass);

// Backup store (backup.cpp).
int PrepareBackupStore(ScanEngine* e);
// 1 when the store holds the file's record afterwards.
int WriteQuarantineRecord(ScanEngine* e, const char* path);

// Scan log (scan_log.cpp).
void LogFileResult(ScanEngine* e);
void FlushLog(ScanEngine* e, const char* text, uint32_t length, int final);
uint32_t ElapsedSeconds(const LocalTime* start, int startTaken, const LocalTime* end);

static inline int ValidHandle(HANDLE h) { return h != 0 && h != RT_INVALID_HANDLE; }
static inline uint32_t Read32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
static inline uint32_t Read16(const uint8_t* p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8; }
