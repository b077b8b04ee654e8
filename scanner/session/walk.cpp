// The directory walk: depth-first over a target tree, every file handed to
// the scan engine through the scan record, one self-overwriting progress
// line, and normal attributes for everything met on a removable disk.
#include "scanner/session/console.h"
#include "scanner/session/session.h"

namespace {

// One path buffer and one entry record serve every level of a walk: a level
// needs its entry only until it has extended the path, and the path of a
// level is the prefix that its parent left in the buffer.
WCHAR gWalkPath[kPathUnits];
FindDataW gEntry;
// A file's ANSI path turned back into UTF-16.
WCHAR gRoundTrip[kPathUnits];

// File-system identity of each directory on the current path, so that a
// link back to an ancestor is not entered again: a directory link loop would
// otherwise repeat the tree until the path is full, and two such links in
// one folder would make that exponential. A file index is unique only on its
// volume, and a junction may lead onto another one, so the volume's serial
// number is part of the identity. An identity that cannot be read (valid 0)
// matches nothing.
struct Identity {
  int64_t index;
  uint32_t volume;
  int valid;
};

// A folder tree without links has no cycles, so a folder whose path from the
// walk's start holds no linked folder (a reparse point) cannot repeat one
// above it, and needs no check. Below a link every folder does: the link may
// lead beside or above a folder on the path, and plain folders from there
// back down to it. Reading an identity costs an open, two queries and a
// close, as much as listing the folder, so each level's identity is read
// only when a folder below a link asks, from the level's prefix of the walk
// path.
struct Level {
  uint32_t pathLength;  // the level's path in gWalkPath, its backslash included
  int belowLink;        // the level or one above it is a linked folder
  int known;
  Identity identity;
};
Level gLevels[kMaxWalkDepth + 1];

const uint32_t kNameUnits = 260;

uint32_t BoundedLength(const WCHAR* text, uint32_t limit) {
  uint32_t n = 0;
  while (n < limit && text[n]) ++n;
  return n;
}

int IsDotEntry(const WCHAR* name, uint32_t length) {
  return (length == 1 && name[0] == u'.') || (length == 2 && name[0] == u'.' && name[1] == u'.');
}

// A name with a path separator in it (a disk written by another system may
// hold one) cannot be named by any path: joined to its folder it would name
// another file or folder, through ".." even one outside that folder.
int HasSeparator(const WCHAR* name, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i)
    if (name[i] == u'\\' || name[i] == u'/') return 1;
  return 0;
}

Identity DirectoryIdentity(const WCHAR* path) {
  Identity id = {0, 0, 0};
  UNICODE_STRING native;
  if (!RtlDosPathNameToNtPathName_U(path, &native, 0, 0)) return id;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &native, OBJ_CASE_INSENSITIVE, 0, 0);
  IO_STATUS_BLOCK status;
  HANDLE handle = 0;
  NTSTATUS open = NtOpenFile(&handle, SYNCHRONIZE | FILE_LIST_DIRECTORY, &attributes, &status,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT);
  RtlFreeUnicodeString(&native);
  if (!NT_SUCCESS(open)) return id;
  LARGE_INTEGER index;  // FILE_INTERNAL_INFORMATION
  index.QuadPart = 0;
  NTSTATUS query = NtQueryInformationFile(handle, &status, &index, sizeof index, FileInternalInformation);
  // FILE_FS_VOLUME_INFORMATION: creation time, serial number, label length,
  // object support, then the label (up to 32 characters on NTFS). A label
  // that does not fit is reported as an overflow, with the fixed part filled,
  // which is all the walk needs.
  uint8_t volume[96];
  NTSTATUS volumeQuery = NtQueryVolumeInformationFile(handle, &status, volume, sizeof volume, FileFsVolumeInformation);
  NtClose(handle);
  bool haveVolume = NT_SUCCESS(volumeQuery) || volumeQuery == STATUS_BUFFER_OVERFLOW;
  if (NT_SUCCESS(query) && haveVolume) {
    id.index = index.QuadPart;
    memcpy(&id.volume, volume + 8, sizeof id.volume);
    id.valid = 1;
  }
  return id;
}

// The identity of level i, read on first use. The walk path holds a deeper
// path, whose prefix is the level's; it is cut there for the read and mended.
Identity LevelIdentity(uint32_t i) {
  Level& level = gLevels[i];
  if (!level.known) {
    WCHAR kept = gWalkPath[level.pathLength];
    gWalkPath[level.pathLength] = 0;
    level.identity = DirectoryIdentity(gWalkPath);
    gWalkPath[level.pathLength] = kept;
    level.known = 1;
  }
  return level.identity;
}

int IsAncestor(Identity id, uint32_t depth) {
  if (!id.valid) return 0;
  for (uint32_t i = 0; i <= depth; ++i) {
    Identity ancestor = LevelIdentity(i);
    if (ancestor.valid && ancestor.index == id.index && ancestor.volume == id.volume) return 1;
  }
  return 0;
}

