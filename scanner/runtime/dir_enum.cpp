// Directory enumeration in the Win32 first/next/close manner, over the
// native directory query. One handle holds one 16 KiB batch of native
// both-directory records and hands them out one at a time:
//
//   batch: [rec0][rec1]...[recN]   each record:
//     +0  next-entry offset (0 = last of the batch)   +56 attributes
//     +8  creation, last access, last write, change    +60 name length (bytes)
//     +40 end of file   +48 allocation size            +68 short name length
//     +70 short name (12 units)                        +94 name (name length bytes)
#include <stddef.h>

#include "scanner/runtime/internal.h"

namespace {

const uint32_t kBatchSize = 16384;
const uint32_t kRecordHeader = offsetof(FILE_BOTH_DIR_INFORMATION, FileName);
const ACCESS_MASK kListRights = SYNCHRONIZE | FILE_LIST_DIRECTORY;
FindHandle const kDeviceHandle = (FindHandle)(intptr_t)1;

struct FindObject {
  uint32_t kind;  // 0: directory enumeration
  HANDLE dir;
  RTL_CRITICAL_SECTION lock;  // guards the fields below during a fetch
  uint32_t cursor;            // offset of the current record in the batch
  uint8_t directoriesOnly;    // never set in this program
  uint8_t more;               // the directory may hold further entries
  uint8_t batchPresent;
  uint8_t lockReady;
  uint8_t ansi;        // records are handed out in the ANSI form
  uint32_t batchEnd;   // bytes of the batch the last query filled
  alignas(8) uint8_t batch[kBatchSize];
};

uint32_t Read32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

int64_t Read64(const uint8_t* p) {
  int64_t v;
  memcpy(&v, p, 8);
  return v;
}

// A record lies wholly inside the filled part of the batch.
bool RecordFits(const FindObject* f, uint32_t off) {
  if (off > f->batchEnd || f->batchEnd - off < kRecordHeader) return false;
  uint32_t nameBytes = Read32(f->batch + off + offsetof(FILE_BOTH_DIR_INFORMATION, FileNameLength));
  return nameBytes <= f->batchEnd - off - kRecordHeader;
}

// The next record of the enumeration, reading a new batch when the current
// one is used up. `pattern` and a restart go with the first query only.
bool FetchRecord(FindObject* f, UNICODE_STRING* pattern, bool first, uint32_t* record) {
  for (;;) {
    if (f->batchPresent) {
      uint32_t off = f->cursor;
      if (!RecordFits(f, off)) {
        f->batchPresent = 0;
        continue;
      }
      uint32_t next = Read32(f->batch + off);
      if (next == 0 || next > f->batchEnd - off || !RecordFits(f, off + next)) {
        f->batchPresent = 0;
      } else {
        f->cursor = off + next;
      }
      *record = off;
      return true;
    }
    if (!f->more) return false;
    IO_STATUS_BLOCK iosb;
    memset(&iosb, 0, sizeof(iosb));
    NTSTATUS s = NtQueryDirectoryFile(f->dir, nullptr, nullptr, nullptr, &iosb, f->batch, kBatchSize,
                                      FileBothDirectoryInformation, 0, first ? pattern : nullptr, first ? 1 : 0);
    first = false;
    // A buffer overflow still delivered entries, and more are to come.
    if (!NT_SUCCESS(s) && s != STATUS_BUFFER_OVERFLOW) {
      f->more = 0;
      return false;
    }
    f->batchEnd = iosb.Information < kBatchSize ? (uint32_t)iosb.Information : kBatchSize;
    if (f->batchEnd < kRecordHeader) {
      f->more = 0;
      return false;
    }
    f->batchPresent = 1;
    f->cursor = 0;
  }
}

// Copies `bytes` of a UTF-16 name into an aligned, terminated buffer of
// `cap` units, shortening it to cap - 1 units.
uint32_t TakeName(WCHAR* dst, uint32_t cap, const uint8_t* src, uint32_t bytes) {
  uint32_t units = bytes / 2;
  if (units > cap - 1) units = cap - 1;
  memcpy(dst, src, units * 2);
  dst[units] = 0;
  return units;
}

void NameToAnsi(char* dst, uint32_t cap, const WCHAR* src, uint32_t units) {
  ULONG n = 0;
  if (!NT_SUCCESS(RtlUnicodeToMultiByteN(dst, cap - 1, &n, src, units * 2)) || n > cap - 1) n = 0;
  dst[n] = 0;
}

template <typename Record>
void FillTimes(Record* out, const uint8_t* rec) {
  out->attributes = Read32(rec + offsetof(FILE_BOTH_DIR_INFORMATION, FileAttributes));
  out->creationTime = Read64(rec + offsetof(FILE_BOTH_DIR_INFORMATION, CreationTime));
  out->lastAccessTime = Read64(rec + offsetof(FILE_BOTH_DIR_INFORMATION, LastAccessTime));
  out->lastWriteTime = Read64(rec + offsetof(FILE_BOTH_DIR_INFORMATION, LastWriteTime));
  uint64_t size = (uint64_t)Read64(rec + offsetof(FILE_BOTH_DIR_INFORMATION, EndOfFile));
  out->sizeHigh = (uint32_t)(size >> 32);
  out->sizeLow = (uint32_t)size;
}

void CopyRecord(const FindObject* f, uint32_t off, void* out) {
  const uint8_t* rec = f->batch + off;
  uint32_t nameBytes = Read32(rec + offsetof(FILE_BOTH_DIR_INFORMATION, FileNameLength));
  uint32_t shortBytes = (uint8_t)rec[offsetof(FILE_BOTH_DIR_INFORMATION, ShortNameLength)];
  if (shortBytes > sizeof(((FILE_BOTH_DIR_INFORMATION*)nullptr)->ShortName)) shortBytes = 24;
  const uint8_t* name = rec + kRecordHeader;
  const uint8_t* shortName = rec + offsetof(FILE_BOTH_DIR_INFORMATION, ShortName);
  if (!f->ansi) {
    FindDataW* w = (FindDataW*)out;
    FillTimes(w, rec);
    TakeName(w->name, 260, name, nameBytes);
    TakeName(w->shortName, 14, shortName, shortBytes);
  } else {
    FindDataA* a = (FindDataA*)out;
    FillTimes(a, rec);
    WCHAR wide[260];
    uint32_t units = TakeName(wide, 260, name, nameBytes);
    NameToAnsi(a->name, 260, wide, units);
    units = TakeName(wide, 14, shortName, shortBytes);
    NameToAnsi(a->shortName, 14, wide, units);
  }
}

// The entry of a DOS device name such as "NUL": its name, archive attribute.
FindHandle DeviceRecord(const WCHAR* path, bool ansi, void* out) {
  ULONG device = RtlIsDosDeviceName_U(path);
  if (device == 0) return RT_INVALID_HANDLE;
  uint32_t offset = device >> 16, bytes = device & 0xFFFF;
  uint32_t pathBytes = TextLenW(path) * 2;
  if (offset > pathBytes || bytes > pathBytes - offset) return RT_INVALID_HANDLE;
  WCHAR name[260];
  uint32_t units = TakeName(name, 260, (const uint8_t*)path + offset, bytes);
  if (!ansi) {
    FindDataW* w = (FindDataW*)out;
    memset(w, 0, sizeof(*w));
    w->attributes = FILE_ATTRIBUTE_ARCHIVE;
    memcpy(w->name, name, (units + 1) * 2);
  } else {
    FindDataA* a = (FindDataA*)out;
    memset(a, 0, sizeof(*a));
    a->attributes = FILE_ATTRIBUTE_ARCHIVE;
    NameToAnsi(a->name, 260, name, units);
  }
  return kDeviceHandle;
}

FindHandle FindFirst(RuntimeContext* ctx, const WCHAR* searchPath, bool ansi, void* out) {
  UNICODE_STRING nt;
  if (!rt::DosToNtPath(searchPath, &nt)) return RT_INVALID_HANDLE;
  uint32_t units = nt.Length / 2, slash = units;
  for (uint32_t i = 0; i < units; ++i)
    if (nt.Buffer[i] == u'\\') slash = i;
  if (slash == units) {
    RtlFreeUnicodeString(&nt);
    return RT_INVALID_HANDLE;
  }
  UNICODE_STRING dirName = {(USHORT)((slash + 1) * 2), (USHORT)((slash + 1) * 2), nt.Buffer};
  UNICODE_STRING pattern = {(USHORT)((units - slash - 1) * 2), (USHORT)((units - slash - 1) * 2),
                            nt.Buffer + slash + 1};
  static const WCHAR kStar[] = u"*";
  if (pattern.Length == 6 && pattern.Buffer[0] == u'*' && pattern.Buffer[1] == u'.' && pattern.Buffer[2] == u'*') {
    pattern.Buffer = const_cast<WCHAR*>(kStar);
    pattern.Length = 2;
    pattern.MaximumLength = 4;
  }

  OBJECT_ATTRIBUTES oa;
  rt::InitAttributes(&oa, &dirName, OBJ_CASE_INSENSITIVE, nullptr);
  IO_STATUS_BLOCK iosb;
  HANDLE dir = 0;
  NTSTATUS s = NtOpenFile(&dir, kListRights, &oa, &iosb, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT);
  if (!NT_SUCCESS(s)) {
    RtlFreeUnicodeString(&nt);
    return DeviceRecord(searchPath, ansi, out);
  }
  FindObject* f = nullptr;
  uint32_t record = 0;
  bool ok = pattern.Length != 0;
  if (ok) {
    f = (FindObject*)MemAlloc0(ctx, sizeof(FindObject));
    ok = f != nullptr;
  }
  if (ok) {
    f->kind = 0;
    f->dir = dir;
    f->more = 1;
    f->cursor = 0;
    f->ansi = ansi ? 1 : 0;
    ok = FetchRecord(f, &pattern, true, &record);
  }
  RtlFreeUnicodeString(&nt);
  if (ok) {
    CopyRecord(f, record, out);
    ok = NT_SUCCESS(RtlInitializeCriticalSection(&f->lock));
  }
  if (!ok) {
    NtClose(dir);
    MemFree(ctx, f);
    return RT_INVALID_HANDLE;
  }
  f->lockReady = 1;
  return f;
}

}  // namespace

