// The registry through the native key calls: "\Registry\Machine\..." and
// "\Registry\User\..." names (or names relative to an open key) on the
// machine's registry store. Every change is written to the machine's .reg
// file at once.
#include <string.h>

#include "platform/nt/internal.h"

namespace tw {
namespace nt {

namespace {

struct Registry {
  std::mutex m;
  RegistryStore store;
};

Registry& R() {
  static Registry* r = new Registry;
  return *r;
}

struct KeyObject : Object {
  KeyObject() : Object(Kind::Key) {}
  RegKeyRef key;
  bool registryRoot = false;  // "\Registry" itself, above the hives
};

// A name resolved to a base key and a path below it (store form).
struct KeyName {
  RegKeyRef base;           // null: from the store's top
  std::u16string path;      // "HKEY_LOCAL_MACHINE\Software" or relative
  bool registryRoot = false;
};

NTSTATUS SplitChecked(const std::u16string& s, std::vector<std::u16string>* parts) {
  std::u16string cur;
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == u'\\') {
      if (cur.empty()) {
        if (i == s.size() && !parts->empty()) break;  // a final backslash
        if (i == s.size() && s.empty()) break;
        return STATUS_OBJECT_NAME_INVALID;
      }
      if (cur.size() > kRegMaxKeyName) return STATUS_INVALID_PARAMETER;
      parts->push_back(cur);
      cur.clear();
    } else {
      if (s[i] == 0) return STATUS_OBJECT_NAME_INVALID;
      cur.push_back(s[i]);
    }
  }
  return STATUS_SUCCESS;
}

std::u16string Join(const std::vector<std::u16string>& parts, size_t from) {
  std::u16string out;
  for (size_t i = from; i < parts.size(); ++i) {
    if (!out.empty()) out += u"\\";
    out += parts[i];
  }
  return out;
}

// Maps the hive names under "\Registry" to the store's root keys.
NTSTATUS FromRegistryRoot(const std::vector<std::u16string>& parts, size_t first, KeyName* out) {
  if (first >= parts.size()) {
    out->registryRoot = true;
    return STATUS_SUCCESS;
  }
  std::u16string root;
  if (EqualNoCase(parts[first], u"Machine")) {
    root = u"HKEY_LOCAL_MACHINE";
  } else if (EqualNoCase(parts[first], u"User")) {
    root = u"HKEY_USERS";
  } else {
    return STATUS_OBJECT_NAME_NOT_FOUND;
  }
  out->path = root;
  std::u16string rest = Join(parts, first + 1);
  if (!rest.empty()) out->path += u"\\" + rest;
  return STATUS_SUCCESS;
}

NTSTATUS ParseKeyName(const OBJECT_ATTRIBUTES* oa, KeyName* out) {
  if (oa == nullptr || oa->ObjectName == nullptr) return STATUS_INVALID_PARAMETER;
  const UNICODE_STRING* us = oa->ObjectName;
  if (us->Length % 2 != 0 || us->Length > us->MaximumLength || (us->Length != 0 && us->Buffer == nullptr)) {
    return STATUS_OBJECT_NAME_INVALID;
  }
  std::u16string name = FromCounted(us);
  std::vector<std::u16string> parts;
  if (oa->RootDirectory != nullptr) {
    std::shared_ptr<Object> o = LookUp(oa->RootDirectory);
    if (!o) return STATUS_INVALID_HANDLE;
    if (o->kind != Kind::Key) return TW_STATUS_OBJECT_TYPE_MISMATCH;
    auto k = std::static_pointer_cast<KeyObject>(o);
    if (!name.empty() && name[0] == u'\\') return STATUS_OBJECT_NAME_INVALID;
    NTSTATUS st = SplitChecked(name, &parts);
    if (!NT_SUCCESS(st)) return st;
    if (k->registryRoot) return FromRegistryRoot(parts, 0, out);
    out->base = k->key;
    out->path = Join(parts, 0);
    return STATUS_SUCCESS;
  }
  if (name.empty() || name[0] != u'\\') return TW_STATUS_OBJECT_PATH_SYNTAX_BAD;
  NTSTATUS st = SplitChecked(name.substr(1), &parts);
  if (!NT_SUCCESS(st)) return st;
  if (parts.empty() || !EqualNoCase(parts[0], u"Registry")) return STATUS_OBJECT_PATH_NOT_FOUND;
  return FromRegistryRoot(parts, 1, out);
}

// The hive roots always exist, even in an empty registry.
void EnsureHives(RegistryStore& s) {
  RegKeyRef k;
  s.CreateKey(nullptr, u"HKEY_LOCAL_MACHINE", &k, nullptr);
  s.CreateKey(nullptr, u"HKEY_USERS", &k, nullptr);
}

NTSTATUS FromRegError(uint32_t e) {
  switch (e) {
    case kRegOk: return STATUS_SUCCESS;
    case kRegNotFound: return STATUS_OBJECT_NAME_NOT_FOUND;
    case kRegAccessDenied: return STATUS_CANNOT_DELETE;
    case kRegKeyDeleted: return TW_STATUS_KEY_DELETED;
    default: return STATUS_INVALID_PARAMETER;
  }
}

// Writes the registry file; false when it could not be written.
bool SaveLocked() {
  std::string err;
  return R().store.Save(&err);
}

NTSTATUS KeyFromHandle(HANDLE h, std::shared_ptr<KeyObject>* out) {
  std::shared_ptr<Object> o = LookUp(h);
  if (!o) return STATUS_INVALID_HANDLE;
  if (o->kind != Kind::Key) return TW_STATUS_OBJECT_TYPE_MISMATCH;
  *out = std::static_pointer_cast<KeyObject>(o);
  return STATUS_SUCCESS;
}

std::u16string ValueNameOf(const UNICODE_STRING* s) { return FromCounted(s); }

}  // namespace

