// File and directory objects of the stand-in and the names that reach them.
#pragma once

#include <sys/types.h>

#include "platform/nt/internal.h"

namespace tw {
namespace nt {

// What a native file name designates.
struct FileName {
  bool keyboard = false;  // "\Device\KeyboardClass0"
  int drive = -1;
  std::vector<std::string> components;  // UTF-8, as given (not yet resolved)
  bool trailingSlash = false;           // "...\dir\": must be a directory
};

// Parses ObjectAttributes (with its root directory) into a FileName.
NTSTATUS ParseFileName(const OBJECT_ATTRIBUTES* attributes, FileName* out);

// Open-file bookkeeping per host file (device, inode): share modes and a
// pending delete, as the I/O manager keeps them per file.
struct ShareEntry;

struct FileObject : Object {
  FileObject() : Object(Kind::File) {}
  ~FileObject() override;
  void OnClose() override;

  int fd = -1;
  bool isDirectory = false;
  int drive = -1;
  std::vector<std::string> components;  // host names from the drive root
  std::string hostPath;
  ACCESS_MASK access = 0;
  ULONG options = 0;
  bool synchronous = false;
  dev_t device = 0;
  ino_t inode = 0;
  bool shareCounted = false;
  ULONG shareMode = 0;

  std::mutex m;  // guards everything below
  int64_t position = 0;
  // Directory enumeration: a sorted snapshot taken by the first query.
  bool listed = false;
  std::u16string pattern;
  std::vector<std::pair<std::u16string, std::string>> entries;  // display name, host name
  size_t nextEntry = 0;
  XattrHint xattrHint;
};

// The host path of the parent of a file object's folder (for "..").
std::string ParentHostPath(const FileObject& f);
// "\dir\file" of a file object (FileNameInformation).
std::u16string DrivePathOf(const FileObject& f);
// Whether `name` matches a directory pattern (* ? and the DOS wildcards
// < > "), case-insensitively.
bool MatchPattern(const std::u16string& pattern, const std::u16string& name);

constexpr ACCESS_MASK kReadData = 0x0001;
constexpr ACCESS_MASK kWriteData = 0x0002;
constexpr ACCESS_MASK kAppendData = 0x0004;
constexpr ACCESS_MASK kExecute = 0x0020;
constexpr ACCESS_MASK kReadAttributes = 0x0080;
constexpr ACCESS_MASK kWriteAttributes = 0x0100;
constexpr ULONG kDeleteOnClose = 0x00001000;

}  // namespace nt
}  // namespace tw
