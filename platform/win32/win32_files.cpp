// Files, folders, attributes and file searches of the Win32 stand-in.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/win32_internal.h"

namespace win32 {

DWORD ErrnoToWin32(int error) {
  switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG: return ERROR_INVALID_NAME;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBUSY: return ERROR_SHARING_VIOLATION;
    default: return ERROR_WRITE_FAULT;
  }
}

}  // namespace win32

using namespace win32;

namespace {

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// What the host says of an existing item; false when it is gone.
bool Query(const std::string& host, tw::HostFileInfo* info) {
  return tw::QueryHostFile(host, info) == 0;
}

bool IsLink(const std::string& host) {
  struct stat st;
  return lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c + 32) : c; }

// Windows wildcard match ('*' any run, '?' one character), ASCII case folded.
// "*.*" matches every name, with or without a dot.
bool WildcardMatch(const char* pattern, const char* name) {
  if (strcmp(pattern, "*.*") == 0 || strcmp(pattern, "*") == 0) return true;
  const char* starP = nullptr;
  const char* starN = nullptr;
  while (*name) {
    if (*pattern == '*') {
      starP = pattern++;
      starN = name;
    } else if (*pattern == '?' || FoldAscii(*pattern) == FoldAscii(*name)) {
      ++pattern;
      ++name;
    } else if (starP) {
      pattern = starP + 1;
      name = ++starN;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == 0;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= (size_t)n;
  }
  return true;
}

void PutFileTime(FILETIME* out, int64_t value) {
  out->dwLowDateTime = (DWORD)(uint64_t)value;
  out->dwHighDateTime = (DWORD)((uint64_t)value >> 32);
}

int64_t GetFileTime(const FILETIME* in) {
  return (int64_t)((uint64_t)in->dwLowDateTime | ((uint64_t)in->dwHighDateTime << 32));
}

}  // namespace

DWORD GetFileAttributesA(LPCSTR path) {
  std::string host;
  bool exists;
  if (!ResolveForUse(path, &host, &exists)) return INVALID_FILE_ATTRIBUTES;
  tw::HostFileInfo info;
  if (!exists || !Query(host, &info)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return info.attributes;
}

BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) {
  std::string host;
  bool exists;
  if (!ResolveForUse(path, &host, &exists)) return FALSE;
  tw::HostFileInfo info;
  if (!exists || !Query(host, &info)) return Fail(ERROR_FILE_NOT_FOUND);
  if (!tw::WriteDosAttributes(host, attributes, info.isDirectory))
    return Fail(ErrnoToWin32(errno));
  return TRUE;
}

BOOL DeleteFileA(LPCSTR path) {
  std::string host;
  bool exists;
  if (!ResolveForUse(path, &host, &exists)) return FALSE;
  struct stat st;
  if (!exists || lstat(host.c_str(), &st) != 0) return Fail(ERROR_FILE_NOT_FOUND);
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  tw::HostFileInfo info;
  if (!S_ISLNK(st.st_mode) && Query(host, &info) && (info.attributes & FILE_ATTRIBUTE_READONLY))
    return Fail(ERROR_ACCESS_DENIED);
  if (unlink(host.c_str()) != 0) return Fail(ErrnoToWin32(errno));
  return TRUE;
}

BOOL MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags) {
  std::string source, dest;
  bool sourceExists, destExists;
  if (!ResolveForUse(existing, &source, &sourceExists)) return FALSE;
  if (!sourceExists) return Fail(ERROR_FILE_NOT_FOUND);
  if (!ResolveForUse(target, &dest, &destExists)) return FALSE;
  if (destExists) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
    // A file link is replaced as the link: the read-only bit it shows belongs
    // to the file it names, which the rename leaves alone. A link to a folder
    // stays, as a folder does.
    tw::HostFileInfo info;
    bool link = IsLink(dest);
    if (Query(dest, &info) &&
        (info.isDirectory || (!link && (info.attributes & FILE_ATTRIBUTE_READONLY))))
      return Fail(ERROR_ACCESS_DENIED);
  }
  if (rename(source.c_str(), dest.c_str()) != 0) return Fail(ErrnoToWin32(errno));
  return TRUE;
}

