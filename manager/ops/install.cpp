// Install and uninstall: BootExecute, the target key, the scanner copy.
#include "manager/ops/install.h"

#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "manager/ops/folders.h"
#include "platform/win32/win32.h"

const char kInstallBootFailed[] = "tarnwell 安装失败，启动项设置错误。\n";
const char kInstallLibraryFailed[] = "tarnwell 安装失败, 病毒库初始化失败。\n";
const char kInstallProgramFailed[] = "tarnwell 安装失败, 程序安装失败。\n";
const char kInstallSucceeded[] = "tarnwell 安装成功!\n";
const char kUninstallBootFailed[] = "tarnwell 卸载失败，启动项设置错误。\n";
const char kUninstallSucceeded[] = "tarnwell 卸载成功!\n";

namespace {

const char kSessionManagerKey[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char kBootExecute[] = "BootExecute";
const char kTargetKey[] = "System\\CurrentControlSet\\Control\\tarnwell";
const char kEntry[] = "tarnwell";
const size_t kEntryLength = 8;
// The list is read whole whatever its size (a fixed 256-byte buffer would cut
// a long list and lose entries when it is written back); zeros follow it.
const size_t kListPadding = 256;
// A list that would grow beyond this is left alone.
const size_t kListLimit = 65536;
// Paths built in 256-byte buffers hold at most 255 characters; the scanner
// takes a Windows folder of at most 254.
const size_t kPathLimit = 255;
const size_t kWindowsFolderLimit = 254;

// An opened registry key, closed on every way out.
class Key {
 public:
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  HKEY* Out() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// The boot program list as read: the value's bytes (S of them) followed by
// zeros, so that the walk always finds its end inside the buffer.
struct BootList {
  std::vector<uint8_t> bytes;  // S bytes + padding zeros
  DWORD size = 0;              // S
  DWORD type = REG_NONE;
};

enum class ReadResult { kRead, kMissing, kUnreadable };

// UTF-8 of UTF-16LE bytes; a lone surrogate or an odd last byte is kept in a
// form no conversion from the code page produces.
std::string Utf16LeToUtf8(const std::string& bytes) {
  std::string out;
  size_t units = bytes.size() / 2;
  auto unit = [&bytes](size_t i) {
    return (uint32_t)(uint8_t)bytes[2 * i] | ((uint32_t)(uint8_t)bytes[2 * i + 1] << 8);
  };
  for (size_t i = 0; i < units; ++i) {
    uint32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 &&
        unit(i + 1) < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(++i) - 0xDC00);
    if (c < 0x80) {
      out += (char)c;
    } else if (c < 0x800) {
      out += (char)(0xC0 | (c >> 6));
      out += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += (char)(0xE0 | (c >> 12));
      out += (char)(0x80 | ((c >> 6) & 0x3F));
      out += (char)(0x80 | (c & 0x3F));
    } else {
      out += (char)(0xF0 | (c >> 18));
      out += (char)(0x80 | ((c >> 12) & 0x3F));
      out += (char)(0x80 | ((c >> 6) & 0x3F));
      out += (char)(0x80 | (c & 0x3F));
    }
  }
  if (bytes.size() % 2 != 0) out += '\xFF';
  return out;
}

// Whether the ANSI text read is the value itself: a character the code page
// lacks comes through the ANSI calls as '?', and writing such a list back
// would rename another program's entry.
bool SameAsStored(HKEY key, const uint8_t* ansi, DWORD size) {
  DWORD wideSize = 0;
  DWORD type = REG_NONE;
  if (RegQueryValueExW(key, u"BootExecute", nullptr, &type, nullptr, &wideSize) !=
          ERROR_SUCCESS ||
      wideSize > kListLimit * 4)
    return false;
  std::string wide(wideSize, '\0');
  DWORD got = wideSize;
  if (RegQueryValueExW(key, u"BootExecute", nullptr, &type, (BYTE*)&wide[0], &got) !=
          ERROR_SUCCESS ||
      got != wideSize)
    return false;
  return AnsiToUtf8(std::string((const char*)ansi, size)) == Utf16LeToUtf8(wide);
}

ReadResult ReadBootList(HKEY key, BootList* list) {
  DWORD size = 0;
  DWORD type = REG_NONE;
  LONG r = RegQueryValueExA(key, kBootExecute, nullptr, &type, nullptr, &size);
  if (r == ERROR_FILE_NOT_FOUND) return ReadResult::kMissing;
  if (r != ERROR_SUCCESS || type != REG_MULTI_SZ) return ReadResult::kUnreadable;
  if (size > kListLimit) return ReadResult::kUnreadable;
  list->bytes.assign((size_t)size + kListPadding, 0);
  DWORD got = size;
  r = RegQueryValueExA(key, kBootExecute, nullptr, &type, list->bytes.data(), &got);
  if (r != ERROR_SUCCESS || type != REG_MULTI_SZ || got != size)
    return ReadResult::kUnreadable;
  if (!SameAsStored(key, list->bytes.data(), size)) return ReadResult::kUnreadable;
  list->size = size;
  list->type = type;
  return ReadResult::kRead;
}

// Walks the NUL-terminated entries up to the first empty one. Reports the
// first entry that begins with "tarnwell" (offset and length without NUL) and
// the offset of the closing empty string.
struct Walk {
  bool found = false;
  size_t foundAt = 0;
  size_t foundLength = 0;
  size_t end = 0;
};

Walk WalkList(const BootList& list) {
  Walk walk;
  const std::vector<uint8_t>& b = list.bytes;
  size_t limit = (size_t)list.size + 1;  // the zero after S always ends an entry
  size_t pos = 0;
  while (pos < limit && b[pos] != 0) {
    size_t start = pos;
    while (b[pos] != 0) ++pos;
    size_t length = pos - start;
    if (!walk.found && length >= kEntryLength && memcmp(&b[start], kEntry, kEntryLength) == 0) {
      walk.found = true;
      walk.foundAt = start;
      walk.foundLength = length;
    }
    ++pos;
  }
  walk.end = pos;
  return walk;
}

bool WriteList(HKEY key, const uint8_t* bytes, size_t size) {
  return RegSetValueExA(key, kBootExecute, 0, REG_MULTI_SZ, bytes, (DWORD)size) ==
         ERROR_SUCCESS;
}

bool SetString(HKEY key, const char* name, const std::string& text) {
  // The characters only: no terminating NUL in the data.
  return RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)text.data(),
                        (DWORD)text.size()) == ERROR_SUCCESS;
}

