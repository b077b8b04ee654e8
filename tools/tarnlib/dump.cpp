// tarnlib dump FILE...: prints base and user library files in full, the way
// the scanner reads them (keys, sections, part directories, records, names,
// objects with their sections, symbols and routine slots; user records).
// Base files given together are numbered like one library: routine slots
// count on from file to file as the scanner's slot counters do.
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "common/userlib.h"
#include "scanner/codec/codec.h"
#include "scanner/library/format.h"
#include "tools/tarnlib/coff_edit.h"
#include "tools/tarnlib/command.h"
#include "tools/tarnlib/library_objects.h"

namespace {

using namespace libfmt;
using Bytes = std::vector<uint8_t>;

uint32_t Get32(const Bytes& b, size_t at) {
  if (at + 4 > b.size()) return 0;
  return (uint32_t)b[at] | (uint32_t)b[at + 1] << 8 | (uint32_t)b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}
uint16_t Get16(const Bytes& b, size_t at) { return at + 2 > b.size() ? 0 : (uint16_t)(b[at] | b[at + 1] << 8); }

std::string Printable(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    uint8_t c = p[i];
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
      s.push_back((char)c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      s += buf;
    }
  }
  return s;
}
std::string Printable(const std::string& t) { return Printable((const uint8_t*)t.data(), t.size()); }

std::string Hex(const uint8_t* p, size_t n) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", p[i]);
    s += buf;
  }
  return s;
}

void* HeapAlloc(void*, uint32_t n) { return ::operator new(n); }
void HeapFree(void*, void* p) { ::operator delete(p); }
const CodecAllocator kHeap = {HeapAlloc, HeapFree, nullptr};

std::vector<std::string> Lines(const Bytes& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (uint8_t c : text) {
    if (c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur.push_back((char)c);
    }
  }
  if (!cur.empty()) lines.push_back(cur + " (no LF)");
  return lines;
}

const char* kTotalNames[kTotalCount] = {
    "code bytes",                    "routine-name bytes",         "virus-name bytes",
    "ChecksumTable bytes",           "MultiCheckTable bytes",      "PackerTable bytes",
    "section 0 routine-name bytes",  "section 0 objects",          "section 1 virus-name bytes",
    "section 2 routine-name bytes",  "section 2 objects",          "section 2 virus-name bytes",
    "section 3 routine-name bytes",  "section 3 objects",          "section 3 virus-name bytes",
};

struct LinkState {
  uint32_t counter[4] = {0, 0, 0, 0};
  std::set<uint32_t> exported;  // keys of symbols exported so far
  std::map<uint32_t, std::string> exportedName;
};

uint32_t Key(const std::string& s) { return Crc32(s.data(), (uint32_t)s.size()); }

