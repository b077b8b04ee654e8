// Files and directories: NtCreateFile, NtOpenFile, NtReadFile, NtWriteFile,
// file information, full attributes. Share modes and delete-on-close are kept
// per host file as the I/O manager keeps them per file.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <map>

#include "platform/nt/files.h"

namespace tw {
namespace nt {

struct ShareEntry {
  int handles = 0;  // every open of the file
  int opens = 0;    // opens with read, write or delete access
  int readers = 0, writers = 0, deleters = 0;
  int sharedRead = 0, sharedWrite = 0, sharedDelete = 0;
  bool deletePending = false;
  std::string deletePath;
  bool deleteIsDirectory = false;
};

namespace {

std::mutex& ShareLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}

std::map<std::pair<dev_t, ino_t>, ShareEntry>& Shares() {
  static auto* s = new std::map<std::pair<dev_t, ino_t>, ShareEntry>;
  return *s;
}

constexpr ACCESS_MASK kFileGenericRead = 0x120089;
constexpr ACCESS_MASK kFileGenericWrite = 0x120116;
constexpr ACCESS_MASK kFileGenericExecute = 0x1200A0;
constexpr ACCESS_MASK kFileAllAccess = 0x1F01FF;

ACCESS_MASK MapGeneric(ACCESS_MASK a) {
  ACCESS_MASK out = a & 0x0FFFFFFF & ~MAXIMUM_ALLOWED;
  if (a & GENERIC_READ) out |= kFileGenericRead;
  if (a & GENERIC_WRITE) out |= kFileGenericWrite;
  if (a & 0x20000000u) out |= kFileGenericExecute;
  if (a & (GENERIC_ALL | MAXIMUM_ALLOWED)) out |= kFileAllAccess;
  return out;
}

bool ReadAccess(ACCESS_MASK a) { return (a & (kReadData | kExecute)) != 0; }
bool WriteAccess(ACCESS_MASK a) { return (a & (kWriteData | kAppendData)) != 0; }
bool DeleteAccess(ACCESS_MASK a) { return (a & DELETE) != 0; }

// Checks and records a new open against the others of the same file.
NTSTATUS CheckAndAddShare(FileObject* f) {
  std::lock_guard<std::mutex> g(ShareLock());
  ShareEntry& e = Shares()[{f->device, f->inode}];
  if (e.deletePending) {
    if (e.handles == 0) Shares().erase({f->device, f->inode});
    return STATUS_DELETE_PENDING;
  }
  bool r = ReadAccess(f->access), w = WriteAccess(f->access), d = DeleteAccess(f->access);
  bool sr = f->shareMode & FILE_SHARE_READ, sw = f->shareMode & FILE_SHARE_WRITE, sd = f->shareMode & FILE_SHARE_DELETE;
  if (r || w || d) {
    if ((r && e.sharedRead < e.opens) || (w && e.sharedWrite < e.opens) || (d && e.sharedDelete < e.opens) ||
        (e.readers && !sr) || (e.writers && !sw) || (e.deleters && !sd)) {
      if (e.handles == 0) Shares().erase({f->device, f->inode});
      return STATUS_SHARING_VIOLATION;
    }
    e.opens++;
    e.readers += r, e.writers += w, e.deleters += d;
    e.sharedRead += sr, e.sharedWrite += sw, e.sharedDelete += sd;
  }
  e.handles++;
  f->shareCounted = true;
  return STATUS_SUCCESS;
}

void SetDeletePending(FileObject* f, bool pending) {
  std::lock_guard<std::mutex> g(ShareLock());
  auto it = Shares().find({f->device, f->inode});
  if (it == Shares().end()) return;
  it->second.deletePending = pending;
  it->second.deletePath = f->hostPath;
  it->second.deleteIsDirectory = f->isDirectory;
}

bool DeletePending(const FileObject* f) {
  std::lock_guard<std::mutex> g(ShareLock());
  auto it = Shares().find({f->device, f->inode});
  return it != Shares().end() && it->second.deletePending;
}

bool DirectoryEmpty(const std::string& path) {
  DIR* d = opendir(path.c_str());
  if (d == nullptr) return false;
  bool empty = true;
  while (struct dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
      empty = false;
      break;
    }
  }
  closedir(d);
  return empty;
}

// Whether the host would refuse to remove the item when its last handle
// closes: a folder it may not change (no write permission, immutable or
// append-only, a read-only mount), or an item that is itself immutable or
// append-only. Windows refuses such a deletion when it is asked for; found
// only at the close, it could not be reported and the item stayed.
bool HostRefusesRemoval(const std::string& hostPath, const std::string& parentPath) {
  const int pinned = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
  struct statx st;
  if (statx(AT_FDCWD, hostPath.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &st) == 0 &&
      (st.stx_attributes_mask & st.stx_attributes & pinned) != 0)
    return true;
  if (statx(AT_FDCWD, parentPath.c_str(), 0, STATX_BASIC_STATS, &st) == 0 &&
      (st.stx_attributes_mask & st.stx_attributes & pinned) != 0)
    return true;
  if (access(parentPath.c_str(), W_OK | X_OK) != 0 && errno != ENOENT) return true;
  struct statvfs vfs;
  return statvfs(parentPath.c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY) != 0;
}

bool DriveReadOnly(int drive) { return G().machine.drives[drive].type == DriveType::Cdrom; }

int64_t SystemNow() {
  LARGE_INTEGER t;
  NtQuerySystemTime(&t);
  return t.QuadPart;
}

void SetIosb(PIO_STATUS_BLOCK iosb, NTSTATUS status, ULONG_PTR information) {
  if (iosb == nullptr) return;
  iosb->Status = status;
  iosb->Information = information;
}

std::string HostPathOf(int drive, const std::vector<std::string>& comps) {
  std::string p = G().machine.drives[drive].root;
  for (const std::string& c : comps) p += "/" + c;
  return p;
}

// Splits a resolved host path back into components below the drive root.
std::vector<std::string> ComponentsOf(int drive, const std::string& hostPath) {
  std::string root = G().machine.drives[drive].root;
  std::vector<std::string> out;
  std::string rest = hostPath.size() > root.size() ? hostPath.substr(root.size() + 1) : std::string();
  std::string cur;
  for (size_t i = 0; i <= rest.size(); ++i) {
    if (i == rest.size() || rest[i] == '/') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(rest[i]);
    }
  }
  return out;
}

