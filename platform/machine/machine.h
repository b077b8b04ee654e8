// The simulated PC: its description (machine.json) and the host services that
// both Windows stand-ins share: drive paths to host paths, ANSI code pages,
// DOS attributes and creation times kept in extended attributes.
//
// Built twice: tw_machine (64-bit, the manager's Win32 stand-in) and
// tw_machine32 (32-bit, the native-interface stand-in). Plain C++; nothing
// here keeps global state, so every function is safe to call from any thread
// once the Machine has been loaded.
//
// machine.json (every member except "drives" is optional):
//   {
//     "drives": { "C": { "root": "c", "type": "fixed", "freeBytes": 123 },
//                 "D": { "root": null, "type": "cdrom" } },
//     "registry": "registry.reg",          relative to the machine folder
//     "windows": "C:\\WINDOWS",
//     "environment": { "Temp": "C:\\WINDOWS\\Temp" },
//     "codePage": 936,                     936 GBK, 1252 Western, ...
//     "utcOffsetMinutes": 480,
//     "keyboard": [ { "at": 2.5, "key": "U" }, { "at": 3, "code": 79 } ]  or "terminal",
//     "timeScale": 1.0,
//     "clock": "2026-12-07T10:59:30"       local start time of the system clock
//   }
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

namespace tw {

// ---------------------------------------------------------------------------
// Machine description

enum class DriveType { Fixed, Removable, Cdrom, Remote, Ramdisk };

struct Drive {
  bool present = false;    // the letter exists (its "\??\X:" link exists)
  bool hasMedium = false;  // false for "root": null (no medium in the drive)
  std::string root;        // absolute host folder, without trailing '/' (hasMedium only)
  std::string realRoot;    // the same with symbolic links resolved (empty: as root)
  DriveType type = DriveType::Fixed;
  bool hasFreeBytes = false;  // "freeBytes" given: reported instead of the real free space
  uint64_t freeBytes = 0;
};

// One scripted key: the press at `at` seconds (before timeScale) after the
// keyboard device is first opened; the release follows 1/20 s later.
struct ScriptKey {
  double at = 0;
  uint16_t makeCode = 0;  // scan code set 1
  uint16_t flags = 0;     // 2 (KEY_E0) for extended keys such as the arrows
};

struct Machine {
  std::string file;    // absolute path of machine.json
  std::string folder;  // absolute folder holding machine.json
  Drive drives[26];    // index 0 = A:
  std::string registryFile;  // absolute host path; empty when the machine has no registry
  std::string windowsFolder = "C:\\WINDOWS";  // drive path, no trailing backslash
  std::vector<std::pair<std::string, std::string>> environment;  // UTF-8, file order
  unsigned codePage = 1252;
  int utcOffsetMinutes = 0;
  bool keyboardTerminal = false;  // "keyboard": "terminal"
  std::vector<ScriptKey> keyboard;  // sorted by time
  double timeScale = 1.0;
  bool hasClock = false;
  int64_t clockLocal = 0;  // local start time as 100-ns units since 1601 (FILETIME)
};

// Loads machine.json. `path` names the file or the folder holding it. On
// failure returns false and sets *error to one line naming the file and the
// problem (missing, unreadable, malformed, bad member, missing drive folder).
bool LoadMachine(const std::string& path, Machine* machine, std::string* error);

// Parses the text of a machine.json whose absolute path is `file`. With
// checkFolders false the drive folders are not looked at (for fuzzing).
bool ParseMachine(const std::string& text, const std::string& file, Machine* machine, std::string* error,
                  bool checkFolders = true);

// Value of TARNWELL_MACHINE, or empty.
std::string MachineFromEnvironment();

// Name of a drive type as machine.json spells it.
const char* DriveTypeName(DriveType type);

// ---------------------------------------------------------------------------
// Text: UTF-8 / UTF-16 and case-insensitive comparison as Windows does it.

// Invalid input becomes U+FFFD; lone surrogates in UTF-16 become U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);
std::u16string Utf8ToUtf16(const char* text, size_t length);
std::string Utf16ToUtf8(const std::u16string& text);
std::string Utf16ToUtf8(const char16_t* text, size_t units);
bool IsValidUtf8(const char* text, size_t length);

// Upper-case mapping of one UTF-16 unit (ASCII, Latin-1, Latin Extended-A,
// Greek, Cyrillic, full-width Latin); other units map to themselves.
char16_t FoldUpper(char16_t c);
bool EqualNoCase(const std::u16string& a, const std::u16string& b);
bool EqualNoCase(const char16_t* a, size_t aUnits, const char16_t* b, size_t bUnits);
// Case-insensitive comparison of UTF-8 names (through UTF-16).
bool EqualNoCaseUtf8(const std::string& a, const std::string& b);
// Orders names case-insensitively (upper-case fold, then unit by unit).
int CompareNoCase(const std::u16string& a, const std::u16string& b);

// An ANSI code page, as tables built once through iconv. Conversions are
// lock-free and never fail: an unmappable character becomes '?' (ANSI) or
// U+003F (UTF-16), a lead byte without its trail byte becomes '?'.
class CodePage {
 public:
  // 936 (GBK), 1252, 1250, 437, 65001 (UTF-8), ... Returns false (with
  // *error) when the host cannot convert that code page.
  bool Init(unsigned codePage, std::string* error);
  // Whether the host can convert this code page (cheap; builds no tables).
  static bool Supported(unsigned codePage);
  unsigned Number() const { return number_; }
  bool IsDbcs() const { return dbcs_; }
  bool IsLeadByte(uint8_t b) const { return dbcs_ && lead_[b]; }