bool LoadRegistry(const Machine& machine, std::string* error) {
  RegistryStore fresh;
  if (!machine.registryFile.empty() && !fresh.Load(machine.registryFile, error)) return false;
  Registry& r = R();
  std::lock_guard<std::mutex> g(r.m);
  r.store = std::move(fresh);
  EnsureHives(r.store);
  return true;
}

}  // namespace nt
}  // namespace tw

using namespace tw;
using namespace tw::nt;

extern "C" NTSTATUS NtOpenKey(HANDLE* KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes) {
  TW_FAULT("NtOpenKey");
  if (KeyHandle == nullptr) return STATUS_INVALID_PARAMETER;
  KeyName name;
  NTSTATUS st = ParseKeyName(ObjectAttributes, &name);
  if (!NT_SUCCESS(st)) return st;
  auto obj = std::make_shared<KeyObject>();
  if (name.registryRoot) {
    obj->registryRoot = true;
  } else {
    Registry& r = R();
    std::lock_guard<std::mutex> g(r.m);
    uint32_t e = r.store.OpenKey(name.base, name.path, &obj->key);
    if (e != kRegOk) return FromRegError(e);
  }
  *KeyHandle = AddHandle(obj);
  return STATUS_SUCCESS;
}

extern "C" NTSTATUS NtCreateKey(HANDLE* KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                                ULONG TitleIndex, PUNICODE_STRING Class, ULONG CreateOptions, ULONG* Disposition) {
  TW_FAULT("NtCreateKey");
  if (KeyHandle == nullptr) return STATUS_INVALID_PARAMETER;
  KeyName name;
  NTSTATUS st = ParseKeyName(ObjectAttributes, &name);
  if (!NT_SUCCESS(st)) return st;
  auto obj = std::make_shared<KeyObject>();
  ULONG disposition = 2;  // REG_OPENED_EXISTING_KEY
  if (name.registryRoot) {
    obj->registryRoot = true;
  } else {
    Registry& r = R();
    std::lock_guard<std::mutex> g(r.m);
    uint32_t e = r.store.OpenKey(name.base, name.path, &obj->key);
    if (e == kRegNotFound) {
      // Only the last key is created; its parent must exist.
      std::u16string parentPath, leaf = name.path;
      size_t cut = name.path.rfind(u'\\');
      if (cut != std::u16string::npos) {
        parentPath = name.path.substr(0, cut);
        leaf = name.path.substr(cut + 1);
      }
      RegKeyRef parent;
      if (parentPath.empty() && !name.base) return STATUS_ACCESS_DENIED;  // a new hive
      e = parentPath.empty() ? kRegOk : r.store.OpenKey(name.base, parentPath, &parent);
      if (parentPath.empty()) parent = name.base;
      if (e != kRegOk) return FromRegError(e);
      if (!ValidRegKeyName(leaf)) return STATUS_INVALID_PARAMETER;
      e = r.store.CreateKey(parent, leaf, &obj->key, nullptr);
      if (e != kRegOk) return FromRegError(e);
      if (!SaveLocked()) {
        r.store.DeleteKey(obj->key);
        return TW_STATUS_REGISTRY_IO_FAILED;
      }
      disposition = 1;  // REG_CREATED_NEW_KEY
    } else if (e != kRegOk) {
      return FromRegError(e);
    }
  }
  if (Disposition != nullptr) *Disposition = disposition;
  *KeyHandle = AddHandle(obj);
  return STATUS_SUCCESS;
}

