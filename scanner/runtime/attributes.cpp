// DOS attributes of files and folders by path.
#include "scanner/runtime/internal.h"

namespace {

const ACCESS_MASK kAttributeRights = SYNCHRONIZE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

// Replaces the attribute word of the file or folder at `ntPath`, keeping its
// times as they are.
int SetAttributesNt(UNICODE_STRING* ntPath, uint32_t attributes) {
  OBJECT_ATTRIBUTES oa;
  rt::InitAttributes(&oa, ntPath, OBJ_CASE_INSENSITIVE, nullptr);
  IO_STATUS_BLOCK iosb;
  HANDLE h = 0;
  NTSTATUS s = NtOpenFile(&h, kAttributeRights, &oa, &iosb, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          FILE_SYNCHRONOUS_IO_NONALERT);
  if (!NT_SUCCESS(s)) return 0;
  FILE_BASIC_INFORMATION info;
  memset(&info, 0, sizeof(info));
  s = NtQueryInformationFile(h, &iosb, &info, sizeof(info), FileBasicInformation);
  if (NT_SUCCESS(s)) {
    info.FileAttributes = attributes;
    s = NtSetInformationFile(h, &iosb, &info, sizeof(info), FileBasicInformation);
  }
  NtClose(h);
  return NT_SUCCESS(s) ? 1 : 0;
}

}  // namespace

int FileSetAttributes(RuntimeContext* ctx, const char* path, uint32_t attributes) {
  UNICODE_STRING nt;
  if (!rt::AnsiPathToNtFixed(path, &nt)) return 0;
  int ok = SetAttributesNt(&nt, attributes);
  RtlFreeUnicodeString(&nt);
  return ok;
}

int FileSetAttributesW(RuntimeContext* ctx, const WCHAR* path, uint32_t attributes) {
  UNICODE_STRING nt;
  if (!rt::DosToNtPath(path, &nt)) return 0;
  int ok = SetAttributesNt(&nt, attributes);
  RtlFreeUnicodeString(&nt);
  return ok;
}

uint32_t FileGetAttributes(RuntimeContext* ctx, const char* path) {
  UNICODE_STRING nt;
  if (!rt::AnsiPathToNtFixed(path, &nt)) return kInvalid32;
  OBJECT_ATTRIBUTES oa;
  rt::InitAttributes(&oa, &nt, OBJ_CASE_INSENSITIVE, nullptr);
  FILE_NETWORK_OPEN_INFORMATION info;
  memset(&info, 0, sizeof(info));
  NTSTATUS s = NtQueryFullAttributesFile(&oa, &info);
  RtlFreeUnicodeString(&nt);
  return NT_SUCCESS(s) ? info.FileAttributes : kInvalid32;
}
