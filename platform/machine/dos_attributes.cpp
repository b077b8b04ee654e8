// DOS attributes and creation times of host files, kept in extended
// attributes beside the file:
//   user.DOSATTRIB       "0x" hex digits [NUL]   e.g. "0x22" = hidden + archive
//   user.tarnwell.ctime  decimal FILETIME        e.g. "133000000000000000"
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/xattr.h>

#include "platform/machine/machine.h"

namespace tw {

int64_t UnixToFileTime(const struct timespec& ts) {
  // Host file systems keep times a FILETIME cannot count (tmpfs takes any
  // 64-bit second count); those become its first and last value instead of
  // overflowing into an arbitrary one.
  const int64_t kFirstSecond = -kFileTimeUnixEpoch / 10000000;  // 1601-01-01
  const int64_t kLastSecond = (INT64_MAX - kFileTimeUnixEpoch) / 10000000;
  int64_t sec = static_cast<int64_t>(ts.tv_sec);
  if (sec < kFirstSecond) return 0;
  if (sec > kLastSecond) return INT64_MAX;
  int64_t whole = kFileTimeUnixEpoch + sec * 10000000;
  int64_t fraction = ts.tv_nsec / 100;
  if (fraction > INT64_MAX - whole) return INT64_MAX;
  return whole + fraction < 0 ? 0 : whole + fraction;
}

struct timespec FileTimeToUnix(int64_t fileTime) {
  // Whole seconds first: the 1970 offset is a whole number of them, and any
  // 64-bit value a caller hands in stays in range.
  int64_t sec = fileTime / 10000000 - kFileTimeUnixEpoch / 10000000;
  int64_t rem = fileTime % 10000000;
  if (rem < 0) {
    rem += 10000000;
    sec -= 1;
  }
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(sec);
  ts.tv_nsec = static_cast<long>(rem * 100);
  return ts;
}

bool ParseDosAttrib(const char* text, size_t length, uint32_t* attributes) {
  if (length > 0 && text[length - 1] == '\0') --length;
  if (length < 3 || length > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
  uint32_t v = 0;
  for (size_t i = 2; i < length; ++i) {
    char c = text[i];
    uint32_t d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return false;
    }
    v = v << 4 | d;
  }
  *attributes = v;
  return true;
}

namespace {

bool ParseCreation(const char* text, size_t length, int64_t* value) {
  if (length == 0 || length > 20) return false;
  int64_t v = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    if (v > (INT64_MAX - 9) / 10) return false;
    v = v * 10 + (text[i] - '0');
  }
  *value = v;
  return true;
}

// The attribute word as Windows reports it.
uint32_t Reported(bool haveStored, uint32_t stored, bool isDirectory) {
  uint32_t a = haveStored ? stored : (isDirectory ? kAttrDirectory : kAttrArchive);
  if (isDirectory) return a | kAttrDirectory;
  a &= ~kAttrDirectory;
  return a == 0 ? kAttrNormal : a;
}

std::string StoredText(uint32_t attributes, bool isDirectory) {
  uint32_t a = (attributes == kAttrNormal) ? 0 : (attributes & kAttrSettable);
  if (isDirectory) a |= kAttrDirectory;
  char buf[16];
  snprintf(buf, sizeof buf, "0x%x", a);
  return buf;
}

// Errors that mean "this file system keeps no such attributes".
bool Unsupported(int err) { return err == ENOTSUP || err == EOPNOTSUPP || err == EPERM; }

}  // namespace

bool ReadStoredDosAttributes(const std::string& hostPath, uint32_t* attributes) {
  char buf[32];
  ssize_t n = getxattr(hostPath.c_str(), kDosAttribXattr, buf, sizeof buf);
  return n > 0 && ParseDosAttrib(buf, static_cast<size_t>(n), attributes);
}

