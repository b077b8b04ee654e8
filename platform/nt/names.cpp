// Native file names: "\??\C:\dir\file", "\DosDevices\C:", "\Device\HarddiskVolume1\dir",
// "\Device\KeyboardClass0", or a name relative to an open directory.
#include "platform/nt/files.h"

namespace tw {
namespace nt {

namespace {

bool HasPrefixNoCase(const std::u16string& s, const std::u16string& prefix) {
  return s.size() >= prefix.size() && EqualNoCase(s.data(), prefix.size(), prefix.data(), prefix.size());
}

bool HasLoneSurrogate(const std::u16string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

// Splits "\a\b" (or "a\b" when relative) into components. A final backslash
// is allowed and remembered; empty components elsewhere are invalid.
NTSTATUS SplitRest(const std::u16string& rest, bool relative, FileName* out) {
  if (rest.empty()) return STATUS_SUCCESS;
  size_t i = 0;
  if (!relative) {
    if (rest[0] != u'\\') return STATUS_OBJECT_NAME_INVALID;
    i = 1;
  }
  std::u16string cur;
  for (; i <= rest.size(); ++i) {
    if (i == rest.size() || rest[i] == u'\\') {
      if (cur.empty()) {
        if (i == rest.size() && (i > 0)) {
          out->trailingSlash = true;
          break;
        }
        return STATUS_OBJECT_NAME_INVALID;
      }
      if (HasLoneSurrogate(cur) || cur.size() > 255) {
        return cur.size() > 255 ? STATUS_NAME_TOO_LONG : STATUS_OBJECT_NAME_INVALID;
      }
      out->components.push_back(Utf16ToUtf8(cur));
      cur.clear();
    } else {
      cur.push_back(rest[i]);
    }
  }
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS ParseFileName(const OBJECT_ATTRIBUTES* attributes, FileName* out) {
  if (attributes == nullptr || attributes->ObjectName == nullptr) return STATUS_OBJECT_NAME_INVALID;
  const UNICODE_STRING* us = attributes->ObjectName;
  if (us->Length % 2 != 0 || us->Length > us->MaximumLength || (us->Length != 0 && us->Buffer == nullptr)) {
    return STATUS_OBJECT_NAME_INVALID;
  }
  std::u16string name = FromCounted(us);
  for (char16_t c : name) {
    if (c == 0) return STATUS_OBJECT_NAME_INVALID;
  }
  *out = FileName();
  if (attributes->RootDirectory != nullptr) {
    std::shared_ptr<Object> o = LookUp(attributes->RootDirectory);
    if (!o) return STATUS_INVALID_HANDLE;
    if (o->kind != Kind::File) return TW_STATUS_OBJECT_TYPE_MISMATCH;
    auto dir = std::static_pointer_cast<FileObject>(o);
    if (!dir->isDirectory) return STATUS_INVALID_PARAMETER;
    if (!name.empty() && name[0] == u'\\') return STATUS_OBJECT_NAME_INVALID;
    out->drive = dir->drive;
    out->components = dir->components;
    return SplitRest(name, true, out);
  }
  if (name.empty() || name[0] != u'\\') return TW_STATUS_OBJECT_PATH_SYNTAX_BAD;
  if (EqualNoCase(name, u"\\Device\\KeyboardClass0")) {
    out->keyboard = true;
    return STATUS_SUCCESS;
  }
  const State& s = G();
  for (const char16_t* prefix : {u"\\??\\", u"\\DosDevices\\", u"\\GLOBAL??\\"}) {
    std::u16string p = prefix;
    if (!HasPrefixNoCase(name, p)) continue;
    std::u16string rest = name.substr(p.size());
    if (rest.size() < 2 || rest[1] != u':') return STATUS_OBJECT_NAME_NOT_FOUND;
    char16_t letter = FoldUpper(rest[0]);
    if (letter < u'A' || letter > u'Z') return STATUS_OBJECT_NAME_NOT_FOUND;
    int drive = letter - u'A';
    rest = rest.substr(2);
    if (!s.machine.drives[drive].present) {
      return rest.empty() ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_OBJECT_PATH_NOT_FOUND;
    }
    out->drive = drive;
    return SplitRest(rest, false, out);
  }
  for (int i = 0; i < 26; ++i) {
    const std::u16string& dev = s.devices[i].device;
    if (dev.empty() || !HasPrefixNoCase(name, dev)) continue;
    std::u16string rest = name.substr(dev.size());
    if (!rest.empty() && rest[0] != u'\\') continue;
    out->drive = i;
    return SplitRest(rest, false, out);
  }
  return STATUS_OBJECT_PATH_NOT_FOUND;
}

}  // namespace nt
}  // namespace tw