extern "C" NTSTATUS NtDeleteKey(HANDLE KeyHandle) {
  TW_FAULT("NtDeleteKey");
  std::shared_ptr<KeyObject> k;
  NTSTATUS st = KeyFromHandle(KeyHandle, &k);
  if (!NT_SUCCESS(st)) return st;
  if (k->registryRoot) return STATUS_ACCESS_DENIED;
  Registry& r = R();
  std::lock_guard<std::mutex> g(r.m);
  if (k->key->parent == r.store.Top().get()) return STATUS_ACCESS_DENIED;  // a hive root
  uint32_t e = r.store.DeleteKey(k->key);
  if (e != kRegOk) return FromRegError(e);
  // A failed write leaves the key deleted in memory; it is gone from the
  // file at the next successful write.
  return SaveLocked() ? STATUS_SUCCESS : TW_STATUS_REGISTRY_IO_FAILED;
}

extern "C" NTSTATUS NtQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName,
                                    KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass, PVOID KeyValueInformation,
                                    ULONG Length, ULONG* ResultLength) {
  TW_FAULT("NtQueryValueKey");
  std::shared_ptr<KeyObject> k;
  NTSTATUS st = KeyFromHandle(KeyHandle, &k);
  if (!NT_SUCCESS(st)) return st;
  if (ResultLength == nullptr || (KeyValueInformation == nullptr && Length != 0)) return STATUS_INVALID_PARAMETER;
  if (k->registryRoot) return STATUS_OBJECT_NAME_NOT_FOUND;
  RegValue v;
  {
    Registry& r = R();
    std::lock_guard<std::mutex> g(r.m);
    uint32_t e = r.store.GetValue(k->key, ValueNameOf(ValueName), &v);
    if (e != kRegOk) return FromRegError(e);
  }
  uint8_t* out = static_cast<uint8_t*>(KeyValueInformation);
  uint32_t zero = 0, dataLength = static_cast<uint32_t>(v.data.size());
  uint32_t nameBytes = static_cast<uint32_t>(v.name.size() * 2);
  switch (KeyValueInformationClass) {
    case KeyValuePartialInformation: {
      // TitleIndex, Type, DataLength, Data[]
      const size_t header = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
      *ResultLength = static_cast<ULONG>(header + dataLength);
      if (Length < header) return STATUS_BUFFER_TOO_SMALL;
      memcpy(out, &zero, 4);
      memcpy(out + 4, &v.type, 4);
      memcpy(out + 8, &dataLength, 4);
      size_t room = Length - header;
      size_t copy = dataLength < room ? dataLength : room;
      if (copy != 0) memcpy(out + header, v.data.data(), copy);
      return copy < dataLength ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
    }
    case KeyValueBasicInformation: {
      // TitleIndex, Type, NameLength, Name[]
      const size_t header = 12;
      *ResultLength = static_cast<ULONG>(header + nameBytes);
      if (Length < header) return STATUS_BUFFER_TOO_SMALL;
      memcpy(out, &zero, 4);
      memcpy(out + 4, &v.type, 4);
      memcpy(out + 8, &nameBytes, 4);
      size_t room = (Length - header) & ~static_cast<size_t>(1);
      size_t copy = nameBytes < room ? nameBytes : room;
      memcpy(out + header, v.name.data(), copy);
      return copy < nameBytes ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
    }
    case KeyValueFullInformation: {
      // TitleIndex, Type, DataOffset, DataLength, NameLength, Name[], data
      // at DataOffset (4-byte aligned).
      const size_t header = 20;
      uint32_t dataOffset = static_cast<uint32_t>((header + nameBytes + 3) & ~static_cast<size_t>(3));
      *ResultLength = dataOffset + dataLength;
      if (Length < header) return STATUS_BUFFER_TOO_SMALL;
      memcpy(out, &zero, 4);
      memcpy(out + 4, &v.type, 4);
      memcpy(out + 8, &dataOffset, 4);
      memcpy(out + 12, &dataLength, 4);
      memcpy(out + 16, &nameBytes, 4);
      if (Length < *ResultLength) {
        size_t room = (Length - header) & ~static_cast<size_t>(1);
        memcpy(out + header, v.name.data(), nameBytes < room ? nameBytes : room);
        return STATUS_BUFFER_OVERFLOW;
      }
      memcpy(out + header, v.name.data(), nameBytes);
      if (dataLength != 0) memcpy(out + dataOffset, v.data.data(), dataLength);
      return STATUS_SUCCESS;
    }
    default:
      return STATUS_INVALID_PARAMETER;
  }
}

