// The scan engine of one run: creation with the library, one file at a time
// (ScanFile: pass, repair check, action, counters, clean-up, log), and its
// end.
#include "scanner/engine/engine.h"

#include <string.h>

#include "platform/guard/guard.h"
#include "scanner/engine/engine_internal.h"
#include "scanner/session/console.h"

namespace {

void* IndexAlloc(void* opaque, uint32_t size) { return MemAlloc((RuntimeContext*)opaque, size); }
void IndexFree(void* opaque, void* p) { MemFree((RuntimeContext*)opaque, p); }

IndexAllocator Allocator(ScanEngine* e) {
  IndexAllocator a = {IndexAlloc, IndexFree, e->ctx};
  return a;
}

struct HookCall {
  ScanEngine* engine;
  SpecialEntry entry;
};

void HookBody(void* arg) {
  HookCall* call = (HookCall*)arg;
  CallSpecial(call->engine, call->entry);
}

// Hooks are foreign code too: a fault inside one is contained.
void CallHook(ScanEngine* e, SpecialEntry entry) {
  if (!SpecialEntryAddress(e->library, entry)) return;
  HookCall call = {e, entry};
  TwGuardedRun(HookBody, &call);
}

void ReleaseEngine(ScanEngine* e) {
  RuntimeContext* ctx = e->ctx;
  IndexAllocator a = Allocator(e);
  if (e->logBuffer) MemFree(ctx, e->logBuffer);
  if (e->library) {
    AttachEngine(e->library, 0);
    ReleaseLibrary(e->library);
  }
  if (e->cqel) MemFree(ctx, e->cqel);
  if (e->work) MemFree(ctx, e->work);
  if (e->temps) MemFree(ctx, e->temps);
  if (e->userBySize) MemFree(ctx, e->userBySize);
  ReleaseChecksumIndex(&e->checksumIndex, &a);
  ReleaseRecordList(&e->multiRecords, &a);
  ReleaseRecordList(&e->packerRecords, &a);
  MemFree(ctx, e);
}

void DeleteInfected(ScanEngine* e, ScanRecord* rec) {
  uint32_t present = FileGetAttributes(e->ctx, rec->path);
  uint32_t attributes = present == kInvalid32 ? 0x80 : present & ~0x5u;
  if (attributes == 0) attributes = 0x80;
  FileSetAttributes(e->ctx, rec->path, attributes);
  if (FileDelete(e->ctx, rec->path)) {
    rec->result = kResultDeleted;
    rec->virusesDeleted++;
  } else {
    // The file stays: read-only and system were cleared only for the
    // deletion.
    if (present != kInvalid32 && present != attributes) FileSetAttributes(e->ctx, rec->path, present);
    rec->result = kResultDeleteFailed;
  }
}

// One pass over the whole file, from opening to closing it.
// h: the file already opened for reading, or 0 to open it here.
uint32_t FilePass(ScanEngine* e, ScanRecord* rec, HANDLE h) {
  if (!h) h = FileOpen(e->ctx, rec->path, kAccessRead, kOpenExisting);
  if (!ValidHandle(h)) return kPassNone;
  e->file = h;
  e->second = 0;
  e->cqel->size = FileSize(e->ctx, h);
  e->cqel->passFlag5 = 0;
  e->cqel->fileFlag6 = 0;
  e->layerCounter = 0;
  e->kind = 0;
  e->matchedRecord = 0;
  e->packerRecord = 0;
  uint32_t r = ScanPass(e);
  if (ValidHandle(e->file)) FileClose(e->ctx, e->file);
  e->file = 0;
  return r;
}

}  // namespace

ScanEngine* CreateEngine(RuntimeContext* ctx, const EngineSettings* settings) {
  if (!ctx || !settings || !settings->record) return 0;
  ScanEngine* e = (ScanEngine*)MemAlloc0(ctx, sizeof(ScanEngine));
  if (!e) return 0;
  e->ctx = ctx;
  e->record = settings->record;
  e->cqel = (CQEL*)MemAlloc0(ctx, sizeof(CQEL));
  e->logBuffer = (char*)MemAlloc0(ctx, kLogBufferRoom);
  e->temps = (TempSlot*)MemAlloc0(ctx, kMaxTempFiles * sizeof(TempSlot));
  if (!e->cqel || !e->logBuffer || !e->temps) {
    ReleaseEngine(e);
    return 0;
  }
  e->cqel->engine = (CqelEngineHead*)e;
  e->library = CreateLibrary(ctx);
  if (!e->library) {
    ReleaseEngine(e);
    return 0;
  }
  AttachEngine(e->library, e);
  e->libraryLoaded = LoadLibraryFiles(e->library, settings->libraryFolder ? settings->libraryFolder : "\\",
                                      settings->libraryMode);
  ReadLocalTime(ctx, &e->startTime);
  FormatText(e->sessionDate, "%04d-%02d-%02d", (int)e->startTime.year, (int)e->startTime.month,
             (int)e->startTime.day);
  e->work = (uint8_t*)MemAlloc(ctx, kWorkBufferSize);
  e->backupAvailable = PrepareBackupStore(e);
  if (!e->libraryLoaded || !e->work) {
    ReleaseEngine(e);
    return 0;
  }

  GetLibraryTables(e->library, &e->tables);
  IndexAllocator a = Allocator(e);
  // Indexes that cannot be built leave their table unmatched, like a table
  // the loader could not build.
  BuildChecksumIndex(&e->checksumIndex, &a, e->tables.checksum, e->tables.checksumCount);
  BuildRecordList(&e->multiRecords, &a, e->tables.multi, e->tables.multiBytes, e->tables.multiCount);
  BuildRecordList(&e->packerRecords, &a, e->tables.packer, e->tables.packerBytes, e->tables.packerCount);
  BuildUserDigestIndex(e);

  CallHook(e, kStartHook1);
  CallHook(e, kStartHook2);
  return e;
}

