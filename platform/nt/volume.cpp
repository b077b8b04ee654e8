// Volumes and drive letters: NtQueryVolumeInformationFile and the "\??\X:"
// symbolic links of the drives that machine.json lists.
#include <string.h>
#include <sys/statvfs.h>

#include "platform/nt/files.h"

namespace tw {
namespace nt {

namespace {

struct LinkObject : Object {
  LinkObject() : Object(Kind::Link) {}
  std::u16string target;
};

constexpr uint32_t kBytesPerSector = 512;
constexpr uint32_t kSectorsPerCluster = 8;
constexpr uint64_t kClusterBytes = kBytesPerSector * kSectorsPerCluster;

void DeviceOf(DriveType t, ULONG* type, ULONG* characteristics) {
  switch (t) {
    case DriveType::Fixed: *type = FILE_DEVICE_DISK, *characteristics = 0; break;
    case DriveType::Removable: *type = FILE_DEVICE_DISK, *characteristics = FILE_REMOVABLE_MEDIA; break;
    case DriveType::Remote: *type = FILE_DEVICE_NETWORK_FILE_SYSTEM, *characteristics = FILE_REMOTE_DEVICE; break;
    case DriveType::Cdrom: *type = FILE_DEVICE_CD_ROM, *characteristics = FILE_REMOVABLE_MEDIA | 0x02; break;
    case DriveType::Ramdisk: *type = FILE_DEVICE_VIRTUAL_DISK, *characteristics = 0; break;
  }
}

const char16_t* FileSystemOf(DriveType t) {
  switch (t) {
    case DriveType::Removable: return u"FAT32";
    case DriveType::Cdrom: return u"CDFS";
    default: return u"NTFS";
  }
}

// Copies a name after a fixed header; returns the status and the bytes used.
NTSTATUS PutName(uint8_t* buf, ULONG length, size_t header, const std::u16string& name, ULONG* used) {
  size_t bytes = name.size() * 2;
  size_t room = (length - header) & ~static_cast<size_t>(1);
  size_t copy = bytes < room ? bytes : room;
  memcpy(buf + header, name.data(), copy);
  *used = static_cast<ULONG>(header + copy);
  return copy < bytes ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

}  // namespace

}  // namespace nt
}  // namespace tw

using namespace tw;
using namespace tw::nt;

extern "C" NTSTATUS NtQueryVolumeInformationFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock,
                                                 PVOID FsInformation, ULONG Length,
                                                 FS_INFORMATION_CLASS FsInformationClass) {
  TW_FAULT("NtQueryVolumeInformationFile");
  std::shared_ptr<Object> o = LookUp(FileHandle);
  if (!o) return STATUS_INVALID_HANDLE;
  if (IoStatusBlock == nullptr || FsInformation == nullptr) return STATUS_INVALID_PARAMETER;
  if (o->kind == Kind::Keyboard) return TW_STATUS_INVALID_DEVICE_REQUEST;
  if (o->kind != Kind::File) return TW_STATUS_OBJECT_TYPE_MISMATCH;
  auto f = std::static_pointer_cast<FileObject>(o);
  const Drive& d = G().machine.drives[f->drive];
  uint8_t* buf = static_cast<uint8_t*>(FsInformation);
  NTSTATUS st = STATUS_SUCCESS;
  ULONG used = 0;
  switch (FsInformationClass) {
    case FileFsDeviceInformation: {
      if (Length < sizeof(FILE_FS_DEVICE_INFORMATION)) return STATUS_INFO_LENGTH_MISMATCH;
      auto* dev = static_cast<FILE_FS_DEVICE_INFORMATION*>(FsInformation);
      DeviceOf(d.type, &dev->DeviceType, &dev->Characteristics);
      used = sizeof(FILE_FS_DEVICE_INFORMATION);
      break;
    }
    case FileFsSizeInformation: {
      if (Length < sizeof(FILE_FS_SIZE_INFORMATION)) return STATUS_INFO_LENGTH_MISMATCH;
      struct statvfs vfs;
      if (fstatvfs(f->fd, &vfs) != 0 && statvfs(f->hostPath.c_str(), &vfs) != 0) {
        st = StatusFromErrno(errno);
        break;
      }
      uint64_t total = static_cast<uint64_t>(vfs.f_blocks) * vfs.f_frsize / kClusterBytes;
      uint64_t avail = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize / kClusterBytes;
      if (d.hasFreeBytes) avail = d.freeBytes / kClusterBytes;
      if (d.type == DriveType::Cdrom) avail = 0;
      if (total < avail) total = avail;
      auto* s = static_cast<FILE_FS_SIZE_INFORMATION*>(FsInformation);
      s->TotalAllocationUnits.QuadPart = static_cast<int64_t>(total);
      s->AvailableAllocationUnits.QuadPart = static_cast<int64_t>(avail);
      s->SectorsPerAllocationUnit = kSectorsPerCluster;
      s->BytesPerSector = kBytesPerSector;
      used = sizeof(FILE_FS_SIZE_INFORMATION);
      break;
    }
    case FileFsVolumeInformation: {
      // LARGE_INTEGER VolumeCreationTime; ULONG VolumeSerialNumber;
      // ULONG VolumeLabelLength; BOOLEAN SupportsObjects; WCHAR VolumeLabel[].
      const size_t header = 18;
      if (Length < header) return STATUS_INFO_LENGTH_MISMATCH;
      memset(buf, 0, header);
      uint32_t serial = 0x7A4E0000u | static_cast<uint32_t>(f->drive) << 8 | 0x11;
      memcpy(buf + 8, &serial, 4);
      used = header;
      break;
    }
    case FileFsAttributeInformation: {
      // ULONG FileSystemAttributes; LONG MaximumComponentNameLength;
      // ULONG FileSystemNameLength; WCHAR FileSystemName[].
      const size_t header = 12;
      if (Length < header) return STATUS_INFO_LENGTH_MISMATCH;
      std::u16string fs = FileSystemOf(d.type);
      uint32_t attrs = d.type == DriveType::Cdrom ? 0x80004 : (d.type == DriveType::Removable ? 0x6 : 0xE);
      uint32_t maxName = 255, nameBytes = static_cast<uint32_t>(fs.size() * 2);
      memcpy(buf, &attrs, 4);
      memcpy(buf + 4, &maxName, 4);
      memcpy(buf + 8, &nameBytes, 4);
      st = PutName(buf, Length, header, fs, &used);
      break;
    }
    default:
      return STATUS_INVALID_INFO_CLASS;
  }
  IoStatusBlock->Status = st;
  IoStatusBlock->Information = used;
  return st;
}