void DumpObject(const Bytes& image, uint32_t section, uint32_t index, const std::string& prefixLine,
                LinkState* link) {
  std::string prefix = prefixLine.size() > kMaxPrefix ? prefixLine.substr(0, kMaxPrefix) : prefixLine;
  uint32_t slot = section == 0 ? 0 : link->counter[section];
  std::printf("    object %u: %zu bytes, prefix \"%s\", routine slot %u%s\n", index, image.size(),
              Printable(prefix).c_str(), slot, slot >= kNumberedSlots ? " (4096 or more: no entries)" : "");
  CoffObject obj;
  std::string err;
  if (!ParseCoff(image, &obj, &err)) {
    std::printf("      not loadable: %s\n", err.c_str());
    return;
  }
  std::printf("      machine 0x%04x%s, %zu sections, %zu symbol slots\n", obj.machine,
              obj.machine == kMachineI386 || obj.machine == kMachineAmd64 || obj.machine == kMachineArm
                  ? ""
                  : " (refused by the loader)",
              obj.sections.size(), obj.symbols.size());
  for (size_t i = 0; i < obj.sections.size(); ++i) {
    const CoffSection& s = obj.sections[i];
    bool skipped = s.characteristics & (kScnDiscardable | kScnLinkInfo);
    std::printf("      section %zu %-8s raw %6u at 0x%06x, %u relocations, flags 0x%08x%s\n", i + 1,
                Printable(s.name).c_str(), s.rawSize, s.rawOffset, s.relocCount, s.characteristics,
                skipped ? " (skipped)" : s.rawSize == 0 ? " (empty)" : "");
    for (const CoffRelocation& r : CoffRelocations(obj, i)) {
      std::string target = r.symbol < obj.symbols.size() ? obj.symbols[r.symbol].name : "(no such symbol)";
      std::printf("        reloc at 0x%04x type %2u -> [%u] %s\n", r.offset, r.type, r.symbol,
                  Printable(target).c_str());
    }
  }
  uint32_t checkKey = Key(EntryName(prefix, false)), repairKey = Key(EntryName(prefix, true));
  for (size_t i = 0; i < obj.symbols.size(); ++i) {
    const CoffSymbol& s = obj.symbols[i];
    if (s.isAux) continue;
    std::string role;
    uint32_t key = Key(s.name);
    if (s.section == 0) {
      int host = -1;
      for (uint32_t h = 0; h < kHostServiceCount; ++h)
        if (kHostServiceKeys[h] == key) host = (int)h;
      if (host >= 0) {
        role = "-> host service " + std::to_string(host) + " " + kHostServiceNames[host];
      } else if (link->exported.count(key)) {
        role = "-> " + Printable(link->exportedName[key]);
      } else {
        role = "-> unresolved (address 0)";
      }
    } else if (s.section > 0 && !s.name.empty() && (s.name[0] == '?' || s.name[0] == '.')) {
      uint32_t cut = Key(CutName(s.name, s.type, s.storageClass));
      for (uint32_t e = 0; e < kSpecialCount; ++e)
        if (cut == kSpecialKeys[e]) role = std::string("special entry ") + kSpecialNames[e];
      if (role.empty() && cut == checkKey) role = "check entry _0";
      if (role.empty() && cut == repairKey) role = "repair entry _1";
      if (role.empty()) {
        bool first = !link->exported.count(key);
        bool host = false;
        for (uint32_t k : kHostServiceKeys) host |= k == key;
        role = host ? "not exported (a host service's key)" : first ? "exported" : "not exported (defined before)";
        if (first && !host) {
          link->exported.insert(key);
          link->exportedName[key] = s.name;
        }
      }
    }
    std::printf("      [%3zu] %-40s sect %3d value 0x%06x type 0x%02x class %3u key 0x%08x %s\n", i,
                Printable(s.name).c_str(), s.section, s.value, s.type, s.storageClass, key, role.c_str());
  }
}

void DumpRecords(const Bytes& table, uint32_t k, uint32_t count, const std::vector<std::string>& names,
                 uint32_t slotBase, uint32_t objects) {
  size_t pos = 0;
  for (uint32_t i = 0; i < count; ++i) {
    std::string name = i < names.size() ? names[i] : "(no line: Virus.Unknown)";
    if (k == 1) {
      if (pos + kChecksumRecord > table.size()) {
        std::printf("    [%u] past the table end\n", i);
        return;
      }
      std::printf("    [%u] unit %u offset %u length %u crc 0x%08x \"%s\"\n", i, table[pos], Get16(table, pos + 1),
                  table[pos + 3], Get32(table, pos + 4), Printable(name).c_str());
      pos += kChecksumRecord;
      continue;
    }
    if (pos + 2 > table.size() || pos + MultiRecordSize(table[pos + 1]) > table.size()) {
      std::printf("    [%u] past the table end\n", i);
      return;
    }
    uint32_t n = table[pos + 1];
    std::printf("    [%u] unit %u, %u checks \"%s\"\n", i, table[pos], n, Printable(name).c_str());
    for (uint32_t c = 0; c < n; ++c) {
      size_t at = pos + 2 + kCheckSize * c;
      std::printf("        check offset %u length %u crc 0x%08x\n", Get16(table, at), table[at + 2], Get32(table, at + 3));
    }
    size_t tail = pos + 2 + kCheckSize * n;
    uint32_t routine = Get32(table, tail + kParamBytes);
    std::printf("        params %s, routine ", Hex(&table[tail], kParamBytes).c_str());
    if (routine == kNoRoutine) {
      std::printf("none\n");
    } else if (routine < objects) {
      std::printf("%u -> slot %u\n", routine, slotBase + routine);
    } else {
      std::printf("%u (no such object in this section: the scanner calls nothing)\n", routine);
    }
    pos += MultiRecordSize(n);
  }
  if (pos != table.size()) std::printf("    %zu bytes after the last record\n", table.size() - pos);
}

