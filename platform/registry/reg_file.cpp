// Reading and writing the .reg text form of the registry (see the diagram in
// registry_store.h). The parser works on UTF-16 lines whatever the file's
// encoding, so strings keep every unit the file holds.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/machine/machine.h"
#include "platform/registry/registry_store.h"

namespace tw {

namespace {

const char16_t kHeader[] = u"Windows Registry Editor Version 5.00";

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string TrimLeft(const std::u16string& s) {
  size_t i = 0;
  while (i < s.size() && IsSpace(s[i])) ++i;
  return s.substr(i);
}

std::u16string TrimRight(const std::u16string& s) {
  size_t n = s.size();
  while (n > 0 && IsSpace(s[n - 1])) --n;
  return s.substr(0, n);
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// 1 to 8 hex digits, nothing else.
bool ParseHex32(const std::u16string& s, uint32_t* v) {
  if (s.empty() || s.size() > 8) return false;
  uint32_t r = 0;
  for (char16_t c : s) {
    int d = HexDigit(c);
    if (d < 0) return false;
    r = r << 4 | static_cast<uint32_t>(d);
  }
  *v = r;
  return true;
}

bool StartsWithNoCase(const std::u16string& s, const char16_t* prefix) {
  size_t n = std::char_traits<char16_t>::length(prefix);
  return s.size() >= n && EqualNoCase(s.data(), n, prefix, n);
}

struct Lines {
  std::vector<std::u16string> text;
  RegistryStore::Encoding encoding = RegistryStore::Encoding::Utf8;
  bool crlf = true;
};

std::string LineError(size_t line, const std::string& what) { return "line " + std::to_string(line) + ": " + what; }

bool Decode(const uint8_t* b, size_t size, Lines* out, std::string* error) {
  bool sawBreak = false;
  if (size >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
    *error = LineError(1, "UTF-16 big-endian files are not supported");
    return false;
  }
  if (size >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
    out->encoding = RegistryStore::Encoding::Utf16Le;
    if ((size - 2) % 2 != 0) {
      *error = LineError(1, "the UTF-16 text ends in the middle of a character");
      return false;
    }
    std::u16string cur;
    for (size_t i = 2; i + 1 < size; i += 2) {
      char16_t c = static_cast<char16_t>(b[i] | b[i + 1] << 8);
      if (c == u'\n') {
        if (!sawBreak) out->crlf = !cur.empty() && cur.back() == u'\r', sawBreak = true;
        if (!cur.empty() && cur.back() == u'\r') cur.pop_back();
        out->text.push_back(cur);
        cur.clear();
      } else {
        cur.push_back(c);
      }
    }
    out->text.push_back(cur);
    return true;
  }
  size_t start = 0;
  if (size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
    out->encoding = RegistryStore::Encoding::Utf8Bom;
    start = 3;
  }
  const char* s = reinterpret_cast<const char*>(b);
  size_t lineStart = start;
  for (size_t i = start; i <= size; ++i) {
    if (i < size && s[i] != '\n') continue;
    size_t end = i;
    if (i < size && !sawBreak) out->crlf = end > lineStart && s[end - 1] == '\r', sawBreak = true;
    if (end > lineStart && s[end - 1] == '\r') --end;
    if (!IsValidUtf8(s + lineStart, end - lineStart)) {
      *error = LineError(out->text.size() + 1, "not valid UTF-8 text");
      return false;
    }
    out->text.push_back(Utf8ToUtf16(s + lineStart, end - lineStart));
    lineStart = i + 1;
  }
  return true;
}

// Reads a quoted string starting at s[*pos] == '"'; leaves *pos after the
// closing quote.
bool ParseQuoted(const std::u16string& s, size_t* pos, std::u16string* out) {
  size_t i = *pos + 1;
  out->clear();
  while (i < s.size()) {
    char16_t c = s[i];
    if (c == u'"') {
      *pos = i + 1;
      return true;
    }
    if (c == u'\\' && i + 1 < s.size() && (s[i + 1] == u'\\' || s[i + 1] == u'"')) {
      out->push_back(s[i + 1]);
      i += 2;
      continue;
    }
    out->push_back(c);
    ++i;
  }
  return false;
}

bool ParseHexList(const std::u16string& list, std::vector<uint8_t>* data, std::string* what) {
  data->clear();
  std::u16string t = TrimRight(TrimLeft(list));
  if (t.empty()) return true;
  size_t i = 0;
  while (i <= t.size()) {
    size_t comma = t.find(u',', i);
    std::u16string tok = TrimRight(TrimLeft(t.substr(i, comma == std::u16string::npos ? std::u16string::npos : comma - i)));
    bool lastToken = comma == std::u16string::npos;
    if (tok.empty()) {
      if (lastToken && i > 0) break;  // a trailing comma
      *what = "empty byte in hex data";
      return false;
    }
    uint32_t v;
    if (tok.size() > 2 || !ParseHex32(tok, &v)) {
      *what = "bad byte \"" + Utf16ToUtf8(tok) + "\" in hex data";
      return false;
    }
    data->push_back(static_cast<uint8_t>(v));
    if (lastToken) break;
    i = comma + 1;
  }
  return true;
}

bool ValidKeyPath(const std::u16string& path, std::string* what) {
  std::vector<std::u16string> parts;
  std::u16string cur;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == u'\\') {
      if (cur.empty() && !(i == path.size() && !parts.empty())) {
        *what = "empty key name in \"" + Utf16ToUtf8(path) + "\"";
        return false;
      }
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(path[i]);
    }
  }
  const char16_t* roots[] = {u"HKEY_LOCAL_MACHINE", u"HKEY_USERS", u"HKEY_CURRENT_USER", u"HKEY_CLASSES_ROOT",
                             u"HKEY_CURRENT_CONFIG"};
  bool known = false;
  for (const char16_t* r : roots) known = known || EqualNoCase(parts[0], r);
  if (!known) {
    *what = "unknown root key \"" + Utf16ToUtf8(parts[0]) + "\"";
    return false;
  }
  for (const std::u16string& p : parts) {
    if (!ValidRegKeyName(p)) {
      *what = "key name \"" + Utf16ToUtf8(p) + "\" is too long or holds a forbidden character";
      return false;
    }
  }
  return true;
}

}  // namespace

