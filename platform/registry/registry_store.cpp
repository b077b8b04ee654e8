// The registry tree: keys, values, root-key aliases.
#include "platform/registry/registry_store.h"

#include "platform/machine/machine.h"

namespace tw {

namespace {

std::vector<std::u16string> SplitPath(const std::u16string& path) {
  std::vector<std::u16string> out;
  std::u16string cur;
  for (char16_t c : path) {
    if (c == u'\\') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

RegKeyRef FindSubkey(const RegKey& key, const std::u16string& name) {
  for (const RegKeyRef& k : key.subkeys) {
    if (EqualNoCase(k->name, name)) return k;
  }
  return nullptr;
}

// Replaces an alias root by the path it stands for.
void ExpandAlias(std::vector<std::u16string>* parts) {
  if (parts->empty()) return;
  std::vector<std::u16string> head;
  if (EqualNoCase((*parts)[0], u"HKEY_CLASSES_ROOT")) {
    head = {u"HKEY_LOCAL_MACHINE", u"SOFTWARE", u"Classes"};
  } else if (EqualNoCase((*parts)[0], u"HKEY_CURRENT_CONFIG")) {
    head = {u"HKEY_LOCAL_MACHINE", u"SYSTEM", u"CurrentControlSet", u"Hardware Profiles", u"Current"};
  } else {
    return;
  }
  head.insert(head.end(), parts->begin() + 1, parts->end());
  *parts = head;
}

bool IsRootName(const std::u16string& n) {
  return EqualNoCase(n, u"HKEY_LOCAL_MACHINE") || EqualNoCase(n, u"HKEY_USERS") ||
         EqualNoCase(n, u"HKEY_CURRENT_USER");
}

void MarkDeleted(RegKey* key) {
  key->deleted = true;
  for (const RegKeyRef& k : key->subkeys) MarkDeleted(k.get());
}

}  // namespace

bool ValidRegKeyName(const std::u16string& name) {
  if (name.empty() || name.size() > kRegMaxKeyName) return false;
  for (char16_t c : name) {
    if (c == 0 || c == u'\\' || c == u'\r' || c == u'\n') return false;
  }
  return true;
}

bool ValidRegValueName(const std::u16string& name) {
  if (name.size() > kRegMaxValueName) return false;
  for (char16_t c : name) {
    if (c == 0 || c == u'\r' || c == u'\n') return false;
  }
  return true;
}

RegistryStore::RegistryStore() : top_(std::make_shared<RegKey>()) {}

uint32_t RegistryStore::OpenKey(const RegKeyRef& base, const std::u16string& path, RegKeyRef* key) const {
  RegKeyRef cur = base ? base : top_;
  if (cur->deleted) return kRegKeyDeleted;
  std::vector<std::u16string> parts = SplitPath(path);
  if (!base) ExpandAlias(&parts);
  for (const std::u16string& p : parts) {
    RegKeyRef next = FindSubkey(*cur, p);
    if (!next) return kRegNotFound;
    cur = next;
  }
  *key = cur;
  return kRegOk;
}

uint32_t RegistryStore::CreateKey(const RegKeyRef& base, const std::u16string& path, RegKeyRef* key,
                                  bool* created) {
  RegKeyRef cur = base ? base : top_;
  if (cur->deleted) return kRegKeyDeleted;
  std::vector<std::u16string> parts = SplitPath(path);
  if (!base) {
    ExpandAlias(&parts);
    if (!parts.empty() && !IsRootName(parts[0])) return kRegInvalidParameter;
  }
  for (const std::u16string& p : parts) {
    if (!ValidRegKeyName(p)) return kRegInvalidParameter;
  }
  bool isNew = false;
  for (const std::u16string& p : parts) {
    RegKeyRef next = FindSubkey(*cur, p);
    if (!next) {
      next = std::make_shared<RegKey>();
      next->name = p;
      next->parent = cur.get();
      cur->subkeys.push_back(next);
      isNew = true;
    } else {
      isNew = false;
    }
    cur = next;
  }
  if (created) *created = isNew;
  *key = cur;
  return kRegOk;
}

uint32_t RegistryStore::DeleteKey(const RegKeyRef& key) {
  if (!key || key == top_) return kRegInvalidParameter;
  if (key->deleted) return kRegKeyDeleted;
  if (!key->subkeys.empty()) return kRegAccessDenied;
  return DeleteKeyTree(key);
}

uint32_t RegistryStore::DeleteKeyTree(const RegKeyRef& key) {
  if (!key || key == top_) return kRegInvalidParameter;
  if (key->deleted) return kRegKeyDeleted;
  RegKey* parent = key->parent;
  if (parent != nullptr) {
    for (size_t i = 0; i < parent->subkeys.size(); ++i) {
      if (parent->subkeys[i] == key) {
        parent->subkeys.erase(parent->subkeys.begin() + static_cast<long>(i));
        break;
      }
    }
  }
  MarkDeleted(key.get());
  key->parent = nullptr;
  return kRegOk;
}

std::u16string RegistryStore::KeyPath(const RegKeyRef& key) const {
  std::u16string out;
  for (const RegKey* k = key.get(); k != nullptr && k != top_.get(); k = k->parent) {
    out = out.empty() ? k->name : k->name + u"\\" + out;
  }
  return out;
}

bool RegistryStore::EnumKey(const RegKeyRef& key, size_t index, std::u16string* name) const {
  if (!key || key->deleted || index >= key->subkeys.size()) return false;
  *name = key->subkeys[index]->name;
  return true;
}

bool RegistryStore::EnumValue(const RegKeyRef& key, size_t index, RegValue* value) const {
  if (!key || key->deleted || index >= key->values.size()) return false;
  *value = key->values[index];
  return true;
}

uint32_t RegistryStore::GetValue(const RegKeyRef& key, const std::u16string& name, RegValue* value) const {
  if (!key) return kRegInvalidParameter;
  if (key->deleted) return kRegKeyDeleted;
  for (const RegValue& v : key->values) {
    if (EqualNoCase(v.name, name)) {
      *value = v;
      return kRegOk;
    }
  }
  return kRegNotFound;
}

uint32_t RegistryStore::SetValue(const RegKeyRef& key, const std::u16string& name, uint32_t type,
                                 const void* data, size_t size) {
  if (!key || key == top_ || (data == nullptr && size != 0)) return kRegInvalidParameter;
  if (key->deleted) return kRegKeyDeleted;
  if (!ValidRegValueName(name)) return kRegInvalidParameter;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  for (RegValue& v : key->values) {
    if (EqualNoCase(v.name, name)) {
      v.type = type;
      v.data.assign(bytes, bytes + size);
      return kRegOk;
    }
  }
  RegValue v;
  v.name = name;
  v.type = type;
  v.data.assign(bytes, bytes + size);
  key->values.push_back(std::move(v));
  return kRegOk;
}

uint32_t RegistryStore::DeleteValue(const RegKeyRef& key, const std::u16string& name) {
  if (!key) return kRegInvalidParameter;
  if (key->deleted) return kRegKeyDeleted;
  for (size_t i = 0; i < key->values.size(); ++i) {
    if (EqualNoCase(key->values[i].name, name)) {
      key->values.erase(key->values.begin() + static_cast<long>(i));
      return kRegOk;
    }
  }
  return kRegNotFound;
}

uint32_t RegistryStore::OpenKey(const std::string& path, RegKeyRef* key) const {
  return OpenKey(nullptr, Utf8ToUtf16(path), key);
}

uint32_t RegistryStore::CreateKey(const std::string& path, RegKeyRef* key, bool* created) {
  return CreateKey(nullptr, Utf8ToUtf16(path), key, created);
}

}  // namespace tw