  // Decodes one character from bytes[0..length) into *unit; returns the
  // bytes used (1 or 2; 0 when length is 0). Single bytes of a table code
  // page, nearly all the text there is, take no call.
  size_t DecodeChar(const char* bytes, size_t length, char16_t* unit) const {
    if (length != 0 && !utf8_ && !lead_[static_cast<uint8_t>(bytes[0])]) {
      *unit = single_[static_cast<uint8_t>(bytes[0])];
      return 1;
    }
    return DecodeOther(bytes, length, unit);
  }
  // Encodes one UTF-16 unit into out[0..2); returns the byte count (1 or 2).
  size_t EncodeChar(char16_t unit, char out[2]) const {
    if (!utf8_ && unit < fromUnicode_.size() && fromUnicode_[unit] < 0x100) {
      out[0] = static_cast<char>(fromUnicode_[unit]);
      return 1;
    }
    return EncodeOther(unit, out);
  }

  std::u16string ToUnicode(const char* bytes, size_t length) const;
  std::u16string ToUnicode(const std::string& bytes) const { return ToUnicode(bytes.data(), bytes.size()); }
  std::string FromUnicode(const char16_t* units, size_t count) const;
  std::string FromUnicode(const std::u16string& text) const { return FromUnicode(text.data(), text.size()); }

  // Host file names are UTF-8; these convert between them and ANSI text.
  std::string AnsiToUtf8(const std::string& ansi) const { return Utf16ToUtf8(ToUnicode(ansi)); }
  std::string Utf8ToAnsi(const std::string& utf8) const { return FromUnicode(Utf8ToUtf16(utf8)); }

 private:
  size_t DecodeOther(const char* bytes, size_t length, char16_t* unit) const;
  size_t EncodeOther(char16_t unit, char out[2]) const;