std::string SystemFolder() {
  char buffer[1024];
  UINT n = GetSystemDirectoryA(buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return std::string();
  return std::string(buffer, n);
}

std::string ScannerTarget() {
  std::string system = SystemFolder();
  if (system.empty()) return system;
  return system + "\\tarnwell.exe";
}

}  // namespace

bool AddBootEntry() {
  Key key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kSessionManagerKey, key.Out()) != ERROR_SUCCESS)
    return false;
  BootList list;
  switch (ReadBootList(key.Get(), &list)) {
    case ReadResult::kMissing: {
      static const uint8_t kNewList[10] = {'t', 'a', 'r', 'n', 'w', 'e', 'l', 'l', 0, 0};
      return WriteList(key.Get(), kNewList, sizeof kNewList);
    }
    case ReadResult::kUnreadable:
      return false;  // never replace a list we could not read
    case ReadResult::kRead:
      break;
  }
  Walk walk = WalkList(list);
  if (walk.found) return true;
  // The new entry goes where the closing empty string stood; the list then
  // ends with its own NUL and a closing one (S + 9 bytes for a list of S).
  size_t newSize = walk.end + kEntryLength + 2;
  if (newSize > kListLimit) return false;
  std::vector<uint8_t> out(list.bytes.begin(), list.bytes.begin() + walk.end);
  out.insert(out.end(), kEntry, kEntry + kEntryLength);
  out.push_back(0);
  out.push_back(0);
  return WriteList(key.Get(), out.data(), out.size());
}

bool RemoveBootEntry() {
  Key key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kSessionManagerKey, key.Out()) != ERROR_SUCCESS)
    return true;
  BootList list;
  switch (ReadBootList(key.Get(), &list)) {
    case ReadResult::kMissing:
      return true;
    case ReadResult::kUnreadable:
      // A value we cannot read as a list might still start the scanner.
      return false;
    case ReadResult::kRead:
      break;
  }
  Walk walk = WalkList(list);
  if (!walk.found) return true;
  // The whole entry goes, with its NUL (nine bytes for "tarnwell" itself);
  // everything else stays byte for byte.
  size_t cut = walk.foundLength + 1;
  std::vector<uint8_t> out(list.bytes.begin(), list.bytes.begin() + walk.foundAt);
  if (walk.foundAt + cut <= list.size) {
    out.insert(out.end(), list.bytes.begin() + walk.foundAt + cut,
               list.bytes.begin() + list.size);
  } else {
    // The entry was the value's last bytes, without its NUL: nothing follows
    // it, and the entries before it still need their closing empty string.
    out.push_back(0);
  }
  return WriteList(key.Get(), out.data(), out.size());
}

