// COFF object parsing and rewriting for tarnlib (see coff_edit.h).
#include "tools/tarnlib/coff_edit.h"

#include <cstring>

#include "scanner/library/format.h"

namespace {

uint16_t Get16(const std::vector<uint8_t>& b, size_t at) { return (uint16_t)(b[at] | b[at + 1] << 8); }
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return (uint32_t)b[at] | (uint32_t)b[at + 1] << 8 | (uint32_t)b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}
void Put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back((uint8_t)v);
  b.push_back((uint8_t)(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back((uint8_t)(v >> (8 * i)));
}
bool Fits(size_t size, uint64_t offset, uint64_t length) { return offset <= size && length <= size - offset; }

}  // namespace

bool ParseCoff(const std::vector<uint8_t>& b, CoffObject* out, std::string* error) {
  using namespace libfmt;
  *out = CoffObject();
  out->bytes = b;
  if (b.size() < kCoffHeader) {
    *error = "shorter than a COFF header";
    return false;
  }
  out->machine = Get16(b, 0);
  uint16_t nsec = Get16(b, 2);
  out->symbolOffset = Get32(b, 8);
  uint32_t nsym = Get32(b, 12);
  out->optionalSize = Get16(b, 16);
  uint64_t secTable = kCoffHeader + (uint64_t)out->optionalSize;
  if (!Fits(b.size(), secTable, (uint64_t)nsec * kCoffSectionHeader)) {
    *error = "section table beyond the image";
    return false;
  }
  for (uint32_t i = 0; i < nsec; ++i) {
    size_t at = secTable + (size_t)i * kCoffSectionHeader;
    CoffSection s;
    s.name.assign((const char*)&b[at], strnlen((const char*)&b[at], 8));
    s.virtualSize = Get32(b, at + 8);
    s.virtualAddress = Get32(b, at + 12);
    s.rawSize = Get32(b, at + 16);
    s.rawOffset = Get32(b, at + 20);
    s.relocOffset = Get32(b, at + 24);
    s.relocCount = Get16(b, at + 32);
    s.characteristics = Get32(b, at + 36);
    if (!(s.characteristics & kScnUninitialized) && s.rawSize && !Fits(b.size(), s.rawOffset, s.rawSize)) {
      *error = "raw data of section " + s.name + " beyond the image";
      return false;
    }
    if (!Fits(b.size(), s.relocOffset, (uint64_t)s.relocCount * kCoffRelocation)) {
      *error = "relocations of section " + s.name + " beyond the image";
      return false;
    }
    out->sections.push_back(s);
  }
  if (!Fits(b.size(), out->symbolOffset, (uint64_t)nsym * kCoffSymbol)) {
    *error = "symbol table beyond the image";
    return false;
  }
  uint64_t strAt = out->symbolOffset + (uint64_t)nsym * kCoffSymbol;
  uint32_t strSize = 0;
  if (Fits(b.size(), strAt, 4)) strSize = Get32(b, strAt);
  if (strSize != 0 && (strSize < 4 || !Fits(b.size(), strAt, strSize))) {
    *error = "string table beyond the image";
    return false;
  }
  for (uint32_t i = 0; i < nsym;) {
    size_t at = out->symbolOffset + (size_t)i * kCoffSymbol;
    CoffSymbol s;
    if (Get32(b, at) == 0) {
      uint32_t off = Get32(b, at + 4);
      if (off < 4 || off >= strSize) {
        *error = "symbol name outside the string table";
        return false;
      }
      const char* p = (const char*)&b[strAt + off];
      size_t len = strnlen(p, strSize - off);
      if (len == strSize - off) {
        *error = "symbol name without a terminator";
        return false;
      }
      s.name.assign(p, len);
    } else {
      s.name.assign((const char*)&b[at], strnlen((const char*)&b[at], 8));
    }
    s.value = Get32(b, at + 8);
    s.section = (int16_t)Get16(b, at + 12);
    s.type = Get16(b, at + 14);
    s.storageClass = b[at + 16];
    s.auxCount = b[at + 17];
    uint32_t aux = s.auxCount;
    if (aux > nsym - i - 1) {
      *error = "auxiliary records past the symbol table";
      return false;
    }
    s.aux.assign(b.begin() + at + kCoffSymbol, b.begin() + at + kCoffSymbol + (size_t)aux * kCoffSymbol);
    out->symbols.push_back(s);
    for (uint32_t k = 0; k < aux; ++k) {
      CoffSymbol placeholder;
      placeholder.isAux = true;
      out->symbols.push_back(placeholder);
    }
    i += 1 + aux;
  }
  return true;
}

std::vector<CoffRelocation> CoffRelocations(const CoffObject& obj, size_t section) {
  std::vector<CoffRelocation> r;
  const CoffSection& s = obj.sections[section];
  for (uint32_t i = 0; i < s.relocCount; ++i) {
    size_t at = s.relocOffset + (size_t)i * libfmt::kCoffRelocation;
    r.push_back({Get32(obj.bytes, at), Get32(obj.bytes, at + 4), Get16(obj.bytes, at + 8)});
  }
  return r;
}

bool WriteCoff(const CoffObject& obj, std::vector<uint8_t>* out, std::string* error) {
  using namespace libfmt;
  const std::vector<uint8_t>& b = obj.bytes;
  uint64_t symEnd = obj.symbolOffset + (uint64_t)obj.symbols.size() * kCoffSymbol;
  uint64_t end = symEnd;
  if (symEnd + 4 <= b.size()) {
    uint32_t oldStr = Get32(b, symEnd);
    end = symEnd + (oldStr < 4 ? 4 : oldStr);
  }
  if (end != b.size()) {
    *error = "the symbol and string tables are not at the end of the image";
    return false;
  }
  std::vector<uint8_t> o(b.begin(), b.begin() + obj.symbolOffset);
  std::vector<uint8_t> strings = {0, 0, 0, 0};
  for (const CoffSymbol& s : obj.symbols) {
    if (s.isAux) continue;
    if (s.name.find('\0') != std::string::npos) {
      *error = "symbol name with a NUL byte: " + s.name;
      return false;
    }
    if (s.name.size() <= 8) {
      uint8_t n[8] = {0};
      memcpy(n, s.name.data(), s.name.size());
      o.insert(o.end(), n, n + 8);
    } else {
      Put32(o, 0);
      Put32(o, (uint32_t)strings.size());
      strings.insert(strings.end(), s.name.begin(), s.name.end());
      strings.push_back(0);
    }
    Put32(o, s.value);
    Put16(o, (uint16_t)s.section);
    Put16(o, s.type);
    o.push_back(s.storageClass);
    o.push_back(s.auxCount);
    o.insert(o.end(), s.aux.begin(), s.aux.end());
  }
  uint32_t size = (uint32_t)strings.size();
  memcpy(strings.data(), &size, 4);
  o.insert(o.end(), strings.begin(), strings.end());
  *out = std::move(o);
  return true;
}

uint32_t CoffCodeBytes(const CoffObject& obj) {
  uint64_t total = 0;
  for (const CoffSection& s : obj.sections) {
    if (s.characteristics & (libfmt::kScnDiscardable | libfmt::kScnLinkInfo)) continue;
    if (s.rawSize == 0) continue;
    total += ((uint64_t)s.rawSize + 15) & ~(uint64_t)15;
  }
  return (uint32_t)total;
}