void EnterLevel(uint32_t depth, uint32_t pathLength, int belowLink) {
  gLevels[depth].pathLength = pathLength;
  gLevels[depth].belowLink = belowLink;
  gLevels[depth].known = 0;
}

typedef void (*EntryHandler)(uint32_t directoryLength, int usbFlag, uint32_t depth);

// Lists gWalkPath[0, directoryLength) (a directory ending in a backslash)
// and hands every entry to the handler, until the end or Esc.
void ListDirectory(uint32_t directoryLength, int usbFlag, uint32_t depth, EntryHandler handler) {
  if (directoryLength + 2 > kPathUnits) return;
  gWalkPath[directoryLength] = u'*';
  gWalkPath[directoryLength + 1] = 0;
  FindHandle handle = DirFindFirst(&gContext, gWalkPath, &gEntry);
  if (handle == RT_INVALID_HANDLE) {
    DirFindClose(&gContext, handle);
    return;
  }
  int found = 1;
  while (found && LastKey() != kKeyEsc) {
    handler(directoryLength, usbFlag, depth);
    found = DirFindNext(&gContext, handle, &gEntry);
  }
  DirFindClose(&gContext, handle);
}

// Appends the current entry's name to the directory in gWalkPath; answers
// the new length, or 0 for an entry that is skipped. Room is kept for the
// extra units a directory needs (backslash, "*", terminator).
uint32_t AppendEntryName(uint32_t directoryLength, uint32_t extraUnits) {
  uint32_t nameLength = BoundedLength(gEntry.name, kNameUnits);
  if (nameLength == 0 || nameLength == kNameUnits) return 0;
  if (IsDotEntry(gEntry.name, nameLength) || HasSeparator(gEntry.name, nameLength)) return 0;
  if (directoryLength + nameLength + extraUnits > kPathUnits) return 0;  // would not fit: skipped
  memcpy(gWalkPath + directoryLength, gEntry.name, nameLength * sizeof(WCHAR));
  gWalkPath[directoryLength + nameLength] = 0;
  return directoryLength + nameLength;
}

// Appends the current entry's name as a file; answers 0 for a name that the
// path would turn into another object: a DOS device name in any folder and
// with any extension ("F:\d\COM1.txt" is the serial port, whose read waits
// for ever at boot), a name ending in a dot or blank (the path's last name
// loses them, so "x.exe." names "x.exe"), a name with a colon (a stream of
// another file). A folder's path ends in a backslash and keeps its name.
uint32_t AppendFileName(uint32_t directoryLength) {
  uint32_t length = AppendEntryName(directoryLength, 1);
  if (!length) return 0;
  WCHAR last = gWalkPath[length - 1];
  if (last == u'.' || last == u' ') return 0;
  for (uint32_t i = directoryLength; i < length; ++i)
    if (gWalkPath[i] == u':') return 0;
  if (RtlIsDosDeviceName_U(gWalkPath) != 0) return 0;
  return length;
}

// On a removable disk a reparse point (a junction or a linked file) is not
// made normal, and a linked folder is not entered: what it leads to lies
// elsewhere, as often as not on the system drive, and a stick with a
// junction to C:\ would otherwise strip the hidden and system attributes
// of the whole system. Fixed drives are never changed, so their walks go on
// through links (the ancestor check stops loops).
void TreeEntry(uint32_t directoryLength, int usbFlag, uint32_t depth) {
  const bool linked = (gEntry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (gEntry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
    if (depth >= kMaxWalkDepth || (usbFlag && linked)) return;
    uint32_t length = AppendEntryName(directoryLength, 3);
    if (!length) return;
    gWalkPath[length] = u'\\';
    gWalkPath[length + 1] = 0;
    if (usbFlag) FileSetAttributesW(&gContext, gWalkPath, FILE_ATTRIBUTE_NORMAL);
    const int belowLink = linked || gLevels[depth].belowLink;
    EnterLevel(depth + 1, length + 1, belowLink);
    if (belowLink) {
      Identity id = LevelIdentity(depth + 1);
      if (IsAncestor(id, depth)) return;
    }
    ListDirectory(length + 1, usbFlag, depth + 1, TreeEntry);
  } else {
    if (!AppendFileName(directoryLength)) return;
    if (usbFlag && !linked) FileSetAttributesW(&gContext, gWalkPath, FILE_ATTRIBUTE_NORMAL);
    ScanOneFile(gWalkPath);
  }
}

void FilesOnlyEntry(uint32_t directoryLength, int usbFlag, uint32_t depth) {
  if (gEntry.attributes & FILE_ATTRIBUTE_DIRECTORY) return;
  if (!AppendFileName(directoryLength)) return;
  ScanOneFile(gWalkPath);
}

// Copies a target directory into the walk buffer; answers its length, or 0
// when it is empty, does not end in a backslash, or leaves no room.
uint32_t StartWalk(const WCHAR* directory) {
  if (!directory || LastKey() == kKeyEsc) return 0;
  uint32_t length = BoundedLength(directory, kPathUnits);
  if (length == 0 || length + 2 > kPathUnits || directory[length - 1] != u'\\') return 0;
  memmove(gWalkPath, directory, length * sizeof(WCHAR));
  gWalkPath[length] = 0;
  return length;
}

}  // namespace

