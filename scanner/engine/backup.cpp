// The backup store on C: and the quarantine record of a file about to be
// deleted or repaired (the record layout is common/quarantine).
#include <string.h>

#include "common/quarantine.h"
#include "scanner/engine/engine_internal.h"
#include "scanner/session/console.h"

int PrepareBackupStore(ScanEngine* e) {
  uint32_t sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  if (!DiskFreeSpace(e->ctx, "c:\\", &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) return 0;
  uint64_t freeBytes = (uint64_t)sectorsPerCluster * bytesPerSector * freeClusters;
  if ((freeBytes >> 20) < 100) return 0;
  if (!IsDirectory(e->ctx, kQuarantineRoot)) {
    if (!DirCreate(e->ctx, kQuarantineRoot)) return 0;
    FileSetAttributes(e->ctx, kQuarantineRoot, 0x2);
  }
  for (uint32_t digit = 0; digit < 16; digit++) {
    char path[64];
    if (!QuarantineSubdirPath(digit, path, sizeof(path))) return 0;
    if (IsDirectory(e->ctx, path)) continue;
    if (!DirCreate(e->ctx, path)) return 0;
    FileSetAttributes(e->ctx, path, 0x2);
  }
  return 1;
}

// Answers 1 when the store holds the file's record (written now, or already
// kept), else 0.
int WriteQuarantineRecord(ScanEngine* e, const char* path) {
  if (!e->backupAvailable || TextLen(path) > 512) return 0;
  HANDLE h = FileOpen(e->ctx, path, kAccessRead, kOpenExisting);
  if (!ValidHandle(h)) return 0;
  // N is the file's own length: a routine cannot make the backup partial by
  // writing the CQEL size.
  uint32_t n = FileSize(e->ctx, h);
  if (n == kInvalid32 || n > 0xFFFFFFFFu - 2 * kQuarantineFrontRoom - 4096) {
    FileClose(e->ctx, h);
    return 0;
  }
  uint8_t* buffer = e->work;
  uint32_t capacity = kWorkBufferSize;
  if (n >= kWorkBufferSize - kQuarantineFrontRoom - 3072) {  // 0x3FF000
    capacity = n + kQuarantineFrontRoom + 4096;
    buffer = (uint8_t*)MemAlloc(e->ctx, capacity);
    if (!buffer) {
      FileClose(e->ctx, h);
      return 0;
    }
  }
  uint32_t got = FileRead(e->ctx, h, buffer + kQuarantineFrontRoom, n);
  int64_t times[3] = {0, 0, 0};
  FileGetTimes(e->ctx, h, &times[0], &times[1], &times[2]);
  FileClose(e->ctx, h);
  int kept = 0;
  if (got == n) {
    uint16_t when[8] = {e->startTime.year,   e->startTime.month,  e->startTime.dayOfWeek, e->startTime.day,
                        e->startTime.hour,   e->startTime.minute, e->startTime.second,    e->startTime.milliseconds};
    uint32_t length = 0;
    uint8_t d2[16];
    if (QuarantineCompose(buffer, capacity, kQuarantineFrontRoom, n, path, e->record->virusName, e->sessionDate,
                          when, times, &length, d2) == kQrOk) {
      char recordPath[96];
      if (QuarantineRecordPath(d2, recordPath, sizeof(recordPath))) {
        HANDLE existing = FileOpen(e->ctx, recordPath, kAccessRead | kAccessWrite, kOpenExisting);
        if (ValidHandle(existing)) {
          FileClose(e->ctx, existing);  // the same record is already kept
          kept = 1;
        } else {
          HANDLE out = FileOpen(e->ctx, recordPath, kAccessRead | kAccessWrite, kCreateAlways);
          if (ValidHandle(out)) {
            uint32_t written = FileWrite(e->ctx, out, buffer, length);
            FileClose(e->ctx, out);
            if (written == length) {
              FileSetAttributes(e->ctx, recordPath, 0x2);
              kept = 1;
            } else {
              FileDelete(e->ctx, recordPath);  // a cut record could never be restored
            }
          }
        }
      }
    }
  }
  if (buffer != e->work) MemFree(e->ctx, buffer);
  return kept;
}