bool ValidDisposition(ULONG d) { return d <= FILE_OVERWRITE_IF; }

// A file without a stored creation time reports its last write time as its
// creation time; before anything changes the write time, the current value
// is stored so that the creation time stays put.
void PinCreationTime(const std::string& host) {
  char buf[32];
  if (getxattr(host.c_str(), kCreationXattr, buf, sizeof buf) > 0) return;
  struct stat st;
  if (stat(host.c_str(), &st) == 0) WriteCreationTime(host, UnixToFileTime(st.st_mtim));
}

}  // namespace

FileObject::~FileObject() {
  if (fd >= 0) close(fd);
}

void FileObject::OnClose() {
  if (!shareCounted) return;
  shareCounted = false;
  std::string toDelete;
  bool isDir = false;
  {
    std::lock_guard<std::mutex> g(ShareLock());
    auto it = Shares().find({device, inode});
    if (it == Shares().end()) return;
    ShareEntry& e = it->second;
    if ((options & kDeleteOnClose) != 0) {
      e.deletePending = true;
      e.deletePath = hostPath;
      e.deleteIsDirectory = isDirectory;
    }
    bool r = ReadAccess(access), w = WriteAccess(access), d = DeleteAccess(access);
    if (r || w || d) {
      e.opens--;
      e.readers -= r, e.writers -= w, e.deleters -= d;
      e.sharedRead -= (shareMode & FILE_SHARE_READ) != 0;
      e.sharedWrite -= (shareMode & FILE_SHARE_WRITE) != 0;
      e.sharedDelete -= (shareMode & FILE_SHARE_DELETE) != 0;
    }
    if (--e.handles == 0) {
      if (e.deletePending) {
        toDelete = e.deletePath;
        isDir = e.deleteIsDirectory;
      }
      Shares().erase(it);
    }
  }
  if (fd >= 0) {
    close(fd);
    fd = -1;
  }
  if (!toDelete.empty()) {
    if (isDir) {
      rmdir(toDelete.c_str());
    } else {
      unlink(toDelete.c_str());
    }
  }
}

std::string ParentHostPath(const FileObject& f) {
  if (f.components.empty()) return f.hostPath;
  std::vector<std::string> p(f.components.begin(), f.components.end() - 1);
  return HostPathOf(f.drive, p);
}

std::u16string DrivePathOf(const FileObject& f) {
  std::u16string out;
  for (const std::string& c : f.components) out += u"\\" + Utf8ToUtf16(c);
  return out.empty() ? u"\\" : out;
}