bool WriteTargetKey() {
  std::string libTarget = std::string(ProgramFolder) + "Lib";
  std::string windows = WindowsFolder;
  // A cut path would send the scanner to the wrong folder.
  if (libTarget.size() > kPathLimit || windows.size() > kWindowsFolderLimit) return false;
  Key key;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTargetKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, key.Out(), &disposition) != ERROR_SUCCESS)
    return false;
  SetString(key.Get(), "WinTarget", windows);  // outcome not checked, as LibTarget's is
  return SetString(key.Get(), "LibTarget", libTarget);
}

namespace {

// Clears the read-only bit of a file; the others stay. A link is left
// alone: its attributes are those of the file it names, which is not ours,
// and a link deletes whatever they are. The attributes the file had when
// its bit was cleared, else INVALID_FILE_ATTRIBUTES.
DWORD MakeWritable(const std::string& path) {
  std::string host;
  struct stat st;
  if (!Win32HostPath(path.c_str(), &host) || (lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode)))
    return INVALID_FILE_ATTRIBUTES;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      (attributes & FILE_ATTRIBUTE_READONLY) &&
      SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
    return attributes;
  return INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool CopyScanner() {
  std::string source = std::string(ProgramFolder) + "Lib\\tarnwell.exe";
  std::string target = ScannerTarget();
  if (target.empty() || source.size() > kPathLimit || target.size() > kPathLimit)
    return false;
  if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) return false;
  // The copy takes the attributes of the scanner beside the manager, which
  // may be read-only (copied from a CD): an installed scanner that the
  // uninstall could not delete, nor a later install replace.
  MakeWritable(target);
  return true;
}

bool DeleteTargetKey() {
  Key key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kTargetKey, key.Out()) == ERROR_SUCCESS) {
    RegDeleteValueA(key.Get(), "WinTarget");
    RegDeleteValueA(key.Get(), "LibTarget");
  }
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTargetKey);
  return true;
}

bool DeleteScanner() {
  std::string target = ScannerTarget();
  if (!target.empty()) {
    // An installed scanner left read-only goes as well; one that still
    // cannot be deleted keeps its bit.
    DWORD before = MakeWritable(target);
    if (!DeleteFileA(target.c_str()) && before != INVALID_FILE_ATTRIBUTES)
      SetFileAttributesA(target.c_str(), before);
  }
  return true;
}

bool ReadLibraryFolder() {
  strcpy(LibraryFolder, "Lib");
  Key key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kTargetKey, key.Out()) != ERROR_SUCCESS) return false;
  char buffer[kFolderCapacity];
  DWORD size = sizeof buffer;
  DWORD type = REG_NONE;
  LONG r = RegQueryValueExA(key.Get(), "LibTarget", nullptr, &type, (BYTE*)buffer, &size);
  // The text ends at the data length (or a NUL in it); a value that cannot be
  // read whole, or is not text, leaves "Lib".
  if (r == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) &&
      size < sizeof buffer) {
    buffer[size] = 0;
    memcpy(LibraryFolder, buffer, strlen(buffer) + 1);
  }
  return true;
}

const char* OnInstall(bool* succeeded) {
  const char* message;
  bool ok = false;
  if (!AddBootEntry()) {
    message = kInstallBootFailed;
  } else if (!WriteTargetKey()) {
    message = kInstallLibraryFailed;
  } else if (!CopyScanner()) {
    message = kInstallProgramFailed;
  } else {
    message = kInstallSucceeded;
    ok = true;
    ReadLibraryFolder();
  }
  if (succeeded != nullptr) *succeeded = ok;
  return message;
}

const char* OnUninstall(bool* succeeded) {
  bool ok = RemoveBootEntry();
  if (ok) {
    DeleteTargetKey();
    DeleteScanner();
    ReadLibraryFolder();
  }
  if (succeeded != nullptr) *succeeded = ok;
  return ok ? kUninstallSucceeded : kUninstallBootFailed;
}