void DumpBase(const std::string& path, Bytes f, LinkState* link) {
  std::printf("%s: base library file, %zu bytes\n", path.c_str(), f.size());
  if (f.size() < kBaseHeaderSize) std::printf("  shorter than its 300-byte header (read as zeros)\n");
  f.resize(f.size() + kSlack, 0);
  uint8_t fileKey = (uint8_t)(f[kKeyByte1] + f[kKeyByte2]);
  size_t producerEnd = 0;
  while (producerEnd < kKeyByte1 && f[producerEnd] != 0) ++producerEnd;
  std::printf("  producer's area: \"%s\"\n", Printable(f.data(), producerEnd).c_str());
  std::printf("  key bytes 0x%02x + 0x%02x: file key 0x%02x\n", f[kKeyByte1], f[kKeyByte2], fileKey);
  uint32_t kind = Get32(f, kKind);
  std::printf("  kind %u%s\n", kind, kind == kFileKindBase ? "" : " (not 0: the scanner ignores this file)");
  LinkState ignored = *link;  // a file the scanner ignores takes no slots
  if (kind != kFileKindBase) link = &ignored;
  for (uint32_t t = 0; t < kTotalCount; ++t)
    std::printf("  %-30s %u\n", kTotalNames[t], Get32(f, kFirstTotal + 4 * t));
  for (uint32_t k = 0; k < kSectionCount; ++k) {
    size_t d = kSectionDir + kSectionDirEntry * k;
    uint32_t off = Get32(f, d), unpacked = Get32(f, d + 4), packed = Get32(f, d + 8);
    std::printf("  section %u: offset %u, unpacked %u, packed %u%s\n", k, off, unpacked, packed,
                packed == 0 || unpacked == 0 ? " (absent)" : "");
  }
  for (uint32_t k = 0; k < kSectionCount; ++k) {
    size_t d = kSectionDir + kSectionDirEntry * k;
    uint32_t off = Get32(f, d), unpacked = Get32(f, d + 4), packed = Get32(f, d + 8);
    if (packed == 0 || unpacked == 0) continue;
    std::printf("  section %u\n", k);
    size_t real = f.size() - kSlack;
    if (off > real || packed > real - off) {
      std::printf("    lies outside the file: skipped\n");
      continue;
    }
    Bytes src(f.begin() + off, f.begin() + off + packed);
    for (uint8_t& c : src) c ^= fileKey;
    uint32_t cap = kSectionLimit;
    if (cap < packed) cap = packed;
    Bytes out(cap);
    int32_t r = GzipDecode(&kHeap, src.data(), (uint32_t)src.size(), out.data(), &cap);
    if (r != kGzipOk || cap != unpacked) {
      std::printf("    does not decode to its %u bytes (result %d, %u bytes): skipped\n", unpacked, r, cap);
      continue;
    }
    out.resize(cap);
    size_t rec = kPartRecord * k;
    if (rec + kPartRecord > out.size()) {
      std::printf("    no part directory record %u: skipped\n", k);
      continue;
    }
    uint32_t fld[12];
    for (int i = 0; i < 12; ++i) fld[i] = Get32(out, rec + kPartTableOffset + 4 * i);
    std::printf("    parts: table at %u, %u records, %u bytes; objects at %u, %u objects, %u bytes\n", fld[0], fld[1],
                fld[2], fld[3], fld[4], fld[5]);
    std::printf("           routine names at %u, %u bytes unpacked, %u packed; virus names at %u, %u unpacked, %u packed\n",
                fld[6], fld[7], fld[8], fld[9], fld[10], fld[11]);
    auto part = [&](uint32_t o, uint32_t n, bool* ok) {
      if (n == 0) return Bytes();
      if (o > out.size() || n > out.size() - o) {
        *ok = false;
        return Bytes();
      }
      return Bytes(out.begin() + o, out.begin() + o + n);
    };
    bool ok = true;
    Bytes table = part(fld[0], fld[2], &ok), objects = part(fld[3], fld[5], &ok);
    Bytes rn = part(fld[6], fld[8], &ok), vn = part(fld[9], fld[11], &ok);
    if (!ok) {
      std::printf("    a part lies outside the section: skipped\n");
      continue;
    }
    uint8_t textKey = !objects.empty() ? objects[0] : !table.empty() ? table[0] : fileKey;
    for (uint8_t& c : rn) c ^= textKey;
    for (uint8_t& c : vn) c ^= textKey;
    // An LZSS stream gives at most 144 bytes per 17 of its own, so a text
    // needs no more room than that, whatever size the part records.
    auto textRoom = [](uint32_t recorded, const Bytes& packed) {
      uint64_t most = packed.empty() ? 0 : (uint64_t)packed.size() / 17 * 144 + 144;
      return (size_t)(recorded < most ? recorded : most);
    };
    Bytes rText(textRoom(fld[7], rn)), vText(textRoom(fld[10], vn));
    if (!rn.empty()) rText.resize(LzssDecode(rn.data(), (uint32_t)rn.size(), rText.data(), (uint32_t)rText.size()));
    if (!vn.empty()) vText.resize(LzssDecode(vn.data(), (uint32_t)vn.size(), vText.data(), (uint32_t)vText.size()));
    uint8_t tableKey = fld[7] ? (rText.empty() ? 0 : rText[0]) : fld[10] ? (vText.empty() ? 0 : vText[0]) : textKey;
    std::printf("    text key 0x%02x, table key 0x%02x\n", textKey, tableKey);
    for (uint8_t& c : table) c ^= tableKey;
    for (uint8_t& c : objects) c ^= tableKey;
    std::vector<std::string> rLines = Lines(rText), vLines = Lines(vText);
    if (k != 0) {
      std::printf("    records (%u), names (%zu lines):\n", fld[1], vLines.size());
      DumpRecords(table, k, fld[1], vLines, link->counter[k], fld[4]);
    }
    if (k == 1) continue;
    std::printf("    objects (%u), routine names (%zu lines):\n", fld[4], rLines.size());
    size_t pos = 0;
    for (uint32_t j = 0; j < fld[4]; ++j) {
      if (pos + 4 > objects.size() || Get32(objects, pos) > objects.size() - pos - 4) {
        std::printf("    object %u runs past the object part: the part ends\n", j);
        break;
      }
      uint32_t size = Get32(objects, pos);
      Bytes image(objects.begin() + pos + 4, objects.begin() + pos + 4 + size);
      DumpObject(image, k, j, j < rLines.size() ? rLines[j] : "", link);
      if (k != 0) link->counter[k]++;
      pos += 4 + size;
    }
  }
}