NTSTATUS OpenFile(HANDLE* handle, ACCESS_MASK desired, POBJECT_ATTRIBUTES attributes, PIO_STATUS_BLOCK iosb,
                  ULONG fileAttributes, ULONG share, ULONG disposition, ULONG options) {
  if (!Loaded()) return STATUS_UNSUCCESSFUL;
  if (handle == nullptr || iosb == nullptr) return STATUS_INVALID_PARAMETER;
  if (!ValidDisposition(disposition)) return STATUS_INVALID_PARAMETER;
  if ((options & FILE_DIRECTORY_FILE) && (options & FILE_NON_DIRECTORY_FILE)) return STATUS_INVALID_PARAMETER;
  FileName name;
  NTSTATUS st = ParseFileName(attributes, &name);
  if (!NT_SUCCESS(st)) return st;
  if (name.keyboard) {
    if (disposition != FILE_OPEN && disposition != FILE_OPEN_IF) return STATUS_ACCESS_DENIED;
    *handle = AddHandle(OpenKeyboard());
    SetIosb(iosb, STATUS_SUCCESS, FILE_OPENED);
    return STATUS_SUCCESS;
  }
  ACCESS_MASK access = MapGeneric(desired);
  if ((options & kDeleteOnClose) && !(access & DELETE)) return STATUS_INVALID_PARAMETER;
  bool dirOnly = (options & FILE_DIRECTORY_FILE) != 0;
  bool fileOnly = (options & FILE_NON_DIRECTORY_FILE) != 0;
  if (dirOnly && disposition != FILE_CREATE && disposition != FILE_OPEN && disposition != FILE_OPEN_IF) {
    return STATUS_INVALID_PARAMETER;
  }

  std::string host;
  PathStatus ps = ResolveOnDrive(G().machine, name.drive, name.components, &host);
  if (ps != PathStatus::Found && ps != PathStatus::NameNotFound) return StatusFromPath(ps, false);
  bool readOnlyDrive = DriveReadOnly(name.drive);

  struct stat stBefore;
  bool exists = ps == PathStatus::Found;
  if (exists && stat(host.c_str(), &stBefore) != 0) {
    // A dangling symbolic link: there, but nothing can be opened or created.
    return (disposition == FILE_OPEN || disposition == FILE_OVERWRITE) ? STATUS_OBJECT_NAME_NOT_FOUND
                                                                       : STATUS_ACCESS_DENIED;
  }
  if (name.trailingSlash && !dirOnly && !(exists && S_ISDIR(stBefore.st_mode))) return STATUS_OBJECT_NAME_INVALID;

  auto f = std::make_shared<FileObject>();
  f->drive = name.drive;
  f->access = access;
  f->options = options;
  f->shareMode = share & (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  f->synchronous = (options & (FILE_SYNCHRONOUS_IO_ALERT | FILE_SYNCHRONOUS_IO_NONALERT)) != 0;
  ULONG_PTR information = FILE_OPENED;
  bool truncateIt = false;
  bool created = false;

  if (exists) {
    if (disposition == FILE_CREATE) return STATUS_OBJECT_NAME_COLLISION;
    f->isDirectory = S_ISDIR(stBefore.st_mode);
    if (f->isDirectory) {
      if (fileOnly) return STATUS_FILE_IS_A_DIRECTORY;
      if (disposition == FILE_SUPERSEDE || disposition == FILE_OVERWRITE || disposition == FILE_OVERWRITE_IF) {
        return STATUS_OBJECT_NAME_COLLISION;
      }
    } else {
      if (dirOnly) return STATUS_NOT_A_DIRECTORY;
      if (!S_ISREG(stBefore.st_mode)) return STATUS_ACCESS_DENIED;  // fifos, devices, sockets
      uint32_t attrs = kAttrArchive;
      ReadStoredDosAttributes(host, &attrs);
      bool overwrite = disposition == FILE_SUPERSEDE || disposition == FILE_OVERWRITE ||
                       disposition == FILE_OVERWRITE_IF;
      if (attrs & kAttrReadOnly) {
        if (WriteAccess(access) || overwrite) return STATUS_ACCESS_DENIED;
        if (options & kDeleteOnClose) return STATUS_CANNOT_DELETE;
      }
      if (overwrite && (((attrs & kAttrHidden) && !(fileAttributes & kAttrHidden)) ||
                        ((attrs & kAttrSystem) && !(fileAttributes & kAttrSystem)))) {
        return STATUS_ACCESS_DENIED;
      }
      if (overwrite) {
        truncateIt = true;
        information = disposition == FILE_SUPERSEDE ? FILE_SUPERSEDED : FILE_OVERWRITTEN;
      }
    }
    if (readOnlyDrive && (WriteAccess(access) || (access & DELETE) || truncateIt)) {
      return TW_STATUS_MEDIA_WRITE_PROTECTED;
    }
    if (!f->isDirectory && (WriteAccess(access) || truncateIt)) PinCreationTime(host);
    int flags = O_CLOEXEC | O_NONBLOCK;
    if (f->isDirectory) {
      flags |= O_RDONLY | O_DIRECTORY;
    } else if (WriteAccess(access) || truncateIt) {
      flags |= O_RDWR;
    } else {
      flags |= O_RDONLY;
    }
    f->fd = open(host.c_str(), flags);
    if (f->fd < 0 && errno == EACCES && (flags & O_RDWR) && !ReadAccess(access)) {
      f->fd = open(host.c_str(), (flags & ~O_RDWR) | O_WRONLY);
    }
    if (f->fd < 0 && errno == EACCES && !ReadAccess(access) && !WriteAccess(access) && !truncateIt) {
      f->fd = open(host.c_str(), O_PATH | O_CLOEXEC);  // attributes only
    }
    if (f->fd < 0) return StatusFromErrno(errno);
  } else {
    if (disposition == FILE_OPEN || disposition == FILE_OVERWRITE) return STATUS_OBJECT_NAME_NOT_FOUND;
    if (readOnlyDrive) return TW_STATUS_MEDIA_WRITE_PROTECTED;
    f->isDirectory = dirOnly;
    if (dirOnly) {
      if (mkdir(host.c_str(), 0777) != 0) return StatusFromErrno(errno);
      f->fd = open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } else {
      f->fd = open(host.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    }
    if (f->fd < 0) return StatusFromErrno(errno);
    created = true;
    information = FILE_CREATED;
  }

  struct stat opened;
  if (fstat(f->fd, &opened) != 0) return StatusFromErrno(errno);
  f->device = opened.st_dev;
  f->inode = opened.st_ino;
  f->hostPath = host;
  f->components = ComponentsOf(name.drive, host);
  NTSTATUS shareStatus = CheckAndAddShare(f.get());
  if (!NT_SUCCESS(shareStatus)) {
    if (created) f->isDirectory ? rmdir(host.c_str()) : unlink(host.c_str());
    return shareStatus;
  }
  if (truncateIt) {
    if (ftruncate(f->fd, 0) != 0) {
      NTSTATUS s = StatusFromErrno(errno);
      f->OnClose();
      return s;
    }
  }
  if (created || truncateIt) {
    // A new or replaced file takes the attributes asked for, plus archive.
    uint32_t attrs = (fileAttributes & kAttrSettable);
    if (!f->isDirectory) attrs |= kAttrArchive;
    if (f->isDirectory ? attrs != 0 : attrs != kAttrArchive) WriteDosAttributes(host, attrs, f->isDirectory);
    if (created) WriteCreationTime(host, SystemNow());
  }
  *handle = AddHandle(f);
  SetIosb(iosb, STATUS_SUCCESS, information);
  return STATUS_SUCCESS;
}

}  // namespace nt
}  // namespace tw

