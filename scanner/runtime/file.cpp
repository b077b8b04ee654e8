// Files addressed by drive-letter paths: open, position, read and write,
// size, end of file, delete, times.
#include "scanner/runtime/internal.h"

namespace {

const ACCESS_MASK kReadRights = 0x120089;   // specific rights of generic read
const ACCESS_MASK kWriteRights = 0x120116;  // specific rights of generic write
const int64_t k4GiB = (int64_t)1 << 32;

ULONG NativeDisposition(uint32_t disposition) {
  switch (disposition) {
    case kCreateNew: return FILE_CREATE;
    case kCreateAlways: return FILE_OVERWRITE_IF;
    case kOpenExisting: return FILE_OPEN;
    case kOpenAlways: return FILE_OPEN_IF;
    case kTruncateExisting: return FILE_OVERWRITE;
    default: return disposition;
  }
}

bool QueryBasic(HANDLE h, FILE_BASIC_INFORMATION* info) {
  IO_STATUS_BLOCK iosb;
  memset(info, 0, sizeof(*info));
  return NT_SUCCESS(NtQueryInformationFile(h, &iosb, info, sizeof(*info), FileBasicInformation));
}

// Makes `position` the end of the file: end-of-file, then allocation size.
int SetEndAt(HANDLE h, int64_t position) {
  IO_STATUS_BLOCK iosb;
  FILE_END_OF_FILE_INFORMATION eof;
  eof.EndOfFile.QuadPart = position;
  if (!NT_SUCCESS(NtSetInformationFile(h, &iosb, &eof, sizeof(eof), FileEndOfFileInformation))) return 0;
  FILE_ALLOCATION_INFORMATION alloc;
  alloc.AllocationSize.QuadPart = position;
  return NT_SUCCESS(NtSetInformationFile(h, &iosb, &alloc, sizeof(alloc), FileAllocationInformation)) ? 1 : 0;
}

// The position `offset` bytes from `origin`, or false when it is not a
// valid 32-bit file position.
bool SeekTarget(HANDLE h, int32_t offset, uint32_t origin, int64_t* target) {
  int64_t base;
  switch (origin) {
    case 0: base = 0; break;
    case 1:
      if (!rt::QueryPosition(h, &base)) return false;
      break;
    case 2:
      if (!rt::QueryEndOfFile(h, &base)) return false;
      break;
    default: return false;
  }
  // Bound the base first so the sum cannot overflow; a base this far out can
  // never give a position below 4 GiB with a 32-bit offset.
  if (base < 0 || base >= 2 * k4GiB) return false;
  int64_t t = base + (int64_t)offset;
  if (t < 0 || t >= k4GiB) return false;
  *target = t;
  return true;
}

}  // namespace

namespace rt {

bool QueryPosition(HANDLE h, int64_t* position) {
  IO_STATUS_BLOCK iosb;
  FILE_POSITION_INFORMATION info;
  memset(&info, 0, sizeof(info));
  if (!NT_SUCCESS(NtQueryInformationFile(h, &iosb, &info, sizeof(info), FilePositionInformation))) return false;
  *position = info.CurrentByteOffset.QuadPart;
  return true;
}

bool QueryEndOfFile(HANDLE h, int64_t* endOfFile) {
  IO_STATUS_BLOCK iosb;
  FILE_STANDARD_INFORMATION info;
  memset(&info, 0, sizeof(info));
  if (!NT_SUCCESS(NtQueryInformationFile(h, &iosb, &info, sizeof(info), FileStandardInformation))) return false;
  *endOfFile = info.EndOfFile.QuadPart;
  return true;
}

bool SetPosition(HANDLE h, int64_t position) {
  IO_STATUS_BLOCK iosb;
  FILE_POSITION_INFORMATION info;
  info.CurrentByteOffset.QuadPart = position;
  return NT_SUCCESS(NtSetInformationFile(h, &iosb, &info, sizeof(info), FilePositionInformation));
}

}  // namespace rt

HANDLE FileOpen(RuntimeContext* ctx, const char* path, uint32_t access, uint32_t disposition) {
  UNICODE_STRING nt;
  if (!rt::AnsiPathToNtAlloc(path, &nt)) return 0;
  ACCESS_MASK rights = access;
  if (access & kAccessRead) rights |= kReadRights;
  if (access & kAccessWrite) rights |= kWriteRights;
  OBJECT_ATTRIBUTES oa;
  rt::InitAttributes(&oa, &nt, OBJ_CASE_INSENSITIVE, nullptr);
  IO_STATUS_BLOCK iosb;
  HANDLE h = 0;
  NTSTATUS s = NtCreateFile(&h, rights, &oa, &iosb, nullptr, 0, 0, NativeDisposition(disposition),
                            FILE_SYNCHRONOUS_IO_ALERT, nullptr, 0);
  RtlFreeUnicodeString(&nt);
  return NT_SUCCESS(s) ? h : 0;
}