void DumpUser(const std::string& path, Bytes f) {
  std::printf("%s: user library file, %zu bytes\n", path.c_str(), f.size());
  UserFileHeader h;
  UserFileReadHeader(f.data(), (uint32_t)f.size(), &h);
  size_t textEnd = 4;
  while (textEnd < 4 + kUserTextBlockSize && textEnd < f.size() && f[textEnd] != 0) ++textEnd;
  std::printf("  text block: \"%s\"\n", Printable(f.data() + 4, textEnd - 4).c_str());
  std::printf("  file size %u, header size %u, kind %u%s\n", h.fileSize, h.headerSize, h.kind,
              h.kind == kFileKindUser ? "" : " (not 1: the scanner ignores this file)");
  std::printf("  records area %u bytes, path lines %u bytes, payload at %u, %u bytes unpacked, %u packed\n",
              h.recordsSize, h.pathsSize, h.payloadOffset, h.payloadSize, h.packedSize);
  // The scanner builds no user list at all when a payload claims more than
  // twice its table limit; no buffer is made for such a claim.
  if (h.payloadSize > 2 * (uint64_t)kTableLimit) {
    std::printf("  payload size above %u bytes: the scanner builds no user list while this file is there\n",
                2 * kTableLimit);
    return;
  }
  Bytes out((size_t)h.payloadSize + 16);
  uint32_t length = 0;
  int r = UserFileUnpack(f.data(), (uint32_t)f.size(), out.data(), (uint32_t)out.size(), &length);
  if (r != kUfOk) {
    std::printf("  payload does not unpack (%d): the scanner skips this file\n", r);
    return;
  }
  UserPayloadIndex index;
  r = UserPayloadOpen(out.data(), length, &index);
  if (r != kUfOk) {
    std::printf("  payload index does not fit the payload (%d): skipped\n", r);
    return;
  }
  std::printf("  payload: tag %u, size %u, %u records at %u (%u bytes), path lines at %u (%u bytes), area key 0x%02x\n",
              index.tag, index.payloadSize, index.count, index.recordsOffset, index.recordsSize, index.pathsOffset,
              index.pathsSize, UserAreaKey(index.recordsSize));
  uint32_t cursor = 0;
  for (uint32_t i = 0; i < index.count; ++i) {
    UserRecord rec;
    UserPayloadRecord(out.data(), &index, i, &rec);
    const char* line = "";
    uint32_t lineLength = 0;
    if (!UserPayloadNextPath(out.data(), &index, &cursor, &line, &lineLength)) line = "";
    std::printf("  [%u] date %s size %u md5 %s path \"%s\"\n", i, Printable((const uint8_t*)rec.date, 10).c_str(),
                rec.size, Hex(rec.digest, 16).c_str(), Printable((const uint8_t*)line, lineLength).c_str());
  }
}