using namespace tw;
using namespace tw::nt;

namespace {

// LARGE_INTEGER values of ByteOffset that mean "the current position" and
// "the end of the file".
constexpr int64_t kUseFilePointer = -2;  // HighPart -1, LowPart 0xFFFFFFFE
constexpr int64_t kWriteToEnd = -1;      // HighPart -1, LowPart 0xFFFFFFFF

NTSTATUS FileFromHandle(HANDLE h, std::shared_ptr<FileObject>* out) {
  std::shared_ptr<Object> o = LookUp(h);
  if (!o) return STATUS_INVALID_HANDLE;
  if (o->kind != Kind::File) return TW_STATUS_OBJECT_TYPE_MISMATCH;
  *out = std::static_pointer_cast<FileObject>(o);
  return STATUS_SUCCESS;
}

NTSTATUS EventFromHandle(HANDLE h, std::shared_ptr<Event>* out) {
  if (h == nullptr) return STATUS_SUCCESS;
  std::shared_ptr<Object> o = LookUp(h);
  if (!o) return STATUS_INVALID_HANDLE;
  if (o->kind != Kind::Event) return TW_STATUS_OBJECT_TYPE_MISMATCH;
  *out = std::static_pointer_cast<Event>(o);
  return STATUS_SUCCESS;
}

NTSTATUS Finish(PIO_STATUS_BLOCK iosb, const std::shared_ptr<Event>& event, NTSTATUS status, ULONG_PTR info) {
  iosb->Status = status;
  iosb->Information = info;
  if (event) event->Set();
  return status;
}

void PutLarge(LARGE_INTEGER* dst, int64_t v) { dst->QuadPart = v; }

}  // namespace

extern "C" NTSTATUS NtCreateFile(HANDLE* FileHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                                 PIO_STATUS_BLOCK IoStatusBlock, PLARGE_INTEGER AllocationSize, ULONG FileAttributes,
                                 ULONG ShareAccess, ULONG CreateDisposition, ULONG CreateOptions, PVOID EaBuffer,
                                 ULONG EaLength) {
  TW_FAULT("NtCreateFile");
  return OpenFile(FileHandle, DesiredAccess, ObjectAttributes, IoStatusBlock, FileAttributes, ShareAccess,
                  CreateDisposition, CreateOptions);
}

extern "C" NTSTATUS NtOpenFile(HANDLE* FileHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                               PIO_STATUS_BLOCK IoStatusBlock, ULONG ShareAccess, ULONG OpenOptions) {
  TW_FAULT("NtOpenFile");
  return OpenFile(FileHandle, DesiredAccess, ObjectAttributes, IoStatusBlock, 0, ShareAccess, FILE_OPEN, OpenOptions);
}