  unsigned number_ = 0;
  bool dbcs_ = false;
  bool utf8_ = false;
  bool lead_[256] = {};
  char16_t single_[256] = {};         // single bytes; '?' when undefined
  std::vector<char16_t> double_;      // (lead - 0x80) * 256 + trail
  std::vector<uint16_t> fromUnicode_; // unit -> byte (< 0x100) or lead << 8 | trail; 0xFFFF none
};

// ---------------------------------------------------------------------------
// Drive paths and host paths

enum class PathStatus {
  Found,         // *hostPath names an existing item
  NameNotFound,  // the parent exists, the last component does not; *hostPath
                 // is the path the item would have (last name as given)
  PathNotFound,  // a folder on the way does not exist (or is not a folder)
  NoSuchDrive,   // the letter is not in machine.json
  NoMedium,      // the drive has "root": null
  Invalid,       // malformed path, a component with characters Windows forbids
};

// Maps the components of a path on drive `drive` (0 = A:) to the host,
// matching each component case-insensitively (an exact match wins). Components
// are UTF-8 and must not be empty, ".", ".." or contain \ / : * ? " < > | or
// control characters. An empty list names the drive's root.
// Host symbolic links on a drive act as NTFS junctions do: they are followed
// while they lead to a place on one of the machine's drives (this one or
// another). A link that leads out of every drive names nothing on the
// simulated PC, and a path through it is PathNotFound, so nothing a program
// does on a drive (deleting, repairing, changing attributes) reaches host
// files outside the machine.
PathStatus ResolveOnDrive(const Machine& machine, int drive, const std::vector<std::string>& components,
                          std::string* hostPath);

// Maps a UTF-8 drive path ("C:\Dir\file", "c:/dir", "C:" or "C:\") to the
// host. "." and ".." components are resolved first (never above the root).
PathStatus ResolveDrivePath(const Machine& machine, const std::string& drivePath, std::string* hostPath);

// The host path of a UTF-8 drive path whose names all exist exactly as given,
// without looking at the host; false for a bad name or a drive without medium.
// Callers that can try the host path directly save the case-insensitive lookup.
bool ExactDrivePath(const Machine& machine, const std::string& drivePath, std::string* hostPath);

// Splits a drive path into its letter index and components; false when it is
// not of the form "X:" followed by nothing or a path.
bool SplitDrivePath(const std::string& drivePath, int* drive, std::vector<std::string>* components);

// The reverse: the drive path ("C:\Dir\file", root "C:\") of a host path
// inside one of the drives; false when it lies on none. Symbolic links are
// not resolved; the path is compared as given (after removing "." and "..").
bool HostToDrivePath(const Machine& machine, const std::string& hostPath, std::string* drivePath);

// ---------------------------------------------------------------------------
// DOS attributes and times of host files
//
// Attributes live in the extended attribute "user.DOSATTRIB" as the text "0x"
// and hexadecimal digits (Samba's oldest form). A file without it has the
// archive attribute (0x20); a folder always reports the directory bit (0x10).
// A file whose stored word is 0 reports FILE_ATTRIBUTE_NORMAL (0x80). The
// creation time lives in "user.tarnwell.ctime" as decimal 100-ns units since
// 1601; without it the creation time is the last-write time. A file system
// that refuses extended attributes gives the defaults and ignores writes.

constexpr const char* kDosAttribXattr = "user.DOSATTRIB";
constexpr const char* kCreationXattr = "user.tarnwell.ctime";

constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrNormal = 0x80;
// Bits a caller may set (read-only, hidden, system, archive, temporary,
// offline, not-content-indexed).
constexpr uint32_t kAttrSettable = 0x01 | 0x02 | 0x04 | 0x20 | 0x100 | 0x1000 | 0x2000;

// 100-ns units between 1601-01-01 and 1970-01-01.
constexpr int64_t kFileTimeUnixEpoch = 116444736000000000LL;
int64_t UnixToFileTime(const struct timespec& ts);
struct timespec FileTimeToUnix(int64_t fileTime);

struct HostFileInfo {
  bool isDirectory = false;
  uint64_t size = 0;        // 0 for folders
  uint64_t allocation = 0;  // bytes allocated on the host
  int64_t creationTime = 0, lastAccessTime = 0, lastWriteTime = 0, changeTime = 0;  // FILETIME
  uint32_t attributes = 0;  // DOS attributes as Windows reports them
  uint64_t fileId = 0;      // inode number
  uint32_t links = 1;
};

// Fills *info for a host path (symbolic links followed) or an open descriptor.
// Returns 0 or the errno of the failed stat.
int QueryHostFile(const std::string& hostPath, HostFileInfo* info);
int QueryHostFd(int fd, HostFileInfo* info);
// Carried from one entry of a folder to the next: entries of one folder mostly
// come from one writer, so they tend to carry the same extended attributes.
struct XattrHint {
  bool direct = false;  // the last entry had both attributes: ask for them directly
};

// The same from a stat record already taken; xattrs read through `hostPath`.
// A hint, when given, only makes the lookups cheaper, never changes the result.
void FillHostFileInfo(const std::string& hostPath, const struct stat& st, HostFileInfo* info,
                      XattrHint* hint = nullptr);

// Reads the stored attribute word (raw, without defaults); false when none.
bool ReadStoredDosAttributes(const std::string& hostPath, uint32_t* attributes);
// Stores attributes as Windows sets them: only settable bits are kept,
// FILE_ATTRIBUTE_NORMAL alone means none, folders keep the directory bit.
// Returns false only when the file system refused for a reason other than
// missing xattr support.
bool WriteDosAttributes(const std::string& hostPath, uint32_t attributes, bool isDirectory);
bool WriteDosAttributesFd(int fd, uint32_t attributes, bool isDirectory);
bool WriteCreationTime(const std::string& hostPath, int64_t fileTime);
bool WriteCreationTimeFd(int fd, int64_t fileTime);
// Parses the text of user.DOSATTRIB ("0x" hex digits, an optional final NUL).
bool ParseDosAttrib(const char* text, size_t length, uint32_t* attributes);

}  // namespace tw
