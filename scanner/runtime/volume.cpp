// Directory creation and the free space of a volume.
#include "scanner/runtime/internal.h"

namespace {

// Cluster counts beyond 32 bits saturate instead of wrapping, so a huge
// volume never looks nearly full.
uint32_t Clamp32(int64_t v) {
  if (v < 0) return 0;
  return v > (int64_t)0xFFFFFFFF ? 0xFFFFFFFFu : (uint32_t)v;
}

}  // namespace

int DirCreate(RuntimeContext* ctx, const char* path) {
  UNICODE_STRING nt;
  if (!rt::AnsiPathToNtFixed(path, &nt)) return 0;
  OBJECT_ATTRIBUTES oa;
  rt::InitAttributes(&oa, &nt, OBJ_CASE_INSENSITIVE, nullptr);
  IO_STATUS_BLOCK iosb;
  HANDLE h = 0;
  NTSTATUS s = NtCreateFile(&h, SYNCHRONIZE | FILE_LIST_DIRECTORY, &oa, &iosb, nullptr, FILE_ATTRIBUTE_NORMAL,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                            FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT,
                            nullptr, 0);
  RtlFreeUnicodeString(&nt);
  if (!NT_SUCCESS(s)) return 0;
  NtClose(h);
  return 1;
}

int DiskFreeSpace(RuntimeContext* ctx, const char* root, uint32_t* sectorsPerCluster, uint32_t* bytesPerSector,
                  uint32_t* freeClusters, uint32_t* totalClusters) {
  WCHAR wide[rt::kFixedPathChars + 1];
  if (root == nullptr) {
    // A rooted path without a drive names the root of the current drive.
    wide[0] = u'\\';
    wide[1] = 0;
  } else {
    if (!rt::AnsiToUnicodeFixed(root, wide)) return 0;
    wide[3 < TextLenW(wide) ? 3 : TextLenW(wide)] = 0;  // "C:\" of "C:\anything"
  }
  UNICODE_STRING nt;
  if (!rt::DosToNtPath(wide, &nt)) return 0;
  OBJECT_ATTRIBUTES oa;
  rt::InitAttributes(&oa, &nt, OBJ_CASE_INSENSITIVE, nullptr);
  IO_STATUS_BLOCK iosb;
  HANDLE h = 0;
  NTSTATUS s = NtOpenFile(&h, SYNCHRONIZE | FILE_READ_DATA, &oa, &iosb, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT);
  RtlFreeUnicodeString(&nt);
  if (!NT_SUCCESS(s)) return 0;
  FILE_FS_SIZE_INFORMATION info;
  memset(&info, 0, sizeof(info));
  s = NtQueryVolumeInformationFile(h, &iosb, &info, sizeof(info), FileFsSizeInformation);
  NtClose(h);
  if (!NT_SUCCESS(s)) return 0;
  if (sectorsPerCluster) *sectorsPerCluster = info.SectorsPerAllocationUnit;
  if (bytesPerSector) *bytesPerSector = info.BytesPerSector;
  if (freeClusters) *freeClusters = Clamp32(info.AvailableAllocationUnits.QuadPart);
  if (totalClusters) *totalClusters = Clamp32(info.TotalAllocationUnits.QuadPart);
  return 1;
}