void ScanTree(const WCHAR* directory, int usbFlag) {
  uint32_t length = StartWalk(directory);
  if (!length) return;
  EnterLevel(0, length, 0);
  ListDirectory(length, usbFlag, 0, TreeEntry);
}

void ScanDirectoryFiles(const WCHAR* directory) {
  uint32_t length = StartWalk(directory);
  if (length) ListDirectory(length, 0, 0, FilesOnlyEntry);
}

int ScanOneFile(const WCHAR* path) {
  char ansi[kAnsiPathBytes];
  ansi[0] = 0;
  WideToAnsi(&gContext, path, ansi, sizeof ansi);
  // A path whose ANSI form does not fit 1023 bytes is left as it was: empty.
  if (!ansi[0]) return 1;
  ShowProgress(ansi);
  TextCopy(gScanRecord.path, sizeof gScanRecord.path, ansi);
  gScanRecord.result = kResultNone;
  // The engine turns the ANSI path back into UTF-16. When that does not give
  // this path again (a character the code page lacks became "?", or a
  // best-fit look-alike: a full-width "COM1" would name the serial port),
  // the ANSI path names another file, a device or nothing. Such a file is
  // shown and counted as one whose open fails, but not handed on.
  gRoundTrip[0] = 0;
  AnsiToWide(&gContext, ansi, gRoundTrip, sizeof gRoundTrip);
  uint32_t length = TextLenW(path);
  bool samePath = TextLenW(gRoundTrip) == length && memcmp(gRoundTrip, path, length * sizeof(WCHAR)) == 0;
  if (gEngine && gScanRecord.path[0]) {
    if (samePath)
      SessionScanFile(gEngine, &gScanRecord);
    else
      gScanRecord.filesScanned++;
  }
  ShowVerdict();
  return 1;
}

namespace {

WCHAR gProgressWide[kPathUnits];

// The number of bytes at the end of an ANSI text, at most `limit`, that hold
// whole characters. In a double-byte code page (GBK) a cut at a fixed byte
// count may fall inside a character; the lone second byte then pairs with
// the next character's first one, and the rest of the line is garbled.
uint32_t WholeCharacterTail(const char* ansi, uint32_t length, uint32_t limit) {
  ULONG wideBytes = 0;
  if (!NT_SUCCESS(RtlMultiByteToUnicodeN(gProgressWide, sizeof gProgressWide, &wideBytes, ansi, length)))
    return limit;
  uint32_t units = wideBytes / sizeof(WCHAR);
  uint32_t taken = 0;
  while (units > 0) {
    char bytes[8];
    ULONG n = 0;
    if (!NT_SUCCESS(RtlUnicodeToMultiByteN(bytes, sizeof bytes, &n, &gProgressWide[units - 1], sizeof(WCHAR))) ||
        n == 0)
      return limit;
    if (taken + n > limit) break;
    taken += n;
    --units;
  }
  return taken;
}

}  // namespace

void ShowProgress(const char* ansiPath) {
  char line[512];
  uint32_t length = TextLen(ansiPath);
  if (length <= 40) {
    FormatText(line, "\r%-40s   ", ansiPath);
  } else if (ansiPath[1] == ':') {
    // The drive, two full stops and the path's last 35 bytes, starting one
    // byte later when that would split a character; a blank keeps the width.
    char shortForm[41];
    memcpy(shortForm, ansiPath, 3);
    shortForm[3] = '.';
    shortForm[4] = '.';
    uint32_t tail = WholeCharacterTail(ansiPath, length, 35);
    memcpy(shortForm + 5, ansiPath + length - tail, tail);
    memset(shortForm + 5 + tail, ' ', 35 - tail);
    shortForm[40] = 0;
    FormatText(line, "\r%s   ", shortForm);
  } else {
    return;
  }
  PrintAnsi(&gContext, line);
}

void ShowVerdict() {
  const WCHAR* text = 0;
  switch (gScanRecord.result) {
    case kResultReported:
      text = u"\n";
      break;
    case kResultDeleted:
      text = u", delete\n";
      break;
    case kResultDeleteFailed:
      text = u", delete failed\n";
      break;
    case kResultCleaned:
      text = u", cleaned\n";
      break;
    case kResultCleanFailed:
      text = u", cleaned failed\n";
      break;
    default:
      return;
  }
  PrintWide(&gContext, text);
}
