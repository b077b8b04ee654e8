// UTF-8 / UTF-16 conversion and Windows-style case-insensitive comparison.
#include "platform/machine/machine.h"

namespace tw {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

void AppendUtf16(std::u16string* out, uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out->push_back(static_cast<char16_t>(cp));
  }
}

// Decodes one UTF-8 sequence; returns its length, or 0 when it is invalid.
size_t DecodeUtf8(const unsigned char* s, size_t n, uint32_t* cp) {
  unsigned char b = s[0];
  if (b < 0x80) {
    *cp = b;
    return 1;
  }
  size_t len;
  uint32_t min;
  if ((b & 0xE0) == 0xC0) {
    len = 2, min = 0x80, *cp = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3, min = 0x800, *cp = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4, min = 0x10000, *cp = b & 0x07;
  } else {
    return 0;
  }
  if (n < len) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    *cp = (*cp << 6) | (s[i] & 0x3F);
  }
  if (*cp < min || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

std::u16string Utf8ToUtf16(const char* text, size_t length) {
  std::u16string out;
  out.reserve(length);
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  while (i < length) {
    uint32_t cp;
    size_t used = DecodeUtf8(s + i, length - i, &cp);
    if (used == 0) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    AppendUtf16(&out, cp);
    i += used;
  }
  return out;
}

std::u16string Utf8ToUtf16(const std::string& text) { return Utf8ToUtf16(text.data(), text.size()); }

bool IsValidUtf8(const char* text, size_t length) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  for (size_t i = 0; i < length;) {
    uint32_t cp;
    size_t used = DecodeUtf8(s + i, length - i, &cp);
    if (used == 0) return false;
    i += used;
  }
  return true;
}

std::string Utf16ToUtf8(const char16_t* text, size_t units) {
  // ASCII, which most text is, copies across unit for byte.
  size_t ascii = 0;
  while (ascii < units && text[ascii] < 0x80) ++ascii;
  std::string out(ascii, '\0');
  for (size_t i = 0; i < ascii; ++i) out[i] = static_cast<char>(text[i]);
  if (ascii == units) return out;
  out.reserve(units + (units - ascii) * 2);
  for (size_t i = ascii; i < units; ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& text) { return Utf16ToUtf8(text.data(), text.size()); }

char16_t FoldUpper(char16_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? static_cast<char16_t>(c - 32) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A pairs: upper case at even code points, except the
    // run 0x139..0x148 and 0x179..0x17E where upper case is odd.
    bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    if (oddUpper) return (c % 2 == 0) ? static_cast<char16_t>(c - 1) : c;
    return (c % 2 == 1) ? static_cast<char16_t>(c - 1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 32);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 32);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 32);
  return c;
}

bool EqualNoCase(const char16_t* a, size_t aUnits, const char16_t* b, size_t bUnits) {
  if (aUnits != bUnits) return false;
  for (size_t i = 0; i < aUnits; ++i) {
    if (a[i] != b[i] && FoldUpper(a[i]) != FoldUpper(b[i])) return false;
  }
  return true;
}

bool EqualNoCase(const std::u16string& a, const std::u16string& b) {
  return EqualNoCase(a.data(), a.size(), b.data(), b.size());
}

bool EqualNoCaseUtf8(const std::string& a, const std::string& b) {
  if (a == b) return true;
  return EqualNoCase(Utf8ToUtf16(a), Utf8ToUtf16(b));
}

int CompareNoCase(const std::u16string& a, const std::u16string& b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    char16_t x = FoldUpper(a[i]), y = FoldUpper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  // Names equal but for case: order them by their units so that the order
  // is total and stable.
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace tw
