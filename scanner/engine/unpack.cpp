// Unpacking layers: a packer record's routine writes each layer into a
// temporary file, which is scanned by a nested pass; the temporary files, the
// handle stack, and the file copy offered to routines.
#include <string.h>

#include "scanner/engine/engine_internal.h"
#include "scanner/session/console.h"

namespace {

uint32_t Position(ScanEngine* e, HANDLE h) {
  if (!ValidHandle(h)) return 0;
  uint32_t p = FileSeek(e->ctx, h, 0, 1);
  return p == kInvalid32 ? 0 : p;
}

void PushHandle(ScanEngine* e, HANDLE h) {
  HandleEntry* entry = &e->handleStack[e->handleDepth++];
  entry->handle = h;
  entry->position = Position(e, h);
}

HANDLE PopHandle(ScanEngine* e) {
  HandleEntry* entry = &e->handleStack[--e->handleDepth];
  if (ValidHandle(entry->handle)) FileSeek(e->ctx, entry->handle, (int32_t)entry->position, 0);
  return entry->handle;
}

void SwapHandles(ScanEngine* e) {
  HANDLE t = e->file;
  e->file = e->second;
  e->second = t;
}

int IsTempHandle(ScanEngine* e, HANDLE h) {
  if (!ValidHandle(h)) return 0;
  for (uint32_t i = 0; i < kMaxTempFiles; i++)
    if (e->temps[i].handle == h) return 1;
  return 0;
}

// Whether the two files start with the same 1024 bytes (both positions kept).
int SameStart(ScanEngine* e, HANDLE a, HANDLE b) {
  uint8_t* x = e->work;
  uint8_t* y = e->work + 1024;
  uint32_t pa = Position(e, a), pb = Position(e, b);
  FileSeek(e->ctx, a, 0, 0);
  FileSeek(e->ctx, b, 0, 0);
  uint32_t na = FileRead(e->ctx, a, x, 1024);
  uint32_t nb = FileRead(e->ctx, b, y, 1024);
  FileSeek(e->ctx, a, (int32_t)pa, 0);
  FileSeek(e->ctx, b, (int32_t)pb, 0);
  return na == nb && na != kInvalid32 && memcmp(x, y, na) == 0;
}

void PushSize(ScanEngine* e, uint32_t size) {
  if (e->sizeDepth < kSizeStackSize) e->sizeStack[e->sizeDepth++] = size;
}

uint32_t PopSize(ScanEngine* e) { return e->sizeDepth ? e->sizeStack[--e->sizeDepth] : 0; }

}  // namespace

uint32_t UnpackLayers(ScanEngine* e, PassFrame* frame) {
  if (!(e->record->options & kOptionUnpack)) return 0;
  if (PackerMatch(e) != kAnswerPacker) return 0;
  uint32_t routine = Read32(e->packerRecord + 13 + 7 * (uint32_t)e->packerRecord[1]);
  if (e->handleDepth + 2 > kHandleStackSize) return kAnswerPacker;
  PushHandle(e, e->file);
  PushHandle(e, e->second);
  HANDLE temp = CreateTempFile(e);
  if (!temp) {
    e->second = PopHandle(e);
    e->file = PopHandle(e);
    return kAnswerPacker;
  }
  e->second = temp;
  SwapHandles(e);  // current: the empty layer file; second: the packed file

  uint32_t r = CallRoutine(e, routine, 1);
  while (r == kAnswerLayer) {
    uint32_t n = e->layerCounter++;
    if (n > kMaxLayerSteps) break;
    uint32_t a = FileSize(e->ctx, e->file);
    uint32_t b = FileSize(e->ctx, e->second);
    e->cqel->size = b;
    if (a == b && SameStart(e, e->file, e->second)) {
      r = CallRoutine(e, routine, 1);  // nothing new was written
      continue;
    }
    PushSize(e, b);
    e->cqel->size = a;
    FileSeek(e->ctx, e->file, 0, 0);
    r = ScanPass(e);
    e->cqel->size = PopSize(e);
    if (r != kAnswerPacker) break;
    r = CallRoutine(e, routine, 1);
  }

  SwapHandles(e);
  CloseTempFile(e, e->second);
  e->second = PopHandle(e);
  e->file = PopHandle(e);
  (void)frame;
  return r;
}

