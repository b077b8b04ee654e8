// ANSI code pages as lookup tables built once through iconv, so that every
// later conversion is a table lookup, lock-free and unable to fail.
#include <errno.h>
#include <iconv.h>
#include <string.h>

#include "platform/machine/machine.h"

namespace tw {

namespace {

constexpr char16_t kDefaultUnit = u'?';
constexpr uint16_t kNoMapping = 0xFFFF;

std::string IconvName(unsigned codePage) {
  if (codePage == 65001) return "UTF-8";
  if (codePage == 936) return "GBK";
  if (codePage == 20127) return "ASCII";
  if (codePage == 28591) return "ISO-8859-1";
  return "CP" + std::to_string(codePage);
}

// Converts `in` to one UTF-16 unit; returns 1 on success, 0 when the bytes
// are incomplete, -1 when invalid or when they need more than one unit.
int ConvertOne(iconv_t cd, const char* in, size_t inLen, char16_t* out) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char buf[8];
  char* src = const_cast<char*>(in);
  size_t srcLeft = inLen;
  char* dst = buf;
  size_t dstLeft = sizeof(buf);
  size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  if (r == static_cast<size_t>(-1)) return errno == EINVAL ? 0 : -1;
  if (srcLeft != 0 || sizeof(buf) - dstLeft != 2) return -1;
  memcpy(out, buf, 2);
  return 1;
}

}  // namespace

bool CodePage::Supported(unsigned codePage) {
  if (codePage == 65001) return true;
  iconv_t cd = iconv_open("UTF-16LE", IconvName(codePage).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

bool CodePage::Init(unsigned codePage, std::string* error) {
  number_ = codePage;
  utf8_ = codePage == 65001;
  dbcs_ = false;
  memset(lead_, 0, sizeof(lead_));
  double_.clear();
  fromUnicode_.assign(0x10000, kNoMapping);
  if (utf8_) return true;

  iconv_t cd = iconv_open("UTF-16LE", IconvName(codePage).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    if (error) *error = "code page " + std::to_string(codePage) + " is not supported by this host";
    return false;
  }
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    char16_t u;
    int r = ConvertOne(cd, &in, 1, &u);
    if (r == 1) {
      single_[b] = u;
    } else {
      single_[b] = kDefaultUnit;
      if (r == 0 && b >= 0x80) {
        lead_[b] = true;
        dbcs_ = true;
      }
    }
  }
  if (dbcs_) {
    double_.assign(128 * 256, kDefaultUnit);
    for (int lead = 0x80; lead < 256; ++lead) {
      if (!lead_[lead]) continue;
      for (int trail = 0x20; trail < 256; ++trail) {
        char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        char16_t u;
        if (ConvertOne(cd, in, 2, &u) == 1) double_[(lead - 0x80) * 256 + trail] = u;
      }
    }
  }
  iconv_close(cd);

  // Reverse tables: single bytes first so that they win over double bytes.
  for (int b = 255; b >= 0; --b) {
    if (!lead_[b] && (single_[b] != kDefaultUnit || b == '?')) fromUnicode_[single_[b]] = static_cast<uint16_t>(b);
  }
  if (dbcs_) {
    for (int lead = 0x80; lead < 256; ++lead) {
      if (!lead_[lead]) continue;
      for (int trail = 0x20; trail < 256; ++trail) {
        char16_t u = double_[(lead - 0x80) * 256 + trail];
        if (u != kDefaultUnit && fromUnicode_[u] == kNoMapping) {
          fromUnicode_[u] = static_cast<uint16_t>(lead << 8 | trail);
        }
      }
    }
  }
  return true;
}

size_t CodePage::DecodeOther(const char* bytes, size_t length, char16_t* unit) const {
  if (length == 0) return 0;
  uint8_t b = static_cast<uint8_t>(bytes[0]);
  if (utf8_) {
    // One UTF-8 sequence gives one unit; characters beyond the BMP and
    // invalid bytes become '?' (callers work unit by unit).
    size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || len > length || !IsValidUtf8(bytes, len)) {
      *unit = kDefaultUnit;
      return 1;
    }
    std::u16string u = Utf8ToUtf16(bytes, len);
    *unit = u.size() == 1 ? u[0] : kDefaultUnit;
    return len;
  }
  if (lead_[b]) {
    if (length < 2) {
      *unit = kDefaultUnit;
      return 1;
    }
    *unit = double_[(b - 0x80) * 256 + static_cast<uint8_t>(bytes[1])];
    return 2;
  }
  *unit = single_[b];
  return 1;
}

size_t CodePage::EncodeOther(char16_t unit, char out[2]) const {
  if (utf8_) {
    // Only used for BMP units; surrogates cannot be encoded alone.
    if (unit < 0x80) {
      out[0] = static_cast<char>(unit);
      return 1;
    }
    out[0] = '?';
    return 1;
  }
  uint16_t m = fromUnicode_[unit];
  if (m == kNoMapping) {
    out[0] = '?';
    return 1;
  }
  if (m < 0x100) {
    out[0] = static_cast<char>(m);
    return 1;
  }
  out[0] = static_cast<char>(m >> 8);
  out[1] = static_cast<char>(m & 0xFF);
  return 2;
}

std::u16string CodePage::ToUnicode(const char* bytes, size_t length) const {
  if (utf8_) return Utf8ToUtf16(bytes, length);
  std::u16string out(length, u'\0');  // never more units than bytes
  size_t i = 0, n = 0;
  while (i < length) i += DecodeChar(bytes + i, length - i, &out[n++]);
  out.resize(n);
  return out;
}

std::string CodePage::FromUnicode(const char16_t* units, size_t count) const {
  if (utf8_) return Utf16ToUtf8(units, count);
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    char buf[2];
    // A surrogate pair is one character and becomes one '?'.
    if (units[i] >= 0xD800 && units[i] <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      ++i;
      out.push_back('?');
      continue;
    }
    size_t n = EncodeChar(units[i], buf);
    out.append(buf, n);
  }
  return out;
}

}  // namespace tw
