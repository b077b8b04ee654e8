// NtQueryDirectoryFile: fills the caller's buffer with as many directory
// records as fit, from a sorted snapshot of the folder taken by the first
// query (or a restart). Record layouts (name offset):
//   class 1 FILE_DIRECTORY_INFORMATION       64
//   class 2 FILE_FULL_DIR_INFORMATION        68  (+ EaSize)
//   class 3 FILE_BOTH_DIR_INFORMATION        94  (+ EaSize, short name)
//   class 12 FILE_NAMES_INFORMATION          12
// Each record starts on an 8-byte boundary; NextEntryOffset chains them and
// is 0 in the last one.
#include <dirent.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/nt/files.h"

namespace tw {
namespace nt {

namespace {

// Wildcard matching after FsRtlIsNameInExpression: * any run, ? one
// character, < (DOS star) any run not crossing the name's last dot,
// > (DOS question mark) one character or nothing at a dot or the end,
// " (DOS dot) a dot or nothing at the end. Case-insensitive.
bool Match(const std::u16string& p, const std::u16string& n) {
  size_t lastDot = n.rfind(u'.');
  // reach[j]: the pattern prefix processed so far can match n[0..j).
  std::vector<char> reach(n.size() + 1, 0), next(n.size() + 1, 0);
  reach[0] = 1;
  for (char16_t pc : p) {
    std::fill(next.begin(), next.end(), 0);
    for (size_t j = 0; j <= n.size(); ++j) {
      if (!reach[j]) continue;
      switch (pc) {
        case u'*':
          for (size_t k = j; k <= n.size(); ++k) next[k] = 1;
          break;
        case u'<':
          next[j] = 1;
          for (size_t k = j; k < n.size(); ++k) {
            if (lastDot != std::u16string::npos && k == lastDot) break;
            next[k + 1] = 1;
          }
          break;
        case u'?':
          if (j < n.size()) next[j + 1] = 1;
          break;
        case u'>':
          if (j == n.size() || n[j] == u'.') {
            next[j] = 1;
          } else {
            next[j + 1] = 1;
          }
          break;
        case u'"':
          if (j == n.size()) next[j] = 1;
          if (j < n.size() && n[j] == u'.') next[j + 1] = 1;
          break;
        default:
          if (j < n.size() && FoldUpper(n[j]) == FoldUpper(pc)) next[j + 1] = 1;
          break;
      }
    }
    reach.swap(next);
  }
  return reach[n.size()] != 0;
}

}  // namespace

bool MatchPattern(const std::u16string& pattern, const std::u16string& name) {
  if (pattern.empty() || pattern == u"*" || pattern == u"*.*") return true;
  return Match(pattern, name);
}

namespace {

size_t NameOffset(FILE_INFORMATION_CLASS c) {
  switch (c) {
    case FileDirectoryInformation: return 64;
    case FileFullDirectoryInformation: return 68;
    case FileBothDirectoryInformation: return offsetof(FILE_BOTH_DIR_INFORMATION, FileName);
    case FileNamesInformation: return 12;
    default: return 0;
  }
}

void Put32(uint8_t* p, size_t at, uint32_t v) { memcpy(p + at, &v, 4); }
void Put64(uint8_t* p, size_t at, int64_t v) { memcpy(p + at, &v, 8); }

// Writes one record's fixed part (everything but the name) at `rec`.
void WriteFixed(uint8_t* rec, FILE_INFORMATION_CLASS c, const HostFileInfo& i, uint32_t nameBytes) {
  memset(rec, 0, NameOffset(c));
  if (c == FileNamesInformation) {
    Put32(rec, 8, nameBytes);
    return;
  }
  Put64(rec, 8, i.creationTime);
  Put64(rec, 16, i.lastAccessTime);
  Put64(rec, 24, i.lastWriteTime);
  Put64(rec, 32, i.changeTime);
  Put64(rec, 40, static_cast<int64_t>(i.size));
  Put64(rec, 48, static_cast<int64_t>(i.allocation));
  Put32(rec, 56, i.attributes);
  Put32(rec, 60, nameBytes);
  // EaSize (64) and the empty short name (68, 70) stay zero.
}

bool TakeSnapshot(FileObject* f) {
  int fd = open(f->hostPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* d = fdopendir(fd);
  if (d == nullptr) {
    close(fd);
    return false;
  }
  // Sorted case-insensitively, as CompareNoCase orders names: by the folded
  // names, then by the names themselves. Each name is folded once here
  // rather than in every comparison of the sort.
  struct Named {
    std::u16string folded, name;
    std::string host;
  };
  std::vector<Named> names;
  while (struct dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    Named n;
    n.name = Utf8ToUtf16(e->d_name);
    n.folded = n.name;
    for (char16_t& c : n.folded) c = FoldUpper(c);
    n.host = e->d_name;
    names.push_back(std::move(n));
  }
  closedir(d);
  std::sort(names.begin(), names.end(), [](const Named& a, const Named& b) {
    int order = a.folded.compare(b.folded);
    return order != 0 ? order < 0 : a.name < b.name;
  });
  f->entries.clear();
  f->entries.reserve(names.size() + 2);
  // NTFS lists "." and ".." in every folder but the volume's root.
  if (!f->components.empty()) {
    f->entries.emplace_back(u".", ".");
    f->entries.emplace_back(u"..", "..");
  }
  for (auto& n : names) f->entries.emplace_back(std::move(n.name), std::move(n.host));
  f->nextEntry = 0;
  f->listed = true;
  return true;
}

// Host information of one snapshot entry; false when it is gone.
bool EntryInfo(FileObject& f, const std::string& hostName, HostFileInfo* info) {
  bool plain = hostName != "." && hostName != "..";
  std::string path = !plain ? (hostName == "." ? f.hostPath : ParentHostPath(f)) : f.hostPath + "/" + hostName;
  // Entries are looked at relative to the open folder, sparing a walk of the
  // whole path for each of them.
  int at = plain && f.fd >= 0 ? f.fd : AT_FDCWD;
  const char* name = at == AT_FDCWD ? path.c_str() : hostName.c_str();
  struct stat st;
  if (fstatat(at, name, &st, plain ? AT_SYMLINK_NOFOLLOW : 0) != 0) return false;
  // A host link is listed as what it leads to, marked as a reparse point the
  // way NTFS lists a junction or symbolic link; a dangling one is listed as
  // what it is: a file. "." and ".." are the folders themselves.
  bool link = plain && S_ISLNK(st.st_mode);
  if (link) {
    struct stat target;
    if (fstatat(at, name, &target, 0) == 0) st = target;
  }
  FillHostFileInfo(path, st, info, &f.xattrHint);
  if (link) {
    if (info->attributes == FILE_ATTRIBUTE_NORMAL) info->attributes = 0;
    info->attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  }
  return true;
}

}  // namespace

}  // namespace nt
}  // namespace tw

using namespace tw;
using namespace tw::nt;

extern "C" NTSTATUS NtQueryDirectoryFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                                         PIO_STATUS_BLOCK IoStatusBlock, PVOID FileInformation, ULONG Length,
                                         FILE_INFORMATION_CLASS FileInformationClass, BOOLEAN ReturnSingleEntry,
                                         PUNICODE_STRING FileName, BOOLEAN RestartScan) {
  TW_FAULT("NtQueryDirectoryFile");
  std::shared_ptr<Object> o = LookUp(FileHandle);
  if (!o) return STATUS_INVALID_HANDLE;
  if (o->kind != Kind::File) return TW_STATUS_OBJECT_TYPE_MISMATCH;
  auto f = std::static_pointer_cast<FileObject>(o);
  if (!f->isDirectory) return STATUS_INVALID_PARAMETER;
  if (!(f->access & FILE_LIST_DIRECTORY)) return STATUS_ACCESS_DENIED;
  if (IoStatusBlock == nullptr || FileInformation == nullptr) return STATUS_INVALID_PARAMETER;
  size_t header = NameOffset(FileInformationClass);
  if (header == 0) return STATUS_INVALID_INFO_CLASS;
  if (Length < header) return STATUS_INFO_LENGTH_MISMATCH;
  std::shared_ptr<tw::nt::Event> event;
  if (Event != nullptr) {
    event = LookUpAs<tw::nt::Event>(Event, Kind::Event);
    if (!event) return STATUS_INVALID_HANDLE;
    event->Clear();
  }

  std::lock_guard<std::mutex> g(f->m);
  bool first = !f->listed || RestartScan;
  if (first) {
    // The pattern is taken by the first query; a restart may give a new one.
    if (!f->listed || (FileName != nullptr && FileName->Length != 0)) {
      f->pattern = FileName != nullptr ? FromCounted(FileName) : std::u16string();
    }
    if (!TakeSnapshot(f.get())) {
      IoStatusBlock->Status = STATUS_NO_SUCH_FILE;
      IoStatusBlock->Information = 0;
      if (event) event->Set();
      return STATUS_NO_SUCH_FILE;
    }
  }

  uint8_t* buf = static_cast<uint8_t*>(FileInformation);
  size_t used = 0;        // end of the last record written
  size_t lastStart = 0;   // where the last record starts
  size_t count = 0;
  NTSTATUS status = STATUS_SUCCESS;
  while (f->nextEntry < f->entries.size()) {
    const auto& entry = f->entries[f->nextEntry];
    if (!MatchPattern(f->pattern, entry.first)) {
      f->nextEntry++;
      continue;
    }
    HostFileInfo info;
    if (!EntryInfo(*f, entry.second, &info)) {
      f->nextEntry++;
      continue;
    }
    size_t nameBytes = entry.first.size() * 2;
    size_t start = count == 0 ? 0 : (used + 7) & ~static_cast<size_t>(7);
    size_t size = header + nameBytes;
    if (count == 0 && size > Length) {
      // Not even one whole record fits: hand out the truncated record,
      // report the overflow and move past it, as the file systems do.
      size_t room = (Length - header) & ~static_cast<size_t>(1);
      WriteFixed(buf, FileInformationClass, info, static_cast<uint32_t>(room));
      memcpy(buf + header, entry.first.data(), room);
      f->nextEntry++;
      used = header + room;
      count = 1;
      status = STATUS_BUFFER_OVERFLOW;
      break;
    }
    if (start + size > Length) break;
    if (count > 0) Put32(buf, lastStart, static_cast<uint32_t>(start - lastStart));
    WriteFixed(buf + start, FileInformationClass, info, static_cast<uint32_t>(nameBytes));
    memcpy(buf + start + header, entry.first.data(), nameBytes);
    lastStart = start;
    used = start + size;
    count++;
    f->nextEntry++;
    if (ReturnSingleEntry) break;
  }
  if (count == 0) status = first ? STATUS_NO_SUCH_FILE : STATUS_NO_MORE_FILES;
  IoStatusBlock->Status = status;
  IoStatusBlock->Information = count == 0 ? 0 : used;
  if (event) event->Set();
  return status;
}