BOOL CreateDirectoryA(LPCSTR path, void*) {
  std::string host;
  bool exists;
  if (!ResolveForUse(path, &host, &exists)) return FALSE;
  if (exists) return Fail(ERROR_ALREADY_EXISTS);
  if (mkdir(host.c_str(), 0777) != 0) return Fail(ErrnoToWin32(errno));
  return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR path) {
  std::string host;
  bool exists;
  if (!ResolveForUse(path, &host, &exists)) return FALSE;
  tw::HostFileInfo info;
  if (!exists || !Query(host, &info)) return Fail(ERROR_FILE_NOT_FOUND);
  if (!info.isDirectory) return Fail(ERROR_DIRECTORY);
  if (IsLink(host)) {
    // A link to a folder goes as a junction does: the link, not its target.
    if (unlink(host.c_str()) != 0) return Fail(ErrnoToWin32(errno));
    return TRUE;
  }
  if (rmdir(host.c_str()) != 0) return Fail(ErrnoToWin32(errno));
  return TRUE;
}

BOOL CopyFileA(LPCSTR existing, LPCSTR target, BOOL failIfExists) {
  std::string source, dest;
  bool sourceExists, destExists;
  if (!ResolveForUse(existing, &source, &sourceExists)) return FALSE;
  if (!sourceExists) return Fail(ERROR_FILE_NOT_FOUND);
  if (!ResolveForUse(target, &dest, &destExists)) return FALSE;
  tw::HostFileInfo sourceInfo;
  if (!Query(source, &sourceInfo)) return Fail(ERROR_FILE_NOT_FOUND);
  if (sourceInfo.isDirectory) return Fail(ERROR_ACCESS_DENIED);
  if (destExists) {
    if (failIfExists) return Fail(ERROR_FILE_EXISTS);
    tw::HostFileInfo destInfo;
    if (Query(dest, &destInfo) &&
        (destInfo.isDirectory || (destInfo.attributes & FILE_ATTRIBUTE_READONLY)))
      return Fail(ERROR_ACCESS_DENIED);
  }
  // A named pipe or a device is no file to copy; opening a pipe would wait
  // for its other end.
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) return Fail(ErrnoToWin32(errno));
  struct stat st;
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(in);
    return Fail(ERROR_ACCESS_DENIED);
  }
  // Copy into a temporary beside the target and rename it over the target, so
  // that a failed copy never leaves a half-written file in its place.
  std::string temp = dest + ".tw-copy-XXXXXX";
  std::vector<char> tempName(temp.begin(), temp.end());
  tempName.push_back(0);
  int out = mkostemp(tempName.data(), O_CLOEXEC);
  if (out < 0) {
    DWORD error = ErrnoToWin32(errno);
    close(in);
    return Fail(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
  }
  bool ok = true;
  int savedErrno = 0;
  std::vector<char> block(1 << 16);
  for (;;) {
    ssize_t n = read(in, block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n > 0 && !WriteAll(out, block.data(), (size_t)n))) {
      savedErrno = errno;
      ok = false;
      break;
    }
    if (n == 0) break;
  }
  close(in);
  fchmod(out, st.st_mode & 0777);
  if (close(out) != 0 && ok) {
    savedErrno = errno;
    ok = false;
  }
  if (ok && rename(tempName.data(), dest.c_str()) != 0) {
    savedErrno = errno;
    ok = false;
  }
  if (!ok) {
    unlink(tempName.data());
    return Fail(ErrnoToWin32(savedErrno));
  }
  // CopyFile keeps the attributes and the last write time; the copy is a new
  // file, created now.
  tw::WriteDosAttributes(dest, sourceInfo.attributes, false);
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  utimensat(AT_FDCWD, dest.c_str(), times, 0);
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tw::WriteCreationTime(dest, tw::UnixToFileTime(now));
  return TRUE;
}

