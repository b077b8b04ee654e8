// One scan pass over the current file (or an unpacked layer): the digest
// lists, then unit by unit the MultiCheckTable, the ChecksumTable and the
// packers; and what happens after a detection (HandleDetection).
#include <string.h>

#include "common/crc32.h"
#include "common/md5.h"
#include "platform/guard/guard.h"
#include "scanner/engine/engine_internal.h"
#include "scanner/session/console.h"

uint32_t CallRoutine(ScanEngine* e, uint32_t slot, int which) {
  uint32_t entry = RoutineEntry(e->library, slot, which);
  if (!entry) return kAnswerUndecided;
  return TwCallRoutine(entry, e->cqel);
}

uint32_t CallSpecial(ScanEngine* e, SpecialEntry entry) {
  uint32_t address = SpecialEntryAddress(e->library, entry);
  if (!address) return kAnswerUndecided;
  return TwCallRoutine(address, e->cqel);
}

// ---- digest lists -------------------------------------------------------

int BuildUserDigestIndex(ScanEngine* e) {
  uint32_t n = e->tables.userCount;
  e->userCount = 0;
  if (n == 0 || !e->tables.userDigests) return 1;
  if (n > 0x4000000 / 30) return 0;
  UserDigestRef* refs = (UserDigestRef*)MemAlloc(e->ctx, n * (uint32_t)sizeof(UserDigestRef));
  if (!refs) return 0;
  for (uint32_t i = 0; i < n; i++) {
    refs[i].size = Read32(e->tables.userDigests + 30 * i + 10);
    refs[i].index = i;
  }
  // Insertion into sorted order by (size, index) via a bottom-up merge sort
  // would need a second array; a shell sort keeps it in place.
  uint32_t gap = 1;
  while (gap < n / 3) gap = gap * 3 + 1;
  for (; gap > 0; gap /= 3) {
    for (uint32_t i = gap; i < n; i++) {
      UserDigestRef v = refs[i];
      uint32_t j = i;
      while (j >= gap && (refs[j - gap].size > v.size ||
                          (refs[j - gap].size == v.size && refs[j - gap].index > v.index))) {
        refs[j] = refs[j - gap];
        j -= gap;
      }
      refs[j] = v;
    }
  }
  e->userBySize = refs;
  e->userCount = n;
  return 1;
}

// MD5 of the whole current file, once per pass.
static int PassDigest(ScanEngine* e, PassFrame* f) {
  if (f->digestDone) return f->digestOk;
  f->digestDone = 1;
  f->digestOk = 0;
  uint32_t size = e->cqel->size;
  uint8_t* buffer = e->work;
  if (size >= kWorkBufferSize) {
    buffer = (uint8_t*)MemAlloc(e->ctx, size + 256);
    if (!buffer) return 0;
  }
  FileSeek(e->ctx, e->file, 0, 0);
  uint32_t got = FileRead(e->ctx, e->file, buffer, size);
  if (got != kInvalid32) {
    // A short read digests what is there; it will not equal a full sample.
    Md5Digest(buffer, got, f->digest);
    memcpy(e->lastDigest, f->digest, 16);
    f->digestOk = got == size;
  }
  FileSeek(e->ctx, e->file, 0, 0);
  if (buffer != e->work) MemFree(e->ctx, buffer);
  return f->digestOk;
}

static uint32_t UserDigestCheck(ScanEngine* e, PassFrame* f, uint32_t* index) {
  uint32_t size = e->cqel->size;
  uint32_t lo = 0, hi = e->userCount;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    if (e->userBySize[mid].size < size)
      lo = mid + 1;
    else
      hi = mid;
  }
  for (uint32_t i = lo; i < e->userCount && e->userBySize[i].size == size; i++) {
    if (!PassDigest(e, f)) return kPassNone;
    const uint8_t* entry = e->tables.userDigests + 30 * e->userBySize[i].index;
    if (memcmp(entry + 14, f->digest, 16) == 0) {
      *index = e->userBySize[i].index;
      return kPassDetected;
    }
  }
  return kPassNone;
}

static uint32_t HeuristicCheck(ScanEngine* e, PassFrame* f, uint32_t* index) {
  uint32_t count = e->cqel->heuristicCount;
  if (count > 128) count = 128;
  for (uint32_t i = 0; i < count; i++) {
    const CqelDigestEntry* entry = &e->cqel->heuristic[i];
    if (entry->size != e->cqel->size) continue;
    if (!PassDigest(e, f)) return kPassNone;
    if (memcmp(entry->md5, f->digest, 16) == 0) {
      *index = i;
      return kPassDetected;
    }
  }
  return kPassNone;
}

// ---- signature tables ---------------------------------------------------