void FillHostFileInfo(const std::string& hostPath, const struct stat& st, HostFileInfo* info,
                      XattrHint* hint) {
  info->isDirectory = S_ISDIR(st.st_mode);
  info->size = info->isDirectory ? 0 : static_cast<uint64_t>(st.st_size);
  info->allocation = info->isDirectory ? 0 : static_cast<uint64_t>(st.st_blocks) * 512;
  info->lastAccessTime = UnixToFileTime(st.st_atim);
  info->lastWriteTime = UnixToFileTime(st.st_mtim);
  info->changeTime = UnixToFileTime(st.st_ctim);
  info->creationTime = info->lastWriteTime;
  info->fileId = st.st_ino;
  info->links = static_cast<uint32_t>(st.st_nlink);

  // Most host files carry neither attribute, and one listxattr says so; files
  // we wrote carry both, and then asking for them directly is one call less.
  // The hint only picks the cheaper way: both read the same values.
  bool hasDos = true, hasCreation = true;
  if (hint == nullptr || !hint->direct) {
    char names[512];
    ssize_t n = listxattr(hostPath.c_str(), names, sizeof names);
    bool tooMany = n < 0 && errno == ERANGE;
    hasDos = hasCreation = tooMany;
    for (ssize_t i = 0; i < n;) {
      const char* name = names + i;
      size_t len = strnlen(name, static_cast<size_t>(n - i));
      if (len == strlen(kDosAttribXattr) && memcmp(name, kDosAttribXattr, len) == 0) hasDos = true;
      if (len == strlen(kCreationXattr) && memcmp(name, kCreationXattr, len) == 0) hasCreation = true;
      i += static_cast<ssize_t>(len) + 1;
    }
  }
  bool haveStored = false;
  uint32_t stored = 0;
  if (hasDos) haveStored = ReadStoredDosAttributes(hostPath, &stored);
  bool haveCreation = false;
  if (hasCreation) {
    char buf[32];
    ssize_t m = getxattr(hostPath.c_str(), kCreationXattr, buf, sizeof buf);
    int64_t v;
    haveCreation = m > 0 && ParseCreation(buf, static_cast<size_t>(m), &v);
    if (haveCreation) info->creationTime = v;
  }
  if (hint != nullptr) hint->direct = haveStored && haveCreation;
  info->attributes = Reported(haveStored, stored, info->isDirectory);
}

int QueryHostFile(const std::string& hostPath, HostFileInfo* info) {
  struct stat st;
  if (stat(hostPath.c_str(), &st) != 0) return errno;
  FillHostFileInfo(hostPath, st, info);
  return 0;
}

int QueryHostFd(int fd, HostFileInfo* info) {
  struct stat st;
  if (fstat(fd, &st) != 0) return errno;
  // Through /proc the path-based xattr calls reach the open file itself,
  // even when it was renamed or its name is no longer known.
  FillHostFileInfo("/proc/self/fd/" + std::to_string(fd), st, info);
  return 0;
}

bool WriteDosAttributes(const std::string& hostPath, uint32_t attributes, bool isDirectory) {
  std::string text = StoredText(attributes, isDirectory);
  if (setxattr(hostPath.c_str(), kDosAttribXattr, text.data(), text.size(), 0) == 0) return true;
  return Unsupported(errno);
}

bool WriteDosAttributesFd(int fd, uint32_t attributes, bool isDirectory) {
  std::string text = StoredText(attributes, isDirectory);
  if (fsetxattr(fd, kDosAttribXattr, text.data(), text.size(), 0) == 0) return true;
  return Unsupported(errno);
}

bool WriteCreationTime(const std::string& hostPath, int64_t fileTime) {
  std::string text = std::to_string(fileTime < 0 ? 0 : fileTime);
  if (setxattr(hostPath.c_str(), kCreationXattr, text.data(), text.size(), 0) == 0) return true;
  return Unsupported(errno);
}

bool WriteCreationTimeFd(int fd, int64_t fileTime) {
  std::string text = std::to_string(fileTime < 0 ? 0 : fileTime);
  if (fsetxattr(fd, kCreationXattr, text.data(), text.size(), 0) == 0) return true;
  return Unsupported(errno);
}

}  // namespace tw