extern "C" NTSTATUS NtSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG TitleIndex, ULONG Type,
                                  const void* Data, ULONG DataSize) {
  TW_FAULT("NtSetValueKey");
  std::shared_ptr<KeyObject> k;
  NTSTATUS st = KeyFromHandle(KeyHandle, &k);
  if (!NT_SUCCESS(st)) return st;
  if (k->registryRoot || (Data == nullptr && DataSize != 0)) return STATUS_INVALID_PARAMETER;
  std::u16string name = ValueNameOf(ValueName);
  Registry& r = R();
  std::lock_guard<std::mutex> g(r.m);
  RegValue old;
  bool had = r.store.GetValue(k->key, name, &old) == kRegOk;
  uint32_t e = r.store.SetValue(k->key, name, Type, Data, DataSize);
  if (e != kRegOk) return FromRegError(e);
  if (!SaveLocked()) {
    if (had) {
      r.store.SetValue(k->key, old.name, old.type, old.data.data(), old.data.size());
    } else {
      r.store.DeleteValue(k->key, name);
    }
    return TW_STATUS_REGISTRY_IO_FAILED;
  }
  return STATUS_SUCCESS;
}

extern "C" NTSTATUS NtDeleteValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName) {
  TW_FAULT("NtDeleteValueKey");
  std::shared_ptr<KeyObject> k;
  NTSTATUS st = KeyFromHandle(KeyHandle, &k);
  if (!NT_SUCCESS(st)) return st;
  if (k->registryRoot) return STATUS_OBJECT_NAME_NOT_FOUND;
  std::u16string name = ValueNameOf(ValueName);
  Registry& r = R();
  std::lock_guard<std::mutex> g(r.m);
  RegValue old;
  uint32_t e = r.store.GetValue(k->key, name, &old);
  if (e != kRegOk) return FromRegError(e);
  r.store.DeleteValue(k->key, name);
  if (!SaveLocked()) {
    r.store.SetValue(k->key, old.name, old.type, old.data.data(), old.data.size());
    return TW_STATUS_REGISTRY_IO_FAILED;
  }
  return STATUS_SUCCESS;
}