static int ChecksEqual(ScanEngine* e, const uint8_t* record) {
  uint32_t n = record[1];
  const uint8_t* window = e->cqel->unitWindow;
  for (uint32_t c = 0; c < n; c++) {
    const uint8_t* check = record + 2 + 7 * c;
    // offset <= 65535 and length <= 255 stay inside the CQEL object.
    uint32_t crc = Crc32(window + Read16(check), check[2]);
    if (crc != Read32(check + 3)) return 0;
  }
  return 1;
}

static uint32_t RecordRoutine(const uint8_t* record) { return Read32(record + 13 + 7 * (uint32_t)record[1]); }

static uint32_t MultiCheckMatch(ScanEngine* e) {
  e->matchedRecord = 0;
  const RecordList* list = &e->multiRecords;
  uint8_t type = e->cqel->unitType;
  for (uint32_t k = list->typeStart[type]; k < list->typeStart[type + 1]; k++) {
    const uint8_t* record = e->tables.multi + list->offsets[k];
    uint32_t routine = RecordRoutine(record);
    int matched = 0;
    if (record[4] == 0 && routine != 0xFFFFFFFFu) {
      uint32_t r = CallRoutine(e, routine, 0);
      if (r == kAnswerPresent)
        matched = 1;
      else if (r != kAnswerUndecided)
        continue;
    }
    if (!matched) {
      if (record[1] == 0 || !ChecksEqual(e, record)) continue;
      if (routine != 0xFFFFFFFFu && CallRoutine(e, routine, 0) != kAnswerPresent) continue;
    }
    e->matchedRecord = record;
    e->matchedIndex = list->indexes[k];
    e->record->virusesFound++;
    return kPassDetected;
  }
  return kPassNone;
}

uint32_t PackerMatch(ScanEngine* e) {
  e->packerRecord = 0;
  const RecordList* list = &e->packerRecords;
  uint8_t type = e->cqel->unitType;
  for (uint32_t k = list->typeStart[type]; k < list->typeStart[type + 1]; k++) {
    const uint8_t* record = e->tables.packer + list->offsets[k];
    uint32_t routine = RecordRoutine(record);
    int matched = 0;
    if (record[4] == 0 && routine != 0xFFFFFFFFu) {
      if (CallRoutine(e, routine, 0) != kAnswerPacker) continue;
      matched = 1;
    }
    if (!matched) {
      if (record[1] == 0 || !ChecksEqual(e, record)) continue;
      if (routine == 0xFFFFFFFFu || CallRoutine(e, routine, 0) != kAnswerPacker) continue;
    }
    e->packerRecord = record;
    e->matchedIndex = list->indexes[k];
    return kAnswerPacker;
  }
  return kPassNone;
}

static uint32_t ChecksumMatch(ScanEngine* e) {
  uint32_t index = MatchChecksumIndex(&e->checksumIndex, e->cqel->unitType, e->cqel->unitWindow);
  if (index == 0xFFFFFFFFu) return kPassNone;
  e->matchedIndex = index;
  e->record->virusesFound++;
  return kPassDetected;
}

// ---- after a detection --------------------------------------------------

static void NameDetection(ScanEngine* e, uint32_t kind, uint32_t index) {
  e->kind = kind;
  e->matchedIndex = index;
  if (e->verifying) return;  // a repaired file's check keeps the first name
  char name[256];
  LookupVirusName(e->library, kind, index, name);
  name[255] = 0;
  if (!name[0]) TextCopy(name, sizeof(name), "Virus.Unknown");
  TextCopy(e->record->virusName, sizeof(e->record->virusName), name);
  PrintAnsi(e->ctx, e->record->virusName);
}

// Puts back what a repair changed when its routine did not return.
static void EndRepair(ScanEngine* e, PassFrame* f) {
  if (!f->repairing) return;
  f->repairing = 0;
  if (f->timesOk && ValidHandle(e->file)) FileSetTimes(e->ctx, e->file, &f->times[0], &f->times[1], &f->times[2]);
  if (f->savedAttributes != kInvalid32) FileSetAttributes(e->ctx, e->record->path, f->savedAttributes);
}