int Dump(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::fprintf(stderr, "usage: tarnlib dump FILE...\n");
    return 2;
  }
  std::vector<std::pair<std::string, Bytes>> files;
  for (const std::string& path : args) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "tarnlib dump: cannot read %s\n", path.c_str());
      return 1;
    }
    files.emplace_back(path, Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  }
  // Slot counters start where the scanner starts them: after all section-0
  // objects, and section 3 after all section-2 objects, of the base files.
  LinkState link;
  uint64_t s0 = 0, s2 = 0;
  for (auto& [path, bytes] : files) {
    bool user = bytes.size() >= 4 && bytes[0] == 0x1D && bytes[1] == 0xEA && bytes[2] == 0x0D && bytes[3] == 0x0A;
    if (user || Get32(bytes, kKind) != kFileKindBase) continue;
    s0 += Get32(bytes, kS0Objects);
    s2 += Get32(bytes, kS2Objects);
  }
  link.counter[2] = (uint32_t)s0;
  link.counter[3] = (uint32_t)(s0 + s2);
  for (auto& [path, bytes] : files) {
    bool user = bytes.size() >= 4 && bytes[0] == 0x1D && bytes[1] == 0xEA && bytes[2] == 0x0D && bytes[3] == 0x0A;
    if (user) {
      DumpUser(path, bytes);
    } else {
      DumpBase(path, bytes, &link);
    }
  }
  return 0;
}

TarnlibCommand dumpCommand("dump", "dump FILE...", Dump);

}  // namespace
