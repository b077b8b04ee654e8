// The machine's registry: a tree of keys and values kept in a "Windows
// Registry Editor Version 5.00" (.reg) file, shared by the native stand-in
// (tw_registry32) and the manager's Win32 stand-in (tw_registry).
//
// File form (regedit's own; UTF-16LE with a byte-order mark, or UTF-8):
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\tarnwell]   key
//   "WinTarget"="C:\\WINDOWS"            REG_SZ; escapes \\ and \"
//   @="default value"                    the key's default (unnamed) value
//   "Count"=dword:0000002a               REG_DWORD
//   "Blob"=hex:01,02,ff                  REG_BINARY
//   "List"=hex(7):61,00,00,00,00,00      any type T as hex(T): ...; long lists
//     continue on the next line after a trailing backslash
//   "Gone"=-                             removes a value while loading
//   [-HKEY_LOCAL_MACHINE\Software\Old]   removes a key (and its subkeys)
//   ; comment
//
// Every value keeps its exact bytes: a string that cannot be written back as
// "..." (no terminating NUL, an embedded NUL, a line break, an odd size) is
// written as hex(1):. Key and value names match case-insensitively and keep
// the case they were stored with. Saving rewrites the file in its own
// encoding and line ends through a temporary file and a rename, so the file
// is always either the old or the new registry.
//
// Root keys: HKEY_LOCAL_MACHINE, HKEY_USERS and HKEY_CURRENT_USER are kept as
// written. HKEY_CLASSES_ROOT and HKEY_CURRENT_CONFIG are aliases of
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes and
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Hardware Profiles\Current.
//
// Results are Windows error codes. The store is not synchronised: callers
// that share one store between threads hold a lock around every call.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

namespace tw {

constexpr uint32_t kRegOk = 0;
constexpr uint32_t kRegNotFound = 2;           // ERROR_FILE_NOT_FOUND
constexpr uint32_t kRegAccessDenied = 5;       // ERROR_ACCESS_DENIED (key has subkeys)
constexpr uint32_t kRegInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
constexpr uint32_t kRegKeyDeleted = 1018;      // ERROR_KEY_DELETED

// Longest key name component and value name, in UTF-16 units, as on Windows.
constexpr size_t kRegMaxKeyName = 255;
constexpr size_t kRegMaxValueName = 16383;

struct RegValue {
  std::u16string name;  // empty for the default value
  uint32_t type = 0;    // REG_SZ = 1, REG_DWORD = 4, ...
  std::vector<uint8_t> data;
};

struct RegKey {
  std::u16string name;
  RegKey* parent = nullptr;  // null for the top of the tree
  bool deleted = false;      // removed from the tree; handles may still hold it
  std::vector<std::shared_ptr<RegKey>> subkeys;  // in insertion order
  std::vector<RegValue> values;                  // in insertion order
};
using RegKeyRef = std::shared_ptr<RegKey>;

class RegistryStore {
 public:
  enum class Encoding { Utf16Le, Utf8, Utf8Bom };

  RegistryStore();

  // Reads the .reg file at `path` and binds the store to it. A missing file
  // gives an empty registry (created by the first Save). A syntax error gives
  // false and "path: line N: problem"; the store is then left unchanged.
  bool Load(const std::string& path, std::string* error);
  // Parses a whole .reg file held in memory, replacing the tree; on error the
  // tree is unchanged and *error is "line N: problem".
  bool Parse(const void* bytes, size_t size, std::string* error);
  // The file in its encoding, ready to be written.
  std::string Serialize() const;
  // Writes the file atomically (temporary file, then rename). With no path
  // bound, does nothing and succeeds.
  bool Save(std::string* error);
  const std::string& Path() const { return path_; }
  void SetPath(const std::string& path) { path_ = path; }
  Encoding GetEncoding() const { return encoding_; }
  void SetEncoding(Encoding e) { encoding_ = e; }

  // The invisible top whose subkeys are the root keys.
  RegKeyRef Top() const { return top_; }

  // Opens `path` ("A\B\C", empty components skipped) below `base`; a null
  // base means the top, where the first component is a root key name.
  uint32_t OpenKey(const RegKeyRef& base, const std::u16string& path, RegKeyRef* key) const;
  // Opens or creates every missing key on the way. *created (may be null)
  // tells whether the last key was new.
  uint32_t CreateKey(const RegKeyRef& base, const std::u16string& path, RegKeyRef* key, bool* created);
  // Removes a key without subkeys (kRegAccessDenied when it has some).
  uint32_t DeleteKey(const RegKeyRef& key);
  // Removes a key with all its subkeys.
  uint32_t DeleteKeyTree(const RegKeyRef& key);
  // The full path, "HKEY_LOCAL_MACHINE\System\...", of a key in the tree.
  std::u16string KeyPath(const RegKeyRef& key) const;

  // Enumeration in stored order; false past the end or for a deleted key.
  bool EnumKey(const RegKeyRef& key, size_t index, std::u16string* name) const;
  bool EnumValue(const RegKeyRef& key, size_t index, RegValue* value) const;

  uint32_t GetValue(const RegKeyRef& key, const std::u16string& name, RegValue* value) const;
  uint32_t SetValue(const RegKeyRef& key, const std::u16string& name, uint32_t type, const void* data,
                    size_t size);
  uint32_t DeleteValue(const RegKeyRef& key, const std::u16string& name);

  // UTF-8 conveniences for callers that hold paths as text.
  uint32_t OpenKey(const std::string& path, RegKeyRef* key) const;
  uint32_t CreateKey(const std::string& path, RegKeyRef* key, bool* created);

 private:
  RegKeyRef top_;
  std::string path_;
  Encoding encoding_ = Encoding::Utf8;
  bool crlf_ = true;
};

// Whether a key name component or value name can be stored (length, no NUL,
// no line break, no backslash in key names).
bool ValidRegKeyName(const std::u16string& name);
bool ValidRegValueName(const std::u16string& name);

}  // namespace tw