// After a fault inside an unpacking: the handles pushed since `depth` are put
// back in pairs, and the layer files that were current at the fault closed.
void RestoreHandles(ScanEngine* e, uint32_t depth) {
  while (e->handleDepth >= depth + 2) {
    HANDLE savedSecond = e->handleStack[e->handleDepth - 1].handle;
    HANDLE savedFile = e->handleStack[e->handleDepth - 2].handle;
    if (e->file != savedFile && e->file != savedSecond && IsTempHandle(e, e->file)) CloseTempFile(e, e->file);
    if (e->second != savedFile && e->second != savedSecond && IsTempHandle(e, e->second))
      CloseTempFile(e, e->second);
    e->second = PopHandle(e);
    e->file = PopHandle(e);
  }
  if (e->handleDepth > depth) e->handleDepth = depth;
}

HANDLE CreateTempFile(ScanEngine* e) {
  char folder[1024];
  uint32_t n = GetEnvVar(e->ctx, "Temp", folder, sizeof(folder));
  if (n == 0 || n >= sizeof(folder)) return 0;
  folder[n] = 0;
  uint32_t length = TextLen(folder);
  if (length == 0) return 0;
  if (folder[length - 1] == '\\') folder[--length] = 0;
  // The lowest free slot: the open count whenever layers close in order.
  uint32_t slot = 0;
  while (slot < kMaxTempFiles && e->temps[slot].handle) slot++;
  if (slot >= kMaxTempFiles) return 0;
  if (length + 12 > kTempPathMax) return 0;  // "\FtmpNNN.upk" (more digits past 999)
  char path[1024 + 32];
  FormatText(path, "%s\\Ftmp%03d.upk", folder, (int)slot);
  if (TextLen(path) > kTempPathMax) return 0;
  HANDLE h = FileOpen(e->ctx, path, kAccessRead | kAccessWrite, kCreateAlways);
  if (!ValidHandle(h)) return 0;
  TextCopy(e->temps[slot].path, sizeof(e->temps[slot].path), path);
  e->temps[slot].handle = h;
  e->tempCount++;
  return h;
}

void CloseTempFile(ScanEngine* e, HANDLE h) {
  if (!ValidHandle(h)) return;
  for (uint32_t i = 0; i < kMaxTempFiles; i++) {
    TempSlot* slot = &e->temps[i];
    if (slot->handle != h) continue;
    FileClose(e->ctx, h);
    FileDelete(e->ctx, slot->path);
    slot->handle = 0;
    slot->path[0] = 0;
    if (e->tempCount) e->tempCount--;
    if (e->file == h) e->file = 0;
    if (e->second == h) e->second = 0;
    return;
  }
}

void CloseAllTempFiles(ScanEngine* e) {
  if (e->tempCount == 0) return;  // every open slot is counted
  for (uint32_t i = 0; i < kMaxTempFiles; i++) {
    TempSlot* slot = &e->temps[i];
    if (!slot->handle) continue;
    FileClose(e->ctx, slot->handle);
    FileDelete(e->ctx, slot->path);
    if (e->file == slot->handle) e->file = 0;
    if (e->second == slot->handle) e->second = 0;
    slot->handle = 0;
    slot->path[0] = 0;
  }
  e->tempCount = 0;
}

int CopyFileContent(ScanEngine* e, HANDLE source, HANDLE destination) {
  if (source == destination) return 1;
  if (!ValidHandle(source) || !ValidHandle(destination)) return 0;
  uint32_t chunk = FileSize(e->ctx, source);
  if (chunk == kInvalid32 || chunk > 0x200000) chunk = 0x200000;
  if (chunk == 0) chunk = 1;
  uint8_t* buffer = (uint8_t*)MemAlloc(e->ctx, chunk);
  if (!buffer) return 0;
  uint32_t remembered = Position(e, source);
  FileSeek(e->ctx, source, 0, 0);
  FileSeek(e->ctx, destination, 0, 0);
  int ok = 1;
  for (;;) {
    uint32_t got = FileRead(e->ctx, source, buffer, chunk);
    if (got == 0 || got == kInvalid32) break;
    if (FileWrite(e->ctx, destination, buffer, got) != got) {
      ok = 0;
      break;
    }
  }
  MemFree(e->ctx, buffer);
  FileSeek(e->ctx, destination, 0, 0);
  FileSeek(e->ctx, source, (int32_t)remembered, 0);
  return ok;
}

// Routine blocks come from the library's own heap and go back there.
void FreeTrackedBlocks(ScanEngine* e) {
  for (uint32_t i = 0; i < e->trackedCount; i++)
    if (e->tracked[i]) FreeRoutineBlock(e->library, e->tracked[i]);
  e->trackedCount = 0;
}