uint32_t FileSeek(RuntimeContext* ctx, HANDLE h, int32_t offset, uint32_t origin) {
  int64_t target;
  if (!SeekTarget(h, offset, origin, &target)) return kInvalid32;
  if (!rt::SetPosition(h, target)) return kInvalid32;
  return (uint32_t)target;
}

uint32_t FileRead(RuntimeContext* ctx, HANDLE h, void* buffer, uint32_t count) {
  IO_STATUS_BLOCK iosb;
  memset(&iosb, 0, sizeof(iosb));
  NTSTATUS s = NtReadFile(h, nullptr, nullptr, nullptr, &iosb, buffer, count, nullptr, nullptr);
  if (!NT_SUCCESS(s)) return 0;
  return iosb.Information <= count ? (uint32_t)iosb.Information : count;
}

uint32_t FileWrite(RuntimeContext* ctx, HANDLE h, const void* buffer, uint32_t count) {
  IO_STATUS_BLOCK iosb;
  memset(&iosb, 0, sizeof(iosb));
  NTSTATUS s = NtWriteFile(h, nullptr, nullptr, nullptr, &iosb, buffer, count, nullptr, nullptr);
  if (!NT_SUCCESS(s)) return 0;
  return iosb.Information <= count ? (uint32_t)iosb.Information : count;
}

void FileClose(RuntimeContext* ctx, HANDLE h) { NtClose(h); }

uint32_t FileSize(RuntimeContext* ctx, HANDLE h) {
  int64_t eof;
  if (!rt::QueryEndOfFile(h, &eof)) return kInvalid32;
  // A file of 4 GiB or more has no 32-bit size; its low half would be a
  // plainly wrong size, so it reports the "size unknown" value.
  if (eof < 0 || eof >= k4GiB) return kInvalid32;
  return (uint32_t)eof;
}

int FileSetEnd(RuntimeContext* ctx, HANDLE h) {
  int64_t position;
  if (!rt::QueryPosition(h, &position)) return 0;
  return SetEndAt(h, position);
}

int FileTruncate(RuntimeContext* ctx, HANDLE h, int32_t count) {
  // A move that fails must not cut the file at whatever position it had.
  if (FileSeek(ctx, h, count, 1) == kInvalid32) return 0;
  return FileSetEnd(ctx, h);
}

int FileDelete(RuntimeContext* ctx, const char* path) {
  UNICODE_STRING nt;
  if (!rt::AnsiPathToNtAlloc(path, &nt)) return 0;
  OBJECT_ATTRIBUTES oa;
  rt::InitAttributes(&oa, &nt, OBJ_CASE_INSENSITIVE | OBJ_INHERIT, nullptr);
  IO_STATUS_BLOCK iosb;
  HANDLE h = 0;
  NTSTATUS s = NtOpenFile(&h, DELETE, &oa, &iosb, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          FILE_NON_DIRECTORY_FILE);
  RtlFreeUnicodeString(&nt);
  if (!NT_SUCCESS(s)) return 0;
  FILE_DISPOSITION_INFORMATION disposition;
  disposition.DeleteFile = 1;
  s = NtSetInformationFile(h, &iosb, &disposition, sizeof(disposition), FileDispositionInformation);
  NtClose(h);
  return NT_SUCCESS(s) ? 1 : 0;
}

int FileGetTimes(RuntimeContext* ctx, HANDLE h, int64_t* creation, int64_t* lastAccess, int64_t* lastWrite) {
  FILE_BASIC_INFORMATION info;
  if (!QueryBasic(h, &info)) return 0;
  if (creation) *creation = info.CreationTime.QuadPart;
  if (lastAccess) *lastAccess = info.LastAccessTime.QuadPart;
  if (lastWrite) *lastWrite = info.LastWriteTime.QuadPart;
  return 1;
}

int FileSetTimes(RuntimeContext* ctx, HANDLE h, const int64_t* creation, const int64_t* lastAccess,
                 const int64_t* lastWrite) {
  // Zero fields (times and attributes) are left unchanged by the system.
  FILE_BASIC_INFORMATION info;
  memset(&info, 0, sizeof(info));
  if (creation) info.CreationTime.QuadPart = *creation;
  if (lastAccess) info.LastAccessTime.QuadPart = *lastAccess;
  if (lastWrite) info.LastWriteTime.QuadPart = *lastWrite;
  IO_STATUS_BLOCK iosb;
  return NT_SUCCESS(NtSetInformationFile(h, &iosb, &info, sizeof(info), FileBasicInformation)) ? 1 : 0;
}