extern "C" NTSTATUS NtReadFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                               PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer, ULONG Length, PLARGE_INTEGER ByteOffset,
                               ULONG* Key) {
  TW_FAULT("NtReadFile");
  std::shared_ptr<Object> o = LookUp(FileHandle);
  if (!o) return STATUS_INVALID_HANDLE;
  if (IoStatusBlock == nullptr || (Buffer == nullptr && Length != 0)) return STATUS_INVALID_PARAMETER;
  std::shared_ptr<tw::nt::Event> event;
  NTSTATUS st = EventFromHandle(Event, &event);
  if (!NT_SUCCESS(st)) return st;
  if (o->kind == Kind::Keyboard) return ReadKeyboard(o, event, IoStatusBlock, Buffer, Length);
  if (o->kind != Kind::File) return TW_STATUS_OBJECT_TYPE_MISMATCH;
  auto f = std::static_pointer_cast<FileObject>(o);
  if (f->isDirectory) return TW_STATUS_INVALID_DEVICE_REQUEST;
  if (!(f->access & kReadData)) return STATUS_ACCESS_DENIED;
  if (event) event->Clear();
  std::lock_guard<std::mutex> g(f->m);
  int64_t offset;
  if (ByteOffset == nullptr || ByteOffset->QuadPart == kUseFilePointer) {
    if (!f->synchronous) return STATUS_INVALID_PARAMETER;
    offset = f->position;
  } else if (ByteOffset->QuadPart < 0) {
    return STATUS_INVALID_PARAMETER;
  } else {
    offset = ByteOffset->QuadPart;
  }
  size_t done = 0;
  while (done < Length) {
    ssize_t n = pread(f->fd, static_cast<char*>(Buffer) + done, Length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Finish(IoStatusBlock, event, StatusFromErrno(errno), 0);
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  if (done == 0 && Length != 0) return Finish(IoStatusBlock, event, STATUS_END_OF_FILE, 0);
  if (f->synchronous) f->position = offset + static_cast<int64_t>(done);
  return Finish(IoStatusBlock, event, STATUS_SUCCESS, done);
}

extern "C" NTSTATUS NtWriteFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                                PIO_STATUS_BLOCK IoStatusBlock, const void* Buffer, ULONG Length,
                                PLARGE_INTEGER ByteOffset, ULONG* Key) {
  TW_FAULT("NtWriteFile");
  std::shared_ptr<FileObject> f;
  std::shared_ptr<Object> o = LookUp(FileHandle);
  if (!o) return STATUS_INVALID_HANDLE;
  if (o->kind == Kind::Keyboard) return TW_STATUS_INVALID_DEVICE_REQUEST;
  NTSTATUS st = FileFromHandle(FileHandle, &f);
  if (!NT_SUCCESS(st)) return st;
  if (IoStatusBlock == nullptr || (Buffer == nullptr && Length != 0)) return STATUS_INVALID_PARAMETER;
  std::shared_ptr<tw::nt::Event> event;
  st = EventFromHandle(Event, &event);
  if (!NT_SUCCESS(st)) return st;
  if (f->isDirectory) return TW_STATUS_INVALID_DEVICE_REQUEST;
  if (!(f->access & (kWriteData | kAppendData))) return STATUS_ACCESS_DENIED;
  if (event) event->Clear();
  std::lock_guard<std::mutex> g(f->m);
  struct stat s;
  if (fstat(f->fd, &s) != 0) return Finish(IoStatusBlock, event, StatusFromErrno(errno), 0);
  int64_t offset;
  bool appendOnly = !(f->access & kWriteData);
  if (appendOnly || (ByteOffset != nullptr && ByteOffset->QuadPart == kWriteToEnd)) {
    offset = s.st_size;
  } else if (ByteOffset == nullptr || ByteOffset->QuadPart == kUseFilePointer) {
    if (!f->synchronous) return STATUS_INVALID_PARAMETER;
    offset = f->position;
  } else if (ByteOffset->QuadPart < 0) {
    return STATUS_INVALID_PARAMETER;
  } else {
    offset = ByteOffset->QuadPart;
  }
  size_t done = 0;
  while (done < Length) {
    ssize_t n = pwrite(f->fd, static_cast<const char*>(Buffer) + done, Length - done,
                       static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      NTSTATUS e = StatusFromErrno(n < 0 ? errno : ENOSPC);
      if (f->synchronous) f->position = offset + static_cast<int64_t>(done);
      return Finish(IoStatusBlock, event, e, done);
    }
    done += static_cast<size_t>(n);
  }
  if (f->synchronous) f->position = offset + static_cast<int64_t>(done);
  return Finish(IoStatusBlock, event, STATUS_SUCCESS, done);
}

namespace {

// FILE_NAME_INFORMATION and FILE_INTERNAL_INFORMATION layouts.
struct NameInfo {
  ULONG FileNameLength;
  WCHAR FileName[1];
};

// FILE_RENAME_INFORMATION: BOOLEAN ReplaceIfExists; HANDLE RootDirectory;
// ULONG FileNameLength; WCHAR FileName[].
struct RenameInfo {
  BOOLEAN ReplaceIfExists;
  HANDLE RootDirectory;
  ULONG FileNameLength;
  WCHAR FileName[1];
};

void FillBasic(const HostFileInfo& i, FILE_BASIC_INFORMATION* b) {
  PutLarge(&b->CreationTime, i.creationTime);
  PutLarge(&b->LastAccessTime, i.lastAccessTime);
  PutLarge(&b->LastWriteTime, i.lastWriteTime);
  PutLarge(&b->ChangeTime, i.changeTime);
  b->FileAttributes = i.attributes;
}

void FillNetworkOpen(const HostFileInfo& i, FILE_NETWORK_OPEN_INFORMATION* n) {
  PutLarge(&n->CreationTime, i.creationTime);
  PutLarge(&n->LastAccessTime, i.lastAccessTime);
  PutLarge(&n->LastWriteTime, i.lastWriteTime);
  PutLarge(&n->ChangeTime, i.changeTime);
  PutLarge(&n->AllocationSize, static_cast<int64_t>(i.allocation));
  PutLarge(&n->EndOfFile, static_cast<int64_t>(i.size));
  n->FileAttributes = i.attributes;
}

NTSTATUS SetBasic(FileObject* f, const FILE_BASIC_INFORMATION* b) {
  if (!(f->access & kWriteAttributes)) return STATUS_ACCESS_DENIED;
  // 0 leaves a time unchanged; -1 (stop updating it) is kept as unchanged too.
  auto given = [](const LARGE_INTEGER& t) { return t.QuadPart != 0 && t.QuadPart != -1; };
  if (given(b->LastWriteTime) && !given(b->CreationTime)) PinCreationTime(f->hostPath);
  if (given(b->LastAccessTime) || given(b->LastWriteTime)) {
    struct timespec ts[2];
    ts[0].tv_nsec = UTIME_OMIT;
    ts[1].tv_nsec = UTIME_OMIT;
    if (given(b->LastAccessTime)) ts[0] = FileTimeToUnix(b->LastAccessTime.QuadPart);
    if (given(b->LastWriteTime)) ts[1] = FileTimeToUnix(b->LastWriteTime.QuadPart);
    if (utimensat(AT_FDCWD, f->hostPath.c_str(), ts, 0) != 0) return StatusFromErrno(errno);
  }
  if (given(b->CreationTime) && !WriteCreationTime(f->hostPath, b->CreationTime.QuadPart)) {
    return StatusFromErrno(errno);
  }
  if (b->FileAttributes != 0) {
    if (DriveReadOnly(f->drive)) return TW_STATUS_MEDIA_WRITE_PROTECTED;
    if (!WriteDosAttributes(f->hostPath, b->FileAttributes, f->isDirectory)) return StatusFromErrno(errno);
  }
  return STATUS_SUCCESS;
}

NTSTATUS Rename(FileObject* f, const RenameInfo* r, ULONG length) {
  if (!(f->access & DELETE)) return STATUS_ACCESS_DENIED;
  size_t header = offsetof(RenameInfo, FileName);
  if (r->FileNameLength % 2 != 0 || r->FileNameLength > length - header) return STATUS_INVALID_PARAMETER;
  std::u16string target(r->FileName, r->FileNameLength / 2);
  UNICODE_STRING us;
  us.Buffer = const_cast<WCHAR*>(target.data());
  us.Length = static_cast<USHORT>(target.size() * 2);
  us.MaximumLength = us.Length;
  if (target.size() * 2 > 0xFFFE) return STATUS_NAME_TOO_LONG;
  OBJECT_ATTRIBUTES oa;
  FileName name;
  NTSTATUS st;
  if (r->RootDirectory == nullptr && (target.empty() || target[0] != u'\\')) {
    // A bare name: the same folder.
    if (target.empty() || target.find(u'\\') != std::u16string::npos) return STATUS_OBJECT_NAME_INVALID;
    name.drive = f->drive;
    name.components.assign(f->components.begin(), f->components.end() - (f->components.empty() ? 0 : 1));
    name.components.push_back(Utf16ToUtf8(target));
  } else {
    InitializeObjectAttributes(&oa, &us, OBJ_CASE_INSENSITIVE, r->RootDirectory, nullptr);
    st = ParseFileName(&oa, &name);
    if (!NT_SUCCESS(st)) return st;
    if (name.keyboard) return STATUS_OBJECT_NAME_INVALID;
  }
  if (name.drive != f->drive) return TW_STATUS_NOT_SAME_DEVICE;
  if (f->components.empty()) return STATUS_ACCESS_DENIED;  // the root
  if (DriveReadOnly(f->drive)) return TW_STATUS_MEDIA_WRITE_PROTECTED;
  std::string host;
  PathStatus ps = ResolveOnDrive(G().machine, name.drive, name.components, &host);
  if (ps == PathStatus::Found) {
    if (host == f->hostPath) return STATUS_SUCCESS;
    struct stat ts;
    bool sameFile = stat(host.c_str(), &ts) == 0 && ts.st_ino == f->inode && ts.st_dev == f->device;
    if (!sameFile) {
      if (!r->ReplaceIfExists) return STATUS_OBJECT_NAME_COLLISION;
      if (S_ISDIR(ts.st_mode)) return STATUS_ACCESS_DENIED;
    } else {
      // A change of case only: keep the new spelling.
      std::vector<std::string> c = name.components;
      host = HostPathOf(name.drive, std::vector<std::string>(f->components.begin(), f->components.end() - 1)) +
             "/" + c.back();
    }
  } else if (ps != PathStatus::NameNotFound) {
    return StatusFromPath(ps, true);
  }
  if (rename(f->hostPath.c_str(), host.c_str()) != 0) return StatusFromErrno(errno);
  f->hostPath = host;
  f->components = ComponentsOf(f->drive, host);
  return STATUS_SUCCESS;
}

}  // namespace

extern "C" NTSTATUS NtQueryInformationFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock, PVOID FileInformation,
                                           ULONG Length, FILE_INFORMATION_CLASS FileInformationClass) {
  TW_FAULT("NtQueryInformationFile");
  std::shared_ptr<FileObject> f;
  NTSTATUS st = FileFromHandle(FileHandle, &f);
  if (!NT_SUCCESS(st)) return st;
  if (IoStatusBlock == nullptr || FileInformation == nullptr) return STATUS_INVALID_PARAMETER;
  HostFileInfo info;
  auto need = [&](size_t n) { return Length >= n; };
  switch (FileInformationClass) {
    case FilePositionInformation: {
      if (!need(sizeof(FILE_POSITION_INFORMATION))) return STATUS_INFO_LENGTH_MISMATCH;
      std::lock_guard<std::mutex> g(f->m);
      auto* p = static_cast<FILE_POSITION_INFORMATION*>(FileInformation);
      PutLarge(&p->CurrentByteOffset, f->position);
      return Finish(IoStatusBlock, nullptr, STATUS_SUCCESS, sizeof(FILE_POSITION_INFORMATION));
    }
    case FileStandardInformation: {
      if (!need(sizeof(FILE_STANDARD_INFORMATION))) return STATUS_INFO_LENGTH_MISMATCH;
      int e = QueryHostFd(f->fd, &info);
      if (e != 0) return Finish(IoStatusBlock, nullptr, StatusFromErrno(e), 0);
      auto* s = static_cast<FILE_STANDARD_INFORMATION*>(FileInformation);
      PutLarge(&s->AllocationSize, static_cast<int64_t>(info.allocation));
      PutLarge(&s->EndOfFile, static_cast<int64_t>(info.size));
      s->NumberOfLinks = info.links;
      s->DeletePending = DeletePending(f.get());
      s->Directory = f->isDirectory;
      return Finish(IoStatusBlock, nullptr, STATUS_SUCCESS, sizeof(FILE_STANDARD_INFORMATION));
    }
    case FileBasicInformation: {
      if (!need(sizeof(FILE_BASIC_INFORMATION))) return STATUS_INFO_LENGTH_MISMATCH;
      if (!(f->access & kReadAttributes)) return STATUS_ACCESS_DENIED;
      int e = QueryHostFd(f->fd, &info);
      if (e != 0) return Finish(IoStatusBlock, nullptr, StatusFromErrno(e), 0);
      FillBasic(info, static_cast<FILE_BASIC_INFORMATION*>(FileInformation));
      return Finish(IoStatusBlock, nullptr, STATUS_SUCCESS, sizeof(FILE_BASIC_INFORMATION));
    }
    case FileNetworkOpenInformation: {
      if (!need(sizeof(FILE_NETWORK_OPEN_INFORMATION))) return STATUS_INFO_LENGTH_MISMATCH;
      if (!(f->access & kReadAttributes)) return STATUS_ACCESS_DENIED;
      int e = QueryHostFd(f->fd, &info);
      if (e != 0) return Finish(IoStatusBlock, nullptr, StatusFromErrno(e), 0);
      FillNetworkOpen(info, static_cast<FILE_NETWORK_OPEN_INFORMATION*>(FileInformation));
      return Finish(IoStatusBlock, nullptr, STATUS_SUCCESS, sizeof(FILE_NETWORK_OPEN_INFORMATION));
    }
    case FileInternalInformation: {
      if (!need(sizeof(LARGE_INTEGER))) return STATUS_INFO_LENGTH_MISMATCH;
      PutLarge(static_cast<LARGE_INTEGER*>(FileInformation), static_cast<int64_t>(f->inode));
      return Finish(IoStatusBlock, nullptr, STATUS_SUCCESS, sizeof(LARGE_INTEGER));
    }
    case FileNameInformation: {
      size_t header = offsetof(NameInfo, FileName);
      if (!need(header)) return STATUS_INFO_LENGTH_MISMATCH;
      std::u16string name = DrivePathOf(*f);
      auto* n = static_cast<NameInfo*>(FileInformation);
      size_t bytes = name.size() * 2;
      size_t room = Length - header;
      size_t copy = bytes < room ? bytes : room & ~static_cast<size_t>(1);
      n->FileNameLength = static_cast<ULONG>(bytes);
      memcpy(n->FileName, name.data(), copy);
      return Finish(IoStatusBlock, nullptr, copy < bytes ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS, header + copy);
    }
    default:
      return STATUS_INVALID_INFO_CLASS;
  }
}