extern "C" NTSTATUS NtOpenSymbolicLinkObject(HANDLE* LinkHandle, ACCESS_MASK DesiredAccess,
                                             POBJECT_ATTRIBUTES ObjectAttributes) {
  TW_FAULT("NtOpenSymbolicLinkObject");
  if (!Loaded()) return STATUS_UNSUCCESSFUL;
  if (LinkHandle == nullptr || ObjectAttributes == nullptr || ObjectAttributes->ObjectName == nullptr) {
    return STATUS_INVALID_PARAMETER;
  }
  if (ObjectAttributes->RootDirectory != nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
  std::u16string name = FromCounted(ObjectAttributes->ObjectName);
  std::u16string rest;
  for (const char16_t* prefix : {u"\\??\\", u"\\DosDevices\\", u"\\GLOBAL??\\"}) {
    std::u16string p = prefix;
    if (name.size() >= p.size() && EqualNoCase(name.data(), p.size(), p.data(), p.size())) {
      rest = name.substr(p.size());
      break;
    }
  }
  if (rest.size() != 2 || rest[1] != u':') return STATUS_OBJECT_NAME_NOT_FOUND;
  char16_t letter = FoldUpper(rest[0]);
  if (letter < u'A' || letter > u'Z' || !G().machine.drives[letter - u'A'].present) {
    return STATUS_OBJECT_NAME_NOT_FOUND;
  }
  auto link = std::make_shared<LinkObject>();
  link->target = G().devices[letter - u'A'].device;
  *LinkHandle = AddHandle(link);
  return STATUS_SUCCESS;
}

extern "C" NTSTATUS NtQuerySymbolicLinkObject(HANDLE LinkHandle, PUNICODE_STRING LinkTarget, ULONG* ReturnedLength) {
  TW_FAULT("NtQuerySymbolicLinkObject");
  auto link = LookUpAs<LinkObject>(LinkHandle, Kind::Link);
  if (!link) return LookUp(LinkHandle) ? TW_STATUS_OBJECT_TYPE_MISMATCH : STATUS_INVALID_HANDLE;
  if (LinkTarget == nullptr) return STATUS_INVALID_PARAMETER;
  size_t bytes = link->target.size() * 2;
  // The target and its terminator, when there is room for it.
  if (ReturnedLength != nullptr) *ReturnedLength = static_cast<ULONG>(bytes + 2);
  if (LinkTarget->MaximumLength < bytes || LinkTarget->Buffer == nullptr) return STATUS_BUFFER_TOO_SMALL;
  memcpy(LinkTarget->Buffer, link->target.data(), bytes);
  LinkTarget->Length = static_cast<USHORT>(bytes);
  if (LinkTarget->MaximumLength >= bytes + 2) LinkTarget->Buffer[bytes / 2] = 0;
  return STATUS_SUCCESS;
}