static uint32_t HandleDetection(ScanEngine* e, PassFrame* f) {
  ScanRecord* rec = e->record;
  if (rec->options & kOptionDelete) return kPassDeleteRequested;
  // A detection inside an unpacked layer (a nested pass) is not repaired: the
  // layer is not the file. The layer counter alone would also refuse the
  // repair of a detection in the file itself made after a clean layer, and
  // delete a file its routine could have repaired.
  if (f->outer != 0 || !(rec->options & kOptionRepair) || !e->matchedRecord) return kPassDetected;

  f->timesOk = FileGetTimes(e->ctx, e->file, &f->times[0], &f->times[1], &f->times[2]);
  FileClose(e->ctx, e->file);
  e->file = 0;
  if (!e->backedUpThisFile) e->backedUpThisFile = WriteQuarantineRecord(e, rec->path);
  // A repair changes the file in place: with a store at hand it waits for
  // the backup. Without one the caller decides on the file.
  if (!e->backedUpThisFile && e->backupAvailable) return kPassDetected;
  f->savedAttributes = FileGetAttributes(e->ctx, rec->path);
  FileSetAttributes(e->ctx, rec->path, 0x80);
  HANDLE h = FileOpen(e->ctx, rec->path, kAccessRead | kAccessWrite, kOpenExisting);
  if (!ValidHandle(h)) {
    // The file keeps its content; its attributes come back too.
    if (f->savedAttributes != kInvalid32) FileSetAttributes(e->ctx, rec->path, f->savedAttributes);
    return kPassReopenFailed;
  }
  e->file = h;
  f->repairing = 1;
  const uint8_t* record = e->matchedRecord;
  uint32_t routine = RecordRoutine(record);
  uint32_t r = routine != 0xFFFFFFFFu ? CallRoutine(e, routine, 1) : kAnswerUndecided;
  if (r == kAnswerUndecided || r == kAnswerGeneric) {
    e->cqel->matchedTail = (cqel_u32)(uintptr_t)(record + 2 + 7 * (uint32_t)record[1]);
    r = CallSpecial(e, kGenericRepair);
  }
  EndRepair(e, f);
  if (r == kAnswerRepaired) {
    rec->virusesCleaned++;
    rec->result = kResultCleaned;
    return kAnswerRepaired;
  }
  // 2 and 3 ask for the deletion of the (already backed up) file; any other
  // answer is a repair that did not happen.
  if (r == kPassDetected || r == kPassDeleteRequested) return r;
  return kPassRepairFailed;
}

static uint32_t Detected(ScanEngine* e, PassFrame* f, uint32_t kind, uint32_t index) {
  NameDetection(e, kind, index);
  f->answer = kPassDetected;
  return HandleDetection(e, f);
}

// ---- the pass -----------------------------------------------------------

static void PassBody(void* arg) {
  PassFrame* f = (PassFrame*)arg;
  ScanEngine* e = f->engine;
  uint32_t index = 0;
  if (UserDigestCheck(e, f, &index) == kPassDetected) {
    e->record->virusesFound++;
    e->matchedRecord = 0;
    f->answer = Detected(e, f, kKindUser, index);
    return;
  }
  if (HeuristicCheck(e, f, &index) == kPassDetected) {
    e->record->virusesFound++;
    e->matchedRecord = 0;
    f->answer = Detected(e, f, kKindHeuristic, index);
    return;
  }
  if (e->record->sweepRunning == 1) return;
  if (!SpecialEntryAddress(e->library, kStartHook1)) return;
  uint32_t nextUnit = SpecialEntryAddress(e->library, kNextUnit);
  if (!nextUnit) return;
  for (;;) {
    f->answer = kPassNone;
    if (TwCallRoutine(nextUnit, e->cqel) == 0) return;
    e->cqel->unitTypeCopy = e->cqel->unitType;
    if (MultiCheckMatch(e) == kPassDetected) {
      f->answer = Detected(e, f, kKindMulti, e->matchedIndex);
      return;
    }
    if (ChecksumMatch(e) == kPassDetected) {
      e->matchedRecord = 0;
      f->answer = Detected(e, f, kKindChecksum, e->matchedIndex);
      return;
    }
    uint32_t r = UnpackLayers(e, f);
    if (r != 0) {
      f->unpackAnswer = r;
      f->answer = r;
      return;
    }
  }
}

uint32_t ScanPass(ScanEngine* e) {
  CQEL* q = e->cqel;
  if (q->size < kMinScanSize || q->size > kMaxScanSize) return kPassNone;
  q->passFlag5 = 0;
  q->passFlag8 = 0;
  PassFrame f;
  memset(&f, 0, sizeof(f));
  f.engine = e;
  f.outer = e->pass;
  f.serial = ++e->passSerial ? e->passSerial : ++e->passSerial;  // 0 stays "no pass"
  f.handleDepth = e->handleDepth;
  f.sizeDepth = e->sizeDepth;
  f.size = q->size;
  f.savedAttributes = kInvalid32;
  e->pass = &f;
  if (!TwGuardedRun(PassBody, &f)) {
    // A fault ended the pass: put back the handles of any unpacking it was
    // in (closing its temporary files) and what a repair had changed.
    RestoreHandles(e, f.handleDepth);
    CloseRoutineHandles(e, f.serial);
    e->sizeDepth = f.sizeDepth;
    q->size = f.size;
    if (f.repairing) {
      EndRepair(e, &f);
      f.answer = kPassRepairFailed;
    }
  }
  e->pass = f.outer;
  return f.unpackAnswer ? f.unpackAnswer : f.answer;
}
