// Drives at boot: the drive-letter links under "\??\" give the letters, the
// device characteristics of each root give its type; the menu lists the
// fixed and the removable ("USB disk") drives.
#include "scanner/session/console.h"
#include "scanner/session/session.h"

DriveTable gFixedDrives;
DriveTable gRemovableDrives;
char gFixedLetters[64];
char gRemovableLetters[64];

namespace {

const uint32_t kReadAccess = 0x120089;  // the specific rights of generic read

uint32_t ComputeDriveMask() {
  uint32_t mask = 0;
  for (uint32_t i = 0; i < 26; ++i) {
    WCHAR linkName[8] = {u'\\', u'?', u'?', u'\\', (WCHAR)(u'A' + i), u':', 0, 0};
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, linkName);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, 0, 0);
    HANDLE link = 0;
    if (!NT_SUCCESS(NtOpenSymbolicLinkObject(&link, SYMBOLIC_LINK_ALL_ACCESS, &attributes))) continue;
    WCHAR target[256];
    UNICODE_STRING targetName;
    targetName.Length = 0;
    targetName.MaximumLength = sizeof target;
    targetName.Buffer = target;
    ULONG returned = 0;
    NTSTATUS query = NtQuerySymbolicLinkObject(link, &targetName, &returned);
    NtClose(link);
    if (NT_SUCCESS(query)) mask |= 1u << i;
  }
  return mask;
}

uint32_t CountBits(uint32_t mask) {
  uint32_t n = 0;
  for (; mask; mask &= mask - 1) ++n;
  return n;
}

void AddDrive(DriveTable* table, char* letters, const WCHAR* root) {
  if (table->count >= kDriveTableSize) return;
  WCHAR* entry = table->entries[table->count++];
  entry[0] = root[0];
  entry[1] = u':';
  entry[2] = u'\\';
  entry[3] = 0;
  uint32_t used = TextLen(letters);
  if (used + 3 <= 64) {
    letters[used] = (char)root[0];
    letters[used + 1] = ':';
    letters[used + 2] = 0;
  }
}

}  // namespace

uint32_t ListDrives(RuntimeContext* ctx, WCHAR* buffer, uint32_t lengthBytes) {
  ctx->driveMask = ComputeDriveMask();
  uint32_t size = 8 * CountBits(ctx->driveMask);
  // The final empty text needs one unit beyond the 8 bytes per drive.
  if (buffer && size + 2 <= lengthBytes) {
    WCHAR* out = buffer;
    for (uint32_t i = 0; i < 26; ++i) {
      if (!(ctx->driveMask & (1u << i))) continue;
      out[0] = (WCHAR)(u'A' + i);
      out[1] = u':';
      out[2] = u'\\';
      out[3] = 0;
      out += 4;
    }
    out[0] = 0;
  }
  return size;
}

uint32_t ListDrivesAnsi(RuntimeContext* ctx, char* buffer, uint32_t lengthBytes) {
  ctx->driveMask = ComputeDriveMask();
  uint32_t size = 4 * CountBits(ctx->driveMask);
  if (buffer && size + 1 <= lengthBytes) {
    char* out = buffer;
    for (uint32_t i = 0; i < 26; ++i) {
      if (!(ctx->driveMask & (1u << i))) continue;
      out[0] = (char)('A' + i);
      out[1] = ':';
      out[2] = '\\';
      out[3] = 0;
      out += 4;
    }
    out[0] = 0;
  }
  return size;
}

uint32_t QueryDriveType(RuntimeContext* ctx, const WCHAR* root) {
  UNICODE_STRING native;
  if (!root || !RtlDosPathNameToNtPathName_U(root, &native, 0, 0)) return kDriveNoRootDir;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &native, OBJ_CASE_INSENSITIVE, 0, 0);
  IO_STATUS_BLOCK status;
  HANDLE handle = 0;
  NTSTATUS open = NtCreateFile(&handle, kReadAccess, &attributes, &status, 0, 0,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, 0, 0, 0);
  RtlFreeUnicodeString(&native);
  if (!NT_SUCCESS(open)) return kDriveNoRootDir;
  FILE_FS_DEVICE_INFORMATION device;
  NTSTATUS query = NtQueryVolumeInformationFile(handle, &status, &device, sizeof device, FileFsDeviceInformation);
  NtClose(handle);
  if (!NT_SUCCESS(query)) return kDriveUnknown;
  switch (device.DeviceType) {
    case FILE_DEVICE_CD_ROM:
    case FILE_DEVICE_CD_ROM_FILE_SYSTEM:
      return kDriveCdrom;
    case FILE_DEVICE_DISK:
    case FILE_DEVICE_DISK_FILE_SYSTEM:
      if (device.Characteristics & FILE_REMOTE_DEVICE) return kDriveRemote;
      if (device.Characteristics & FILE_REMOVABLE_MEDIA) return kDriveRemovable;
      return kDriveFixed;
    case FILE_DEVICE_NETWORK_FILE_SYSTEM:
      return kDriveRemote;
    case FILE_DEVICE_VIRTUAL_DISK:
      return kDriveRamDisk;
    default:
      return kDriveUnknown;
  }
}

uint32_t QueryDriveTypeAnsi(RuntimeContext* ctx, const char* root) {
  if (!root) return kDriveNoRootDir;
  WCHAR wide[261];
  wide[0] = 0;
  AnsiToWide(ctx, root, wide, sizeof wide);
  if (!wide[0]) return kDriveNoRootDir;
  return QueryDriveType(ctx, wide);
}

uint32_t BuildDriveMenu(void* workBuffer1024) {
  RuntimeContext* ctx = &gContext;
  memset(&gFixedDrives, 0, sizeof gFixedDrives);
  memset(&gRemovableDrives, 0, sizeof gRemovableDrives);
  memset(gFixedLetters, 0, sizeof gFixedLetters);
  memset(gRemovableLetters, 0, sizeof gRemovableLetters);
  WCHAR* roots = (WCHAR*)workBuffer1024;
  uint32_t count = ListDrives(ctx, roots, 256) / 8;
  for (uint32_t i = 0; i < count; ++i) {
    const WCHAR* root = roots + 4 * i;
    uint32_t type = QueryDriveType(ctx, root);
    if (type == kDriveFixed)
      AddDrive(&gFixedDrives, gFixedLetters, root);
    else if (type == kDriveRemovable)
      AddDrive(&gRemovableDrives, gRemovableLetters, root);
    else
      continue;
    PrintWide(ctx, root);
    PrintWide(ctx, u" ");
  }
  char line[392];
  FormatText(line, "\n\nPress 'A' to scan all drivers. <%s>\n", gFixedLetters);
  PrintAnsi(ctx, line);
  PrintWide(ctx, u"Press 'B' to scan key directory.\n");
  PrintWide(ctx, u"Press 'C' to scan C:\\, and so on.\n");
  if (gRemovableDrives.count) {
    FormatText(line, "Press 'U' to scan USB disk. <%s>\n", gRemovableLetters);
    PrintAnsi(ctx, line);
  }
  PrintWide(ctx, u"Press <Esc> to exit.\n\n");
  return count;
}