bool RegistryStore::Parse(const void* bytes, size_t size, std::string* error) {
  Lines lines;
  if (!Decode(static_cast<const uint8_t*>(bytes), size, &lines, error)) return false;
  RegistryStore tmp;
  size_t i = 0;
  const std::vector<std::u16string>& L = lines.text;
  while (i < L.size() && TrimRight(TrimLeft(L[i])).empty()) ++i;
  bool empty = i == L.size();
  if (!empty && TrimRight(TrimLeft(L[i])) != kHeader) {
    *error = LineError(i + 1, "expected the header \"Windows Registry Editor Version 5.00\"");
    return false;
  }
  ++i;
  RegKeyRef current;
  bool skipping = false;  // inside a [-key] section: its values are ignored
  for (; i < L.size(); ++i) {
    size_t lineNo = i + 1;
    std::u16string t = TrimLeft(L[i]);
    if (t.empty() || t[0] == u';') continue;
    std::string what;
    if (t[0] == u'[') {
      t = TrimRight(t);
      if (t.back() != u']' || t.size() < 3) {
        *error = LineError(lineNo, "a key line must end with ']'");
        return false;
      }
      std::u16string path = t.substr(1, t.size() - 2);
      bool remove = !path.empty() && path[0] == u'-';
      if (remove) path.erase(0, 1);
      if (!ValidKeyPath(path, &what)) {
        *error = LineError(lineNo, what);
        return false;
      }
      if (remove) {
        RegKeyRef k;
        if (tmp.OpenKey(nullptr, path, &k) == kRegOk && k != tmp.top_) {
          bool root = k->parent == tmp.top_.get();
          if (root) {
            k->subkeys.clear();
            k->values.clear();
          } else {
            tmp.DeleteKeyTree(k);
          }
        }
        current.reset();
        skipping = true;
      } else {
        if (tmp.CreateKey(nullptr, path, &current, nullptr) != kRegOk) {
          *error = LineError(lineNo, "cannot create key \"" + Utf16ToUtf8(path) + "\"");
          return false;
        }
        skipping = false;
      }
      continue;
    }
    if (t[0] != u'"' && t[0] != u'@') {
      *error = LineError(lineNo, "unexpected text \"" + Utf16ToUtf8(t.substr(0, 40)) + "\"");
      return false;
    }
    if (!current && !skipping) {
      *error = LineError(lineNo, "a value before the first key");
      return false;
    }
    std::u16string name;
    size_t pos = 1;
    if (t[0] == u'"') {
      pos = 0;
      if (!ParseQuoted(t, &pos, &name)) {
        *error = LineError(lineNo, "unterminated value name");
        return false;
      }
      if (!ValidRegValueName(name)) {
        *error = LineError(lineNo, "value name too long");
        return false;
      }
    }
    while (pos < t.size() && IsSpace(t[pos])) ++pos;
    if (pos >= t.size() || t[pos] != u'=') {
      *error = LineError(lineNo, "expected '=' after the value name");
      return false;
    }
    ++pos;
    while (pos < t.size() && IsSpace(t[pos])) ++pos;
    std::u16string data = t.substr(pos);
    uint32_t type;
    std::vector<uint8_t> bytesOut;
    bool remove = false;
    if (!data.empty() && data[0] == u'"') {
      size_t q = 0;
      std::u16string text;
      if (!ParseQuoted(data, &q, &text)) {
        *error = LineError(lineNo, "unterminated string");
        return false;
      }
      if (!TrimRight(data.substr(q)).empty()) {
        *error = LineError(lineNo, "text after the closing quote");
        return false;
      }
      type = 1;
      for (char16_t c : text) {
        bytesOut.push_back(static_cast<uint8_t>(c & 0xFF));
        bytesOut.push_back(static_cast<uint8_t>(c >> 8));
      }
      bytesOut.push_back(0);
      bytesOut.push_back(0);
    } else if (TrimRight(data) == u"-") {
      remove = true;
    } else if (StartsWithNoCase(data, u"dword:")) {
      uint32_t v;
      if (!ParseHex32(TrimRight(data.substr(6)), &v)) {
        *error = LineError(lineNo, "dword: needs 1 to 8 hex digits");
        return false;
      }
      type = 4;
      for (int k = 0; k < 4; ++k) bytesOut.push_back(static_cast<uint8_t>(v >> (8 * k)));
    } else if (StartsWithNoCase(data, u"hex")) {
      size_t colon = data.find(u':');
      if (colon == std::u16string::npos) {
        *error = LineError(lineNo, "expected ':' after hex");
        return false;
      }
      std::u16string kind = data.substr(3, colon - 3);
      if (kind.empty()) {
        type = 3;
      } else if (kind.size() >= 3 && kind.front() == u'(' && kind.back() == u')' &&
                 ParseHex32(kind.substr(1, kind.size() - 2), &type)) {
      } else {
        *error = LineError(lineNo, "expected hex: or hex(type):");
        return false;
      }
      std::u16string list = TrimRight(data.substr(colon + 1));
      while (!list.empty() && list.back() == u'\\') {
        list.pop_back();
        if (i + 1 >= L.size()) {
          *error = LineError(lineNo, "the hex data continues past the end of the file");
          return false;
        }
        ++i;
        list += TrimRight(TrimLeft(L[i]));
      }
      if (!ParseHexList(list, &bytesOut, &what)) {
        *error = LineError(lineNo, what);
        return false;
      }
    } else {
      *error = LineError(lineNo, "unrecognised value data");
      return false;
    }
    if (skipping) continue;
    if (remove) {
      tmp.DeleteValue(current, name);
    } else {
      tmp.SetValue(current, name, type, bytesOut.data(), bytesOut.size());
    }
  }
  top_ = tmp.top_;
  encoding_ = lines.encoding;
  crlf_ = lines.crlf;
  return true;
}

