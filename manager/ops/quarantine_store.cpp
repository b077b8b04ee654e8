// The quarantine store: list, restore and delete the scanner's records.
#include "manager/ops/quarantine_store.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <functional>
#include <vector>

#include "common/quarantine.h"
#include "manager/ops/files.h"
#include "platform/win32/win32.h"

namespace {

// The store is two levels deep; anything deeper than this is not ours.
const int kMaxDepth = 16;

// Calendar date of a count of days since 1601-01-01 (proleptic Gregorian).
void DaysToDate(int64_t days, int64_t* year, int* month, int* day) {
  // Shift to days since 0000-03-01 and use 400-year eras.
  int64_t z = days + 584694;  // 1601-01-01 is day 584694 after 0000-03-01
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  *day = (int)(doy - (153 * mp + 2) / 5 + 1);
  *month = (int)(mp < 10 ? mp + 3 : mp - 9);
  *year = yoe + era * 400 + (*month <= 2 ? 1 : 0);
}

void FormatDate(char out[20], int64_t year, int month, int day) {
  char text[64];
  snprintf(text, sizeof text, "%.4lld-%.2d-%.2d", (long long)year, month, day);
  size_t n = strnlen(text, 19);
  memcpy(out, text, n);
  out[n] = 0;
}

void CreationDate(int64_t fileTime, char out[20]) {
  // The time as stored, without a time-zone shift; the field is unsigned.
  uint64_t ticks = (uint64_t)fileTime;
  int64_t days = (int64_t)(ticks / 10000000ull / 86400ull);
  int64_t year;
  int month, day;
  DaysToDate(days, &year, &month, &day);
  FormatDate(out, year, month, day);
}

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

struct Found {
  std::string path;
  bool folder;
  bool link;
};

// The entries of one folder, "." and ".." left out.
std::vector<Found> ListFolder(const std::string& folder) {
  std::vector<Found> out;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*.*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return out;
  do {
    if (strcmp(data.cFileName, ".") == 0 || strcmp(data.cFileName, "..") == 0) continue;
    out.push_back({folder + "\\" + data.cFileName,
                   (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                   (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return out;
}

// Every file under `folder`, depth first; links are not followed.
void WalkFiles(const std::string& folder, int depth,
               const std::function<void(const std::string&)>& onFile) {
  if (depth > kMaxDepth) return;
  for (const Found& item : ListFolder(folder)) {
    if (item.folder && !item.link)
      WalkFiles(item.path, depth + 1, onFile);
    else if (!item.folder)
      onFile(item.path);
  }
}

// Whether `path` is a link on the host (the attribute calls follow links).
bool IsHostLink(const std::string& path) {
  std::string host;
  struct stat st;
  return Win32HostPath(path.c_str(), &host) && lstat(host.c_str(), &st) == 0 &&
         S_ISLNK(st.st_mode);
}

bool DeletePlainFile(const std::string& path) {
  // A link goes as it is: clearing the bits through it would change the
  // attributes of the file it names, outside the store.
  if (IsHostLink(path)) return DeleteFileA(path.c_str()) != FALSE;
  DWORD attributes = GetFileAttributesA(path.c_str());
  const DWORD kInTheWay = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;
  bool cleared = attributes != INVALID_FILE_ATTRIBUTES && (attributes & kInTheWay) &&
                 SetFileAttributesA(path.c_str(), attributes & ~kInTheWay);
  if (DeleteFileA(path.c_str())) return true;
  // The file stays: so do its bits.
  if (cleared) SetFileAttributesA(path.c_str(), attributes);
  return false;
}

// Removes folders left empty under `folder` and then `folder` itself when it
// is empty. With `deleteFiles`, every file goes first. True when `folder` is gone.
bool PruneTree(const std::string& folder, int depth, bool deleteFiles) {
  if (depth > kMaxDepth) return false;
  for (const Found& item : ListFolder(folder)) {
    if (item.link)
      RemoveDirectoryA(item.path.c_str()) || DeleteFileA(item.path.c_str());
    else if (item.folder)
      PruneTree(item.path, depth + 1, deleteFiles);
    else if (deleteFiles)
      DeletePlainFile(item.path);
  }
  return RemoveDirectoryA(folder.c_str()) != FALSE;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

void ToFileTime(int64_t value, FILETIME* out) {
  out->dwLowDateTime = (DWORD)(uint64_t)value;
  out->dwHighDateTime = (DWORD)((uint64_t)value >> 32);
}

// Whether `path` names something inside the folder `root`, by where both
// lie on the host, so that other spellings of the same place (case, "..",
// doubled separators, links) are caught too.
bool LiesInside(const std::string& root, const char* path) {
  std::string rootHost, pathHost;
  if (!Win32HostPath(root.c_str(), &rootHost) || !Win32HostPath(path, &pathHost)) return false;
  char* realRoot = realpath(rootHost.c_str(), nullptr);
  if (realRoot == nullptr) return false;  // no store: nothing in it to protect
  size_t slash = pathHost.find_last_of('/');
  std::string folder = slash == std::string::npos ? std::string(".") : pathHost.substr(0, slash + 1);
  char* realFolder = realpath(folder.c_str(), nullptr);
  bool inside = false;
  if (realFolder != nullptr) {
    std::string r = realRoot, f = realFolder;
    inside = f == r || (f.size() > r.size() && f.compare(0, r.size(), r) == 0 && f[r.size()] == '/');
  }
  free(realRoot);
  free(realFolder);
  return inside;
}

// Whether the last name of `path` fits a folder entry (at most 255 bytes on
// the host).
bool NameFits(const std::string& path) {
  std::string host;
  if (!Win32HostPath(path.c_str(), &host)) return false;
  size_t slash = host.find_last_of('/');
  return host.size() - (slash == std::string::npos ? 0 : slash + 1) <= 255;
}

// A free name beside `path` for content that is still being written. A link
// there, even one naming nothing, is not free: writing would go through it.
// Beside a name too long to take the suffix, a short name in the same folder
// serves: a file whose name is as long as the system allows must restore too.
std::string TempBeside(const char* path) {
  size_t separator = AnsiLastSeparator(path);
  std::string folder =
      separator == std::string::npos ? std::string() : std::string(path, separator + 1);
  for (int i = 0; i < 100; ++i) {
    std::string number = i > 0 ? std::to_string(i) : "";
    std::string temp = std::string(path) + ".tw-restore" + number;
    if (!NameFits(temp)) temp = folder + "~tw-restore" + number + ".tmp";
    if (GetFileAttributesA(temp.c_str()) == INVALID_FILE_ATTRIBUTES && !IsHostLink(temp))
      return temp;
  }
  return std::string();
}

// Writes the content back to the record's own origin path, with the times the
// record keeps. An existing file there keeps its attributes (the record has
// none). The content is written beside the origin first and takes its place
// only when whole, so a failed write (a full disk) leaves the file that stood
// there as it was.
// A file link at the origin is replaced as the link itself, as deleting one
// in the store deletes the link: the attributes the link shows are those of
// the file it names, outside the origin, which is neither written nor changed,
// and the restored file does not take them. A link to a folder is refused as
// a folder is.
bool WriteOrigin(const QuarantineInfo& info, const uint8_t* content) {
  if (info.path[0] == 0) return false;
  bool link = IsHostLink(info.path);
  DWORD before = GetFileAttributesA(info.path);
  if (before != INVALID_FILE_ATTRIBUTES && (before & FILE_ATTRIBUTE_DIRECTORY)) return false;
  bool existed = before != INVALID_FILE_ATTRIBUTES && !link;
  std::string temp = TempBeside(info.path);
  if (temp.empty()) return false;
  FILE* out = Win32OpenFile(temp.c_str(), "wb+");
  if (out == nullptr) return false;
  bool ok = info.size == 0 || fwrite(content, 1, info.size, out) == info.size;
  if (fclose(out) != 0) ok = false;
  // Read-only is lifted only for the replacement.
  bool readOnly = existed && (before & FILE_ATTRIBUTE_READONLY);
  if (ok && readOnly) SetFileAttributesA(info.path, before & ~FILE_ATTRIBUTE_READONLY);
  ok = ok && MoveFileExA(temp.c_str(), info.path, MOVEFILE_REPLACE_EXISTING);
  if (!ok) {
    DeleteFileA(temp.c_str());
    if (readOnly) SetFileAttributesA(info.path, before);
    return false;
  }
  if (existed) SetFileAttributesA(info.path, before);
  FILETIME times[3];
  for (int i = 0; i < 3; ++i) ToFileTime(info.fileTimes[i], &times[i]);
  SetFileTimeA(info.path, info.fileTimes[0] ? &times[0] : nullptr,
               info.fileTimes[1] ? &times[1] : nullptr,
               info.fileTimes[2] ? &times[2] : nullptr);
  return true;
}

// Reads, checks and (for a restore) writes back one record file, then deletes
// it. False, with the record file left as it is, on any failure.
// A record's origin is read from the record itself: one that points into the
// store would overwrite other records (or itself) when restored.
bool ActOnRecordFile(const std::string& root, const std::string& recordPath, bool restore) {
  std::vector<uint8_t> data;
  if (!ReadWholeFile(recordPath.c_str(), &data) || data.empty()) return false;
  if (data.size() > 0xFFFFFFFFu) return false;
  uint32_t length = (uint32_t)data.size();
  QuarantineInfo info;
  if (QuarantineParse(data.data(), length, &info) != kQrOk) return false;
  uint8_t* content = nullptr;
  if (QuarantineOpenContent(data.data(), length, &info, &content) != kQrOk) return false;
  if (restore && (LiesInside(root, info.path) || !WriteOrigin(info, content))) return false;
  return DeletePlainFile(recordPath);
}

bool ParseEntry(const std::string& recordPath, QuarantineEntry* entry) {
  uint8_t head[kQuarantineListBytes];
  memset(head, 0, sizeof head);
  FILE* file = Win32OpenFile(recordPath.c_str(), "rb");
  if (file == nullptr) return false;
  // One read of the head straight into place; a stream buffer would cost a
  // stat of the file for each of thousands of records.
  setvbuf(file, nullptr, _IONBF, 0);
  size_t got = fread(head, 1, sizeof head, file);
  fclose(file);
  QuarantineInfo info;
  if (QuarantineParse(head, (uint32_t)got, &info) != kQrOk) return false;
  entry->size = (int32_t)info.size;
  memcpy(entry->contentDigest, info.d1, 16);
  memcpy(entry->recordDigest, info.d2, 16);
  FormatDate(entry->quarantineDate, info.quarantineTime[0], info.quarantineTime[1],
             info.quarantineTime[3]);
  CreationDate(info.fileTimes[0], entry->creationDate);
  static_assert(sizeof entry->virusName == sizeof info.virusName, "name field");
  static_assert(sizeof entry->path == sizeof info.path, "path field");
  memcpy(entry->virusName, info.virusName, sizeof entry->virusName);
  memcpy(entry->path, info.path, sizeof entry->path);
  entry->recordPath = recordPath;
  return true;
}

}  // namespace

QuarantineStore::QuarantineStore(const char* root)
    : root_(root != nullptr ? root : kQuarantineRoot) {}

std::string QuarantineStore::RecordName(const QuarantineEntry& entry) {
  char name[kQuarantineRecordNameSize];
  QuarantineRecordName(entry.recordDigest, name);
  return name;
}

bool QuarantineStore::LoadStore() {
  entries_.clear();
  if (!IsFolder(root_)) return false;
  WalkFiles(root_, 0, [this](const std::string& path) {
    QuarantineEntry entry;
    if (ParseEntry(path, &entry)) entries_.push_back(entry);
  });
  return true;
}

bool QuarantineStore::RestoreOrDelete(const char* name, bool restore) {
  uint8_t digest[16];
  if (!QuarantineParseRecordName(name, digest)) return false;
  char canonical[kQuarantineRecordNameSize];
  QuarantineRecordName(digest, canonical);
  char digit[2] = {"0123456789abcdef"[QuarantineRecordDigit(digest)], 0};
  std::string recordPath = root_ + "\\" + digit + "\\" + canonical;

  // The entry of this very record file: by where it was found, else by digest.
  auto own = entries_.end();
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (EqualNoCase(it->recordPath, recordPath)) {
      own = it;
      break;
    }
  }
  if (own == entries_.end()) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (memcmp(it->recordDigest, digest, 16) == 0) {
        own = it;
        break;
      }
    }
  }
  if (GetFileAttributesA(recordPath.c_str()) == INVALID_FILE_ATTRIBUTES &&
      own != entries_.end())
    recordPath = own->recordPath;

  if (!ActOnRecordFile(root_, recordPath, restore)) return false;
  if (own != entries_.end()) entries_.erase(own);
  return true;
}

bool QuarantineStore::RestoreRecord(const char* name) { return RestoreOrDelete(name, true); }

bool QuarantineStore::DeleteRecord(const char* name) { return RestoreOrDelete(name, false); }

bool QuarantineStore::DeleteAll() {
  if (!IsFolder(root_)) return false;
  // A root that is a link goes as a link, as links inside the store do: what
  // it names is some other folder, never emptied from here.
  bool gone = IsHostLink(root_) ? RemoveDirectoryA(root_.c_str()) != FALSE
                                : PruneTree(root_, 0, true);
  if (gone)
    entries_.clear();
  else
    LoadStore();  // show what could not be deleted
  return gone;
}

bool QuarantineStore::RestoreAll() {
  if (!IsFolder(root_)) return false;
  // Through a root that is a link only the records are taken (restored, then
  // deleted); other files and folders there are not the store's.
  bool linked = IsHostLink(root_);
  std::vector<std::string> files;
  WalkFiles(root_, 0, [&files](const std::string& path) { files.push_back(path); });
  for (const std::string& path : files) {
    uint8_t head[kQrKind + 4] = {};
    FILE* file = Win32OpenFile(path.c_str(), "rb");
    if (file == nullptr) continue;
    size_t got = fread(head, 1, sizeof head, file);
    fclose(file);
    if (QuarantineIsRecord(head, (uint32_t)got))
      ActOnRecordFile(root_, path, true);  // a failed restore keeps its record
    else if (!linked)
      DeletePlainFile(path);        // not a record: not ours to keep
  }
  if (linked) {
    LoadStore();
    if (entries_.empty()) RemoveDirectoryA(root_.c_str());  // the link only
    return true;
  }
  PruneTree(root_, 0, false);
  // The list now holds exactly the records that stayed.
  if (IsFolder(root_))
    LoadStore();
  else
    entries_.clear();
  return true;
}
