// Reg* calls over the machine's registry store. String data is kept in
// UTF-16 as Windows keeps it (the scanner reads it through the native
// interface); the ANSI calls convert with the machine's code page. Every
// change is written back to the .reg file at once (atomically); a file
// changed on disk by someone else is read again before the next call.
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "platform/registry/registry_store.h"
#include "platform/win32/win32_internal.h"
#include "platform/win32/win32_registry_internal.h"

struct Win32Key {
  std::u16string path;  // full path from the top, "HKEY_LOCAL_MACHINE\..."
};

namespace {

struct Registry {
  bool open = false;
  tw::RegistryStore store;
  std::string file;
  bool stale = false;  // the tree in memory may differ from the file
  struct stat seen {};
  bool seenValid = false;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

bool SameStat(const struct stat& a, const struct stat& b) {
  return a.st_ino == b.st_ino && a.st_dev == b.st_dev && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

void NoteFile(Registry& r) {
  r.seenValid = !r.file.empty() && stat(r.file.c_str(), &r.seen) == 0;
}

// Reads the file again when it changed since we last read or wrote it.
// False when it changed and cannot be read (malformed, unreadable): the tree
// in memory is then older than the file, and writing it out would replace
// whatever the file now holds.
bool Refresh() {
  Registry& r = TheRegistry();
  if (!r.open || r.file.empty()) return true;
  struct stat now;
  bool exists = stat(r.file.c_str(), &now) == 0;
  bool changed = r.stale || exists != r.seenValid || (exists && !SameStat(now, r.seen));
  if (!changed) return true;
  tw::RegistryStore fresh;
  std::string error;
  if (!fresh.Load(r.file, &error)) return false;
  r.store = std::move(fresh);
  r.stale = false;
  NoteFile(r);
  return true;
}

LONG Persist() {
  Registry& r = TheRegistry();
  std::string error;
  if (!r.store.Save(&error)) {
    r.stale = true;  // read the file again: the change did not reach it
    return ERROR_REGISTRY_IO_FAILED;
  }
  NoteFile(r);
  return ERROR_SUCCESS;
}

std::u16string ToUnicode(const char* ansi) {
  if (ansi == nullptr) return std::u16string();
  return win32::TheState().codePage.ToUnicode(ansi, strlen(ansi));
}

const char16_t* RootName(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return u"HKEY_LOCAL_MACHINE";
  if (key == HKEY_CURRENT_USER) return u"HKEY_CURRENT_USER";
  if (key == HKEY_USERS) return u"HKEY_USERS";
  if (key == HKEY_CLASSES_ROOT) return u"HKEY_CLASSES_ROOT";
  return nullptr;
}

bool IsPredefined(HKEY key) { return RootName(key) != nullptr; }

// The full path of a handle, or false for an unknown handle.
bool HandlePath(HKEY key, std::u16string* path) {
  if (key == nullptr) return false;
  if (const char16_t* root = RootName(key)) {
    *path = root;
    return true;
  }
  *path = key->path;
  return true;
}

// The key a handle names now; a key deleted since it was opened is gone.
LONG Lookup(HKEY key, tw::RegKeyRef* out) {
  std::u16string path;
  if (!HandlePath(key, &path)) return ERROR_INVALID_HANDLE;
  uint32_t r = TheRegistry().store.OpenKey(nullptr, path, out);
  if (r == tw::kRegNotFound && !IsPredefined(key)) return ERROR_KEY_DELETED;
  if (r == tw::kRegNotFound && IsPredefined(key)) {
    // An empty machine registry still has its root keys.
    bool created;
    r = TheRegistry().store.CreateKey(nullptr, path, out, &created);
  }
  return (LONG)r;
}

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

HKEY NewHandle(const std::u16string& path) {
  Win32Key* key = new Win32Key;
  key->path = path;
  return key;
}

bool Ready() { return win32::TheState().open && TheRegistry().open; }

}  // namespace

namespace win32 {

bool OpenRegistry(const tw::Machine& machine, std::string* error) {
  Registry& r = TheRegistry();
  r = Registry();
  r.file = machine.registryFile;
  if (!r.file.empty() && !r.store.Load(r.file, error)) return false;
  NoteFile(r);
  r.open = true;
  return true;
}

void CloseRegistry() { TheRegistry() = Registry(); }

}  // namespace win32

LONG RegOpenKeyA(HKEY key, LPCSTR subKey, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (!Ready()) return ERROR_BADKEY;
  Refresh();
  std::u16string base;
  if (!HandlePath(key, &base)) return ERROR_INVALID_HANDLE;
  tw::RegKeyRef parent;
  LONG r = Lookup(key, &parent);
  if (r != ERROR_SUCCESS) return r;
  std::u16string sub = ToUnicode(subKey);
  tw::RegKeyRef found;
  r = (LONG)TheRegistry().store.OpenKey(parent, sub, &found);
  if (r != ERROR_SUCCESS) return r;
  *result = NewHandle(TheRegistry().store.KeyPath(found));
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, void*, HKEY* result,
                     DWORD* disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (!Ready()) return ERROR_BADKEY;
  if (!Refresh()) return ERROR_REGISTRY_CORRUPT;  // never overwrite a file we cannot read
  tw::RegKeyRef parent;
  LONG r = Lookup(key, &parent);
  if (r != ERROR_SUCCESS) return r;
  tw::RegKeyRef created;
  bool isNew = false;
  r = (LONG)TheRegistry().store.CreateKey(parent, ToUnicode(subKey), &created, &isNew);
  if (r != ERROR_SUCCESS) return r;
  if (isNew) {
    r = Persist();
    if (r != ERROR_SUCCESS) return r;
  }
  if (disposition != nullptr) *disposition = isNew ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewHandle(TheRegistry().store.KeyPath(created));
  return ERROR_SUCCESS;
}

namespace {

// The value named `name` of the key behind `key`, as stored.
LONG QueryValue(HKEY key, const std::u16string& name, DWORD* type, BYTE* data, DWORD* size,
                tw::RegValue* value) {
  if (!Ready()) return ERROR_BADKEY;
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  Refresh();
  tw::RegKeyRef k;
  LONG r = Lookup(key, &k);
  if (r != ERROR_SUCCESS) return r;
  r = (LONG)TheRegistry().store.GetValue(k, name, value);
  if (r != ERROR_SUCCESS) return r;
  if (type != nullptr) *type = value->type;
  return ERROR_SUCCESS;
}

// Hands `bytes` out as the Reg*QueryValueEx calls do.
LONG GiveData(const std::string& bytes, BYTE* data, DWORD* size) {
  if (size == nullptr) return ERROR_SUCCESS;
  DWORD capacity = *size;
  *size = (DWORD)bytes.size();
  if (data == nullptr) return ERROR_SUCCESS;
  if (bytes.size() > capacity) return ERROR_MORE_DATA;
  memcpy(data, bytes.data(), bytes.size());
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD*, DWORD* type, BYTE* data,
                      DWORD* size) {
  tw::RegValue value;
  LONG r = QueryValue(key, valueName != nullptr ? std::u16string(valueName) : std::u16string(),
                      type, data, size, &value);
  if (r != ERROR_SUCCESS) return r;
  return GiveData(std::string(value.data.begin(), value.data.end()), data, size);
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
  tw::RegValue value;
  LONG r = QueryValue(key, ToUnicode(valueName), type, data, size, &value);
  if (r != ERROR_SUCCESS) return r;
  std::string bytes;
  if (IsStringType(value.type)) {
    // UTF-16 as stored -> ANSI (an odd last byte cannot be a character).
    size_t units = value.data.size() / 2;
    std::u16string text(units, u'\0');
    for (size_t i = 0; i < units; ++i)
      text[i] = (char16_t)(value.data[2 * i] | (value.data[2 * i + 1] << 8));
    bytes = win32::TheState().codePage.FromUnicode(text);
  } else {
    bytes.assign(value.data.begin(), value.data.end());
  }
  return GiveData(bytes, data, size);
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD size) {
  if (!Ready()) return ERROR_BADKEY;
  if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  if (!Refresh()) return ERROR_REGISTRY_CORRUPT;  // never overwrite a file we cannot read
  tw::RegKeyRef k;
  LONG r = Lookup(key, &k);
  if (r != ERROR_SUCCESS) return r;
  std::vector<uint8_t> stored;
  if (IsStringType(type)) {
    // Exactly the characters given: no NUL is added.
    std::u16string text = win32::TheState().codePage.ToUnicode((const char*)data, size);
    for (char16_t c : text) {
      stored.push_back((uint8_t)c);
      stored.push_back((uint8_t)(c >> 8));
    }
  } else if (size != 0) {
    stored.assign(data, data + size);
  }
  r = (LONG)TheRegistry().store.SetValue(k, ToUnicode(valueName), type, stored.data(),
                                         stored.size());
  if (r != ERROR_SUCCESS) return r;
  return Persist();
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
  if (!Ready()) return ERROR_BADKEY;
  if (!Refresh()) return ERROR_REGISTRY_CORRUPT;  // never overwrite a file we cannot read
  tw::RegKeyRef k;
  LONG r = Lookup(key, &k);
  if (r != ERROR_SUCCESS) return r;
  r = (LONG)TheRegistry().store.DeleteValue(k, ToUnicode(valueName));
  if (r != ERROR_SUCCESS) return r;
  return Persist();
}

LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  if (!Ready()) return ERROR_BADKEY;
  std::u16string sub = ToUnicode(subKey);
  if (sub.empty()) return ERROR_INVALID_PARAMETER;  // as Windows: never the key itself
  if (!Refresh()) return ERROR_REGISTRY_CORRUPT;  // never overwrite a file we cannot read
  tw::RegKeyRef parent;
  LONG r = Lookup(key, &parent);
  if (r != ERROR_SUCCESS) return r;
  tw::RegKeyRef target;
  r = (LONG)TheRegistry().store.OpenKey(parent, sub, &target);
  if (r != ERROR_SUCCESS) return r;
  r = (LONG)TheRegistry().store.DeleteKey(target);
  if (r != ERROR_SUCCESS) return r;
  return Persist();
}

LONG RegCloseKey(HKEY key) {
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  if (IsPredefined(key)) return ERROR_SUCCESS;
  delete key;
  return ERROR_SUCCESS;
}