namespace {

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

std::u16string Escape(const std::u16string& s) {
  std::u16string out;
  for (char16_t c : s) {
    if (c == u'\\' || c == u'"') out.push_back(u'\\');
    out.push_back(c);
  }
  return out;
}

// The string a REG_SZ value holds when "..." can carry it exactly.
bool AsQuotedString(const RegValue& v, bool utf8, std::u16string* text) {
  const std::vector<uint8_t>& d = v.data;
  if (d.size() < 2 || d.size() % 2 != 0 || d[d.size() - 1] != 0 || d[d.size() - 2] != 0) return false;
  text->clear();
  for (size_t i = 0; i + 2 < d.size(); i += 2) {
    char16_t c = static_cast<char16_t>(d[i] | d[i + 1] << 8);
    if (c == 0 || c == u'\r' || c == u'\n') return false;
    text->push_back(c);
  }
  return !(utf8 && HasLoneSurrogate(*text));
}

const char16_t kHexDigits[] = u"0123456789abcdef";

void AppendHex(std::u16string* line, std::u16string* out, const std::u16string& nl,
               const std::vector<uint8_t>& d) {
  for (size_t i = 0; i < d.size(); ++i) {
    std::u16string piece;
    piece.push_back(kHexDigits[d[i] >> 4]);
    piece.push_back(kHexDigits[d[i] & 15]);
    if (i + 1 < d.size()) piece.push_back(u',');
    // Wrap as regedit does, keeping lines under 80 columns.
    if (line->size() + piece.size() > 77 && i > 0) {
      *out += *line + u"\\" + nl;
      *line = u"  ";
    }
    *line += piece;
  }
}

void WriteKey(const RegKey& key, const std::u16string& path, bool isRoot, bool utf8, const std::u16string& nl,
              std::u16string* out) {
  // A key without values that has subkeys is implied by them.
  if (!key.values.empty() || (!isRoot && key.subkeys.empty())) {
    *out += u"[" + path + u"]" + nl;
    for (const RegValue& v : key.values) {
      std::u16string line = v.name.empty() ? u"@=" : u"\"" + Escape(v.name) + u"\"=";
      std::u16string text;
      if (v.type == 1 && AsQuotedString(v, utf8, &text)) {
        line += u"\"" + Escape(text) + u"\"";
      } else if (v.type == 4 && v.data.size() == 4) {
        uint32_t x = v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<uint32_t>(v.data[3]) << 24;
        line += u"dword:";
        for (int k = 7; k >= 0; --k) line.push_back(kHexDigits[(x >> (4 * k)) & 15]);
      } else {
        if (v.type == 3) {
          line += u"hex:";
        } else {
          line += u"hex(";
          std::u16string t;
          uint32_t x = v.type;
          do {
            t.insert(t.begin(), kHexDigits[x & 15]);
            x >>= 4;
          } while (x != 0);
          line += t + u"):";
        }
        AppendHex(&line, out, nl, v.data);
      }
      *out += line + nl;
    }
    *out += nl;
  }
  for (const RegKeyRef& k : key.subkeys) WriteKey(*k, path + u"\\" + k->name, false, utf8, nl, out);
}

}  // namespace