extern "C" NTSTATUS RtlOpenCurrentUser(ACCESS_MASK DesiredAccess, HANDLE* KeyHandle) {
  TW_FAULT("RtlOpenCurrentUser");
  if (KeyHandle == nullptr) return STATUS_INVALID_PARAMETER;
  auto obj = std::make_shared<KeyObject>();
  {
    Registry& r = R();
    std::lock_guard<std::mutex> g(r.m);
    // At boot time the current user is the default user.
    if (r.store.OpenKey(nullptr, u"HKEY_USERS\\.DEFAULT", &obj->key) != kRegOk &&
        r.store.CreateKey(nullptr, u"HKEY_USERS\\.DEFAULT", &obj->key, nullptr) != kRegOk) {
      return STATUS_OBJECT_NAME_NOT_FOUND;
    }
  }
  *KeyHandle = AddHandle(obj);
  return STATUS_SUCCESS;
}

extern "C" ULONG RtlNtStatusToDosError(NTSTATUS Status) {
  switch (static_cast<uint32_t>(Status)) {
    case 0x00000000: return 0;
    case 0x00000102: return 258;   // WAIT_TIMEOUT
    case 0x00000103: return 997;   // ERROR_IO_PENDING
    case 0x80000005: return 234;   // ERROR_MORE_DATA
    case 0x80000006: return 18;    // ERROR_NO_MORE_FILES
    case 0xC0000001: return 31;    // ERROR_GEN_FAILURE
    case 0xC0000002: return 1;     // ERROR_INVALID_FUNCTION
    case 0xC0000003: return 87;
    case 0xC0000004: return 24;    // ERROR_BAD_LENGTH
    case 0xC0000008: return 6;     // ERROR_INVALID_HANDLE
    case 0xC000000D: return 87;    // ERROR_INVALID_PARAMETER
    case 0xC000000F: return 2;     // ERROR_FILE_NOT_FOUND
    case 0xC0000010: return 1;
    case 0xC0000011: return 38;    // ERROR_HANDLE_EOF
    case 0xC0000013: return 21;    // ERROR_NOT_READY
    case 0xC0000017: return 8;     // ERROR_NOT_ENOUGH_MEMORY
    case 0xC0000018: return 487;   // ERROR_INVALID_ADDRESS
    case 0xC0000022: return 5;     // ERROR_ACCESS_DENIED
    case 0xC0000023: return 122;   // ERROR_INSUFFICIENT_BUFFER
    case 0xC0000024: return 6;
    case 0xC0000033: return 123;   // ERROR_INVALID_NAME
    case 0xC0000034: return 2;     // ERROR_FILE_NOT_FOUND
    case 0xC0000035: return 183;   // ERROR_ALREADY_EXISTS
    case 0xC000003A: return 3;     // ERROR_PATH_NOT_FOUND
    case 0xC000003B: return 161;   // ERROR_BAD_PATHNAME
    case 0xC0000043: return 32;    // ERROR_SHARING_VIOLATION
    case 0xC0000045: return 87;
    case 0xC0000056: return 5;
    case 0xC000007F: return 112;   // ERROR_DISK_FULL
    case 0xC000009A: return 1450;  // ERROR_NO_SYSTEM_RESOURCES
    case 0xC00000A0: return 487;
    case 0xC00000A2: return 19;    // ERROR_WRITE_PROTECT
    case 0xC00000BA: return 5;
    case 0xC00000D4: return 17;    // ERROR_NOT_SAME_DEVICE
    case 0xC0000100: return 203;   // ERROR_ENVVAR_NOT_FOUND
    case 0xC0000101: return 145;   // ERROR_DIR_NOT_EMPTY
    case 0xC0000103: return 267;   // ERROR_DIRECTORY
    case 0xC0000106: return 206;   // ERROR_FILENAME_EXCED_RANGE
    case 0xC0000120: return 995;   // ERROR_OPERATION_ABORTED
    case 0xC0000121: return 5;
    case 0xC000014D: return 1016;  // ERROR_REGISTRY_IO_FAILED
    case 0xC000017C: return 1018;  // ERROR_KEY_DELETED
    case 0xC0000185: return 1117;  // ERROR_IO_DEVICE
    default:
      // Warnings and informational codes have no error; everything else is
      // reported as a general failure rather than a wrong specific code.
      return NT_SUCCESS(Status) ? 0 : 317;  // ERROR_MR_MID_NOT_FOUND, as Windows does
  }
}