BOOL SetFileTimeA(LPCSTR path, const FILETIME* creation, const FILETIME* lastAccess,
                  const FILETIME* lastWrite) {
  std::string host;
  bool exists;
  if (!ResolveForUse(path, &host, &exists)) return FALSE;
  if (!exists) return Fail(ERROR_FILE_NOT_FOUND);
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = 0;
  times[0].tv_nsec = times[1].tv_nsec = UTIME_OMIT;
  if (lastAccess) times[0] = tw::FileTimeToUnix(GetFileTime(lastAccess));
  if (lastWrite) times[1] = tw::FileTimeToUnix(GetFileTime(lastWrite));
  if (utimensat(AT_FDCWD, host.c_str(), times, 0) != 0) return Fail(ErrnoToWin32(errno));
  if (creation && !tw::WriteCreationTime(host, GetFileTime(creation)))
    return Fail(ErrnoToWin32(errno));
  return TRUE;
}

namespace {

struct FindState {
  std::string hostFolder;
  int folderFd = -1;  // entries are looked at relative to it: no path walk each
  std::string pattern;
  std::vector<std::string> names;  // host names; "." and ".." first outside a root
  size_t next = 0;
  tw::XattrHint xattrHint;
  ~FindState() {
    if (folderFd >= 0) close(folderFd);
  }
};

bool FillFindData(FindState* state, WIN32_FIND_DATAA* data) {
  while (state->next < state->names.size()) {
    const std::string& name = state->names[state->next++];
    bool dots = name == "." || name == "..";
    std::string host = dots ? state->hostFolder : state->hostFolder + "/" + name;
    // One look at the entry itself serves both the link test and, for a
    // plain entry, the rest.
    const char* at = dots ? "." : name.c_str();
    struct stat st;
    if (fstatat(state->folderFd, at, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // vanished
    bool link = !dots && S_ISLNK(st.st_mode);
    // A link naming nothing is listed as itself (as Windows lists a broken
    // link): hidden, it could never be deleted, nor the folder holding it.
    struct stat target;
    if (link && fstatat(state->folderFd, at, &target, 0) == 0) st = target;
    tw::HostFileInfo info;
    tw::FillHostFileInfo(host, st, &info, &state->xattrHint);
    std::string ansi = dots ? name : Utf8ToAnsi(name);
    if (ansi.size() >= MAX_PATH) continue;
    if (!WildcardMatch(state->pattern.c_str(), ansi.c_str())) continue;
    memset(data, 0, sizeof *data);
    data->dwFileAttributes = info.attributes;
    if (link) data->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    PutFileTime(&data->ftCreationTime, info.creationTime);
    PutFileTime(&data->ftLastAccessTime, info.lastAccessTime);
    PutFileTime(&data->ftLastWriteTime, info.lastWriteTime);
    data->nFileSizeHigh = (DWORD)(info.size >> 32);
    data->nFileSizeLow = (DWORD)info.size;
    memcpy(data->cFileName, ansi.c_str(), ansi.size() + 1);
    return true;
  }
  return false;
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) {
  if (pattern == nullptr || data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string text = pattern;
  size_t slash = AnsiLastSeparator(text);
  if (slash == std::string::npos) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  std::string folder = text.substr(0, slash);
  std::string leaf = text.substr(slash + 1);
  bool isRoot = folder.size() == 2 && folder[1] == ':';
  if (isRoot) folder += "\\";
  if (leaf.empty()) leaf = "*";
  std::string host;
  bool exists;
  if (!ResolveForUse(folder.c_str(), &host, &exists)) return INVALID_HANDLE_VALUE;
  tw::HostFileInfo info;
  if (!exists || !Query(host, &info) || !info.isDirectory) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  DIR* dir = opendir(host.c_str());
  if (dir == nullptr) {
    SetLastError(ErrnoToWin32(errno));
    return INVALID_HANDLE_VALUE;
  }
  auto state = std::make_unique<FindState>();
  state->hostFolder = host;
  state->folderFd = open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (state->folderFd < 0) {
    closedir(dir);
    SetLastError(ErrnoToWin32(errno));
    return INVALID_HANDLE_VALUE;
  }
  state->pattern = leaf;
  if (!isRoot) {
    state->names.push_back(".");
    state->names.push_back("..");
  }
  // In name order without regard to case, as NTFS lists a folder (and as
  // the native stand-in does), not in the host's order: by the upper-case
  // folded names, then by the names themselves.
  struct Named {
    std::u16string folded, name;
    std::string host;
  };
  std::vector<Named> found;
  while (struct dirent* entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    Named n;
    n.name = tw::Utf8ToUtf16(entry->d_name);
    n.folded = n.name;
    for (char16_t& c : n.folded) c = tw::FoldUpper(c);
    n.host = entry->d_name;
    found.push_back(std::move(n));
  }
  closedir(dir);
  std::sort(found.begin(), found.end(), [](const Named& a, const Named& b) {
    int order = a.folded.compare(b.folded);
    return order != 0 ? order < 0 : a.name < b.name;
  });
  for (Named& n : found) state->names.push_back(std::move(n.host));
  if (!FillFindData(state.get(), data)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return state.release();
}

BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) {
  if (find == nullptr || find == INVALID_HANDLE_VALUE || data == nullptr)
    return Fail(ERROR_INVALID_HANDLE);
  if (!FillFindData(static_cast<FindState*>(find), data)) return Fail(ERROR_NO_MORE_FILES);
  return TRUE;
}

BOOL FindClose(HANDLE find) {
  if (find == nullptr || find == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
  delete static_cast<FindState*>(find);
  return TRUE;
}

namespace {

// Opens a host file as fopen(mode) does, without ever waiting on it. Only a
// plain file opens: a folder opens on the host, never on Windows, and a named
// pipe or a device is no file a Windows program could open (opening a pipe
// waits for its other end). Null with the last error set.
FILE* OpenHostFile(const std::string& host, const char* mode) {
  bool update = strchr(mode, '+') != nullptr;
  int flags = O_CLOEXEC | O_NONBLOCK;
  if (mode[0] == 'r')
    flags |= update ? O_RDWR : O_RDONLY;
  else if (mode[0] == 'w')
    flags |= (update ? O_RDWR : O_WRONLY) | O_CREAT;  // truncated once known plain
  else if (mode[0] == 'a')
    flags |= (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
  else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  int fd = open(host.c_str(), flags, 0666);
  if (fd < 0) {
    // ENXIO: a pipe nobody reads, opened for writing.
    SetLastError(errno == ENXIO ? ERROR_ACCESS_DENIED : ErrnoToWin32(errno));
    return nullptr;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  FILE* file = nullptr;
  if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0 &&
      (mode[0] != 'w' || ftruncate(fd, 0) == 0))
    file = fdopen(fd, mode);
  if (file == nullptr) {
    SetLastError(ErrnoToWin32(errno));
    close(fd);
  }
  return file;
}

}  // namespace

FILE* Win32OpenFile(LPCSTR path, const char* mode) {
  if (mode == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool writing = strpbrk(mode, "wa+") != nullptr;
  bool creating = strpbrk(mode, "wa") != nullptr;
  std::string host;
  if (!writing && ExactPath(path, &host)) {
    // Names almost always come as the host spells them (they were listed
    // there): opening straight away spares the lookup on every read.
    if (FILE* file = OpenHostFile(host, mode)) return file;
  }
  bool exists;
  if (!ResolveForUse(path, &host, &exists)) return nullptr;
  if (!exists && !creating) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (exists && writing) {
    tw::HostFileInfo info;
    if (!Query(host, &info)) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    if (info.isDirectory || (info.attributes & FILE_ATTRIBUTE_READONLY)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
  }
  FILE* file = OpenHostFile(host, mode);
  if (file == nullptr) return nullptr;
  if (!exists) {
    // A new file: created now, with the archive attribute (the default).
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tw::WriteCreationTime(host, tw::UnixToFileTime(now));
  }
  return file;
}