std::string RegistryStore::Serialize() const {
  std::u16string nl = crlf_ ? u"\r\n" : u"\n";
  std::u16string text = std::u16string(kHeader) + nl + nl;
  bool utf8 = encoding_ != Encoding::Utf16Le;
  for (const RegKeyRef& root : top_->subkeys) WriteKey(*root, root->name, true, utf8, nl, &text);
  std::string out;
  if (encoding_ == Encoding::Utf16Le) {
    out.reserve(2 + text.size() * 2);
    out += "\xFF\xFE";
    for (char16_t c : text) {
      out.push_back(static_cast<char>(c & 0xFF));
      out.push_back(static_cast<char>(c >> 8));
    }
  } else {
    if (encoding_ == Encoding::Utf8Bom) out += "\xEF\xBB\xBF";
    out += Utf16ToUtf8(text);
  }
  return out;
}

bool RegistryStore::Load(const std::string& path, std::string* error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      top_ = std::make_shared<RegKey>();
      path_ = path;
      encoding_ = Encoding::Utf8;
      crlf_ = true;
      return true;
    }
    *error = path + ": " + strerror(errno);
    return false;
  }
  std::string bytes;
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = path + ": cannot be read: " + strerror(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  std::string what;
  if (!Parse(bytes.data(), bytes.size(), &what)) {
    *error = path + ": " + what;
    return false;
  }
  path_ = path;
  return true;
}

bool RegistryStore::Save(std::string* error) {
  if (path_.empty()) return true;
  std::string bytes = Serialize();
  std::string tmp = path_ + ".tmp." + std::to_string(getpid());
  mode_t mode = 0644;
  struct stat st;
  if (stat(path_.c_str(), &st) == 0) mode = st.st_mode & 07777;
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) {
    *error = tmp + ": " + strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = tmp + ": " + strerror(n < 0 ? errno : ENOSPC);
      close(fd);
      unlink(tmp.c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  int synced = fsync(fd);
  int syncErr = errno;
  if (close(fd) != 0 || synced != 0) {
    *error = tmp + ": " + strerror(synced != 0 ? syncErr : errno);
    unlink(tmp.c_str());
    return false;
  }
  if (rename(tmp.c_str(), path_.c_str()) != 0) {
    *error = path_ + ": " + strerror(errno);
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace tw