extern "C" NTSTATUS NtSetInformationFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock, PVOID FileInformation,
                                         ULONG Length, FILE_INFORMATION_CLASS FileInformationClass) {
  TW_FAULT("NtSetInformationFile");
  std::shared_ptr<FileObject> f;
  NTSTATUS st = FileFromHandle(FileHandle, &f);
  if (!NT_SUCCESS(st)) return st;
  if (IoStatusBlock == nullptr || FileInformation == nullptr) return STATUS_INVALID_PARAMETER;
  std::lock_guard<std::mutex> g(f->m);
  switch (FileInformationClass) {
    case FilePositionInformation: {
      if (Length < sizeof(FILE_POSITION_INFORMATION)) return STATUS_INFO_LENGTH_MISMATCH;
      int64_t p = static_cast<FILE_POSITION_INFORMATION*>(FileInformation)->CurrentByteOffset.QuadPart;
      if (p < 0) return STATUS_INVALID_PARAMETER;
      f->position = p;
      return Finish(IoStatusBlock, nullptr, STATUS_SUCCESS, 0);
    }
    case FileBasicInformation: {
      if (Length < sizeof(FILE_BASIC_INFORMATION)) return STATUS_INFO_LENGTH_MISMATCH;
      st = SetBasic(f.get(), static_cast<FILE_BASIC_INFORMATION*>(FileInformation));
      return Finish(IoStatusBlock, nullptr, st, 0);
    }
    case FileEndOfFileInformation:
    case FileAllocationInformation: {
      if (Length < sizeof(LARGE_INTEGER)) return STATUS_INFO_LENGTH_MISMATCH;
      if (f->isDirectory) return TW_STATUS_INVALID_DEVICE_REQUEST;
      if (!(f->access & kWriteData)) return STATUS_ACCESS_DENIED;
      int64_t size = static_cast<LARGE_INTEGER*>(FileInformation)->QuadPart;
      if (size < 0) return STATUS_INVALID_PARAMETER;
      struct stat s;
      if (fstat(f->fd, &s) != 0) return Finish(IoStatusBlock, nullptr, StatusFromErrno(errno), 0);
      // An allocation below the end of file cuts the file; above it, the
      // host allocates on demand and nothing needs doing.
      bool cut = FileInformationClass == FileEndOfFileInformation || size < s.st_size;
      if (cut && ftruncate(f->fd, static_cast<off_t>(size)) != 0) {
        return Finish(IoStatusBlock, nullptr, StatusFromErrno(errno), 0);
      }
      return Finish(IoStatusBlock, nullptr, STATUS_SUCCESS, 0);
    }
    case FileDispositionInformation: {
      if (Length < sizeof(FILE_DISPOSITION_INFORMATION)) return STATUS_INFO_LENGTH_MISMATCH;
      if (!(f->access & DELETE)) return STATUS_ACCESS_DENIED;
      bool del = static_cast<FILE_DISPOSITION_INFORMATION*>(FileInformation)->DeleteFile != 0;
      if (del) {
        if (DriveReadOnly(f->drive)) return TW_STATUS_MEDIA_WRITE_PROTECTED;
        if (f->components.empty()) return STATUS_CANNOT_DELETE;  // a drive root
        if (f->isDirectory) {
          if (!DirectoryEmpty(f->hostPath)) return Finish(IoStatusBlock, nullptr, STATUS_DIRECTORY_NOT_EMPTY, 0);
        } else {
          uint32_t attrs = kAttrArchive;
          ReadStoredDosAttributes(f->hostPath, &attrs);
          if (attrs & kAttrReadOnly) return Finish(IoStatusBlock, nullptr, STATUS_CANNOT_DELETE, 0);
        }
        if (HostRefusesRemoval(f->hostPath, ParentHostPath(*f)))
          return Finish(IoStatusBlock, nullptr, STATUS_ACCESS_DENIED, 0);
      }
      SetDeletePending(f.get(), del);
      return Finish(IoStatusBlock, nullptr, STATUS_SUCCESS, 0);
    }
    case FileRenameInformation: {
      if (Length < offsetof(RenameInfo, FileName)) return STATUS_INFO_LENGTH_MISMATCH;
      st = Rename(f.get(), static_cast<RenameInfo*>(FileInformation), Length);
      return Finish(IoStatusBlock, nullptr, st, 0);
    }
    default:
      return STATUS_INVALID_INFO_CLASS;
  }
}

extern "C" NTSTATUS NtQueryFullAttributesFile(POBJECT_ATTRIBUTES ObjectAttributes,
                                              PFILE_NETWORK_OPEN_INFORMATION FileInformation) {
  TW_FAULT("NtQueryFullAttributesFile");
  if (!Loaded()) return STATUS_UNSUCCESSFUL;
  if (FileInformation == nullptr) return STATUS_INVALID_PARAMETER;
  FileName name;
  NTSTATUS st = ParseFileName(ObjectAttributes, &name);
  if (!NT_SUCCESS(st)) return st;
  if (name.keyboard) return STATUS_ACCESS_DENIED;
  std::string host;
  PathStatus ps = ResolveOnDrive(G().machine, name.drive, name.components, &host);
  if (ps != PathStatus::Found) return StatusFromPath(ps, false);
  HostFileInfo info;
  int e = QueryHostFile(host, &info);
  if (e != 0) return StatusFromErrno(e);
  if (name.trailingSlash && !info.isDirectory) return STATUS_OBJECT_NAME_INVALID;
  FillNetworkOpen(info, FileInformation);
  return STATUS_SUCCESS;
}