uint32_t ScanFile(ScanEngine* e, ScanRecord* rec) {
  if (!e || !rec) return kResultNone;
  e->record = rec;
  e->cqel->routineFlag = (rec->options & kOptionRoutineFlag) ? 1 : 0;
  if (!rec->path[0]) return kResultNone;
  rec->filesScanned++;
  uint32_t length = 0;
  while (length < sizeof(rec->path) && rec->path[length]) length++;
  if (length >= 1024) {
    rec->result = kResultNone;
    return kResultNone;
  }
  memcpy(e->cqel->path, rec->path, length + 1);
  HANDLE h = FileOpen(e->ctx, rec->path, kAccessRead, kOpenExisting);
  if (!ValidHandle(h)) {
    rec->result = kResultNone;
    return kResultNone;
  }
  rec->result = kResultNone;
  // Per file: nothing of the previous file's archive count carries over.
  e->membersUnzipped = 0;
  e->backedUpThisFile = 0;
  e->verifying = 0;

  uint32_t r = FilePass(e, rec, h);
  uint32_t layers = e->layerCounter;

  // A repaired file is checked again: another infection is repaired in turn,
  // and a repair that answers "repaired" but leaves the virus in place ends
  // as a failed clean after a few rounds instead of looping.
  if (r == kAnswerRepaired) {
    uint32_t found = rec->virusesFound, cleaned = rec->virusesCleaned, members = e->membersUnzipped;
    char name[256];
    memcpy(name, rec->virusName, sizeof(name));
    e->verifying = 1;
    for (uint32_t round = 1;; round++) {
      uint32_t again = FilePass(e, rec, 0);
      if (again != kAnswerRepaired && again != kPassDetected && again != kPassDeleteRequested &&
          again != kPassReopenFailed && again != kPassRepairFailed) {
        rec->result = kResultCleaned;
        break;
      }
      if (again != kAnswerRepaired || round + 1 >= kMaxRepairRounds) {
        r = again == kAnswerRepaired ? kPassRepairFailed : again;
        break;
      }
    }
    e->verifying = 0;
    rec->virusesFound = found;
    rec->virusesCleaned = cleaned;
    e->membersUnzipped = members;
    memcpy(rec->virusName, name, sizeof(name));
    if (r != kAnswerRepaired) {
      rec->virusesCleaned = cleaned ? cleaned - 1 : 0;
      rec->result = kResultNone;
    }
  }

  // Action.
  uint32_t options = rec->options;
  if (((options & kOptionDelete) && r == kPassDeleteRequested) ||
      ((options & kOptionRepair) && (r == kPassDetected || r == kPassDeleteRequested))) {
    if (!e->backedUpThisFile) e->backedUpThisFile = WriteQuarantineRecord(e, rec->path);
    // Without a store (too little room on C:) the run deletes without
    // backups. With one, a file whose record could not be written (a path
    // too long for a record, a read or write that failed) stays: deleted,
    // nothing could bring it back.
    if (e->backedUpThisFile || !e->backupAvailable)
      DeleteInfected(e, rec);
    else
      rec->result = kResultDeleteFailed;
  } else if (r == kPassDetected) {
    rec->result = kResultReported;
  } else if (r == kPassRepairFailed || r == kPassReopenFailed) {
    // The file stays as the routines left it; its backup stays in the store.
    rec->result = kResultCleanFailed;
  }

  // Counters.
  rec->filesUnpacked += layers;
  if (e->membersUnzipped != 0) {
    rec->archivesOpened++;
    rec->membersUnzipped += e->membersUnzipped;
  }
  e->membersUnzipped = 0;

  // Clean-up.
  FreeTrackedBlocks(e);
  CloseAllTempFiles(e);
  e->handleDepth = 0;
  e->sizeDepth = 0;
  e->second = 0;

  if (options & kOptionLog) LogFileResult(e);
  return rec->result;
}

void DestroyEngine(ScanEngine* e) {
  if (!e) return;
  if (e->record && (e->record->options & kOptionLog)) FlushLog(e, e->logBuffer, e->logFill, 1);
  CallHook(e, kStopHook1);
  CallHook(e, kStopHook2);
  FreeTrackedBlocks(e);
  ReleaseEngine(e);
}