FindHandle DirFindFirst(RuntimeContext* ctx, const WCHAR* searchPath, FindDataW* out) {
  return FindFirst(ctx, searchPath, false, out);
}

FindHandle DirFindFirstAnsi(RuntimeContext* ctx, const char* searchPath, FindDataA* out) {
  UNICODE_STRING wide;
  if (!rt::AnsiToUnicodeAlloc(searchPath, &wide)) return RT_INVALID_HANDLE;
  FindHandle h = FindFirst(ctx, wide.Buffer, true, out);
  RtlFreeUnicodeString(&wide);
  return h;
}

int DirFindNext(RuntimeContext* ctx, FindHandle h, void* out) {
  if (h == kDeviceHandle || h == nullptr || h == RT_INVALID_HANDLE) return 0;
  FindObject* f = (FindObject*)h;
  if (f->kind != 0) return 0;
  bool locked = f->lockReady != 0;
  if (locked) RtlEnterCriticalSection(&f->lock);
  uint32_t record = 0;
  bool found = FetchRecord(f, nullptr, false, &record);
  if (found) CopyRecord(f, record, out);
  if (locked) RtlLeaveCriticalSection(&f->lock);
  return found ? 1 : 0;
}

int DirFindClose(RuntimeContext* ctx, FindHandle h) {
  if (h == nullptr || h == RT_INVALID_HANDLE) return 0;
  if (h == kDeviceHandle) return 1;
  FindObject* f = (FindObject*)h;
  if (f->kind != 0) return 0;
  NtClose(f->dir);
  if (f->lockReady) RtlDeleteCriticalSection(&f->lock);
  MemFree(ctx, f);
  return 1;
}

int IsDirectory(RuntimeContext* ctx, const char* path) {
  FindDataA entry;
  FindHandle h = DirFindFirstAnsi(ctx, path, &entry);
  if (h == RT_INVALID_HANDLE) return 0;
  int result = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
  DirFindClose(ctx, h);
  return result;
}
