// The in-memory linker of routine objects: places the sections of each COFF
// image in the code area, applies its relocations, binds its undefined
// names to host services and to symbols of objects loaded before it, and
// records its routine entries, special entries and exported symbols.
//
// COFF image (all reads through one ByteView):
//   0   file header (20): machine u16, sections u16, -, symbol table u32,
//       symbols u32, optional header size u16, -
//   20 + optional header: section headers, 40 bytes each
//   raw data and relocations (10 bytes each) where the headers say
//   symbol table (18 bytes per symbol, auxiliary records included), then
//   the string table (u32 size, size counting itself, then NUL-ended names)
// An image whose headers, section table, raw data, relocation tables,
// symbol table or string table do not lie inside it is rejected whole; a
// relocation whose target field or symbol does not fit is left alone; a
// symbol whose name does not fit or lacks its terminator has no name.
#include <string.h>

#include "common/crc32.h"
#include "scanner/library/library_internal.h"

namespace {

using namespace libfmt;

struct Image {
  ByteView bytes;
  uint16_t sections;
  uint32_t symbolOffset, symbols;
  uint32_t sectionTable;
  ByteView strings;  // empty when there is no usable string table
};

struct Symbol {
  const uint8_t* name;
  uint32_t nameLength;
  bool named;
  uint32_t value;
  int16_t section;
  uint16_t type;
  uint8_t storageClass;
  uint8_t auxCount;
};

bool ReadSymbol(const Image& img, uint32_t index, Symbol* s) {
  uint32_t at = img.symbolOffset + index * kCoffSymbol;  // inside: checked when the image was opened
  const uint8_t* p = img.bytes.data + at;
  s->value = Load32(p + 8);
  s->section = (int16_t)(p[12] | p[13] << 8);
  s->type = (uint16_t)(p[14] | p[15] << 8);
  s->storageClass = p[16];
  s->auxCount = p[17];
  s->named = false;
  s->name = nullptr;
  s->nameLength = 0;
  if (Load32(p) != 0) {
    uint32_t n = 0;
    while (n < 8 && p[n] != 0) ++n;
    s->name = p;
    s->nameLength = n;
    s->named = true;
    return true;
  }
  uint32_t offset = Load32(p + 4);
  if (offset < 4 || offset >= img.strings.size) return true;
  const uint8_t* name = img.strings.data + offset;
  // A usable name ends within kMaxSymbolName + 1 bytes; looking further
  // would read a long unterminated text once per symbol and relocation.
  uint32_t room = img.strings.size - offset;
  if (room > kMaxSymbolName + 1) room = kMaxSymbolName + 1;
  uint32_t n = 0;
  while (n < room && name[n] != 0) ++n;
  if (n == room) return true;  // no terminator, or too long to use
  s->name = name;
  s->nameLength = n;
  s->named = true;
  return true;
}

bool OpenImage(ByteView bytes, Image* img) {
  img->bytes = bytes;
  uint16_t machine, optional;
  if (!bytes.U16(0, &machine) || !bytes.U16(2, &img->sections) || !bytes.U32(8, &img->symbolOffset) ||
      !bytes.U32(12, &img->symbols) || !bytes.U16(16, &optional))
    return false;
  if (machine != kMachineI386 && machine != kMachineAmd64 && machine != kMachineArm) return false;
  img->sectionTable = kCoffHeader + optional;
  if (!bytes.Has64(img->sectionTable, (uint64_t)img->sections * kCoffSectionHeader)) return false;
  if (img->symbols != 0 && !bytes.Has64(img->symbolOffset, (uint64_t)img->symbols * kCoffSymbol)) return false;
  img->strings = MakeView(nullptr, 0);
  uint64_t stringsAt = img->symbols ? img->symbolOffset + (uint64_t)img->symbols * kCoffSymbol : 0;
  uint32_t stringsSize;
  if (img->symbols != 0 && stringsAt <= bytes.size && bytes.U32((uint32_t)stringsAt, &stringsSize)) {
    if (stringsSize < 4 || !bytes.Sub((uint32_t)stringsAt, stringsSize, &img->strings)) return false;
  }
  return true;
}

struct SectionHeader {
  uint32_t virtualAddress, rawSize, rawOffset, relocOffset;
  uint16_t relocCount;
  uint32_t characteristics;
};

SectionHeader ReadSection(const Image& img, uint32_t i) {
  const uint8_t* p = img.bytes.data + img.sectionTable + i * kCoffSectionHeader;
  SectionHeader h;
  h.virtualAddress = Load32(p + 12);
  h.rawSize = Load32(p + 16);
  h.rawOffset = Load32(p + 20);
  h.relocOffset = Load32(p + 24);
  h.relocCount = (uint16_t)(p[32] | p[33] << 8);
  h.characteristics = Load32(p + 36);
  return h;
}

bool Skipped(const SectionHeader& h) { return (h.characteristics & (kScnDiscardable | kScnLinkInfo)) != 0; }

uint32_t Key(const uint8_t* p, uint32_t n) { return Crc32(p, n); }

// The cut name: for functions of storage class 2 the name up to "@CQEL",
// for class 3 the same from its seventh character on; else the empty text.
void CutName(const Symbol& s, const uint8_t** cut, uint32_t* length) {
  *cut = s.name;
  *length = 0;
  if (s.type != kSymTypeFunction) return;
  uint32_t from;
  if (s.storageClass == kClassExternal) {
    from = 0;
  } else if (s.storageClass == kClassStatic) {
    from = 6;
  } else {
    return;
  }
  if (s.nameLength <= from) return;
  const uint8_t* p = s.name + from;
  uint32_t n = s.nameLength - from;
  uint32_t end = n;
  for (uint32_t i = 0; i + 5 <= n; ++i) {
    if (memcmp(p + i, kClassMarker, 5) == 0) {
      end = i;
      break;
    }
  }
  *cut = p;
  *length = end;
}

// Key of the entry name made from prefix + suffix: ".%08x" of its CRC-32.
uint32_t EntryKey(const char* prefix, uint32_t prefixLength, const char* suffix, uint32_t suffixLength) {
  uint32_t crc = Crc32Update(Crc32(prefix, prefixLength), suffix, suffixLength);
  static const char kHex[] = "0123456789abcdef";
  char name[9];
  name[0] = '.';
  for (int i = 0; i < 8; ++i) name[1 + i] = kHex[(crc >> (28 - 4 * i)) & 0xF];
  return Crc32(name, 9);
}

}  // namespace

namespace {

// The index is a row of runs, each sorted by key, whose sizes are the one
// bits of its count, largest (oldest places) first. An added place is a run
// of one; runs of equal size then merge like the carries of a binary count,
// so each place is moved about log n times in all, where keeping one sorted
// row would shift every later place on each add (at the limit, 10,000 adds
// moving 100 MB). A search looks in each run, newest first.
//
// Keys in the index are distinct (an add is refused for a key it holds), but
// should two places ever share one, a search finds the one indexed last: in
// a merged run equal keys stay newest first, and newer runs are searched
// first.

uint32_t KeyAt(const VirusLibrary* lib, uint32_t position) { return lib->symbols[lib->symbolIndex[position]].key; }

// The first position of [lo, hi) whose key is not below `key`.
uint32_t RunPosition(const VirusLibrary* lib, uint32_t lo, uint32_t hi, uint32_t key) {
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    if (KeyAt(lib, mid) < key)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

// Merges the run of `size` at `from` with the equally long, newer run after
// it; on equal keys the newer place goes first.
void MergeRuns(VirusLibrary* lib, uint32_t from, uint32_t size) {
  uint16_t* index = lib->symbolIndex;
  uint16_t* older = lib->symbolMerge;
  memcpy(older, index + from, size * sizeof(uint16_t));
  uint32_t i = 0, j = from + size, end = from + 2 * size, out = from;
  while (i < size && j < end) {
    if (KeyAt(lib, j) <= lib->symbols[older[i]].key)
      index[out++] = index[j++];
    else
      index[out++] = older[i++];
  }
  // What is left of the newer run is already in place.
  memcpy(index + out, older + i, (size - i) * sizeof(uint16_t));
}

void IndexInsert(VirusLibrary* lib, uint32_t place) {
  uint32_t count = lib->symbolIndexCount;
  lib->symbolIndex[count] = (uint16_t)place;
  for (uint32_t size = 1; count & size; size <<= 1) MergeRuns(lib, count + 1 - 2 * size, size);
  lib->symbolIndexCount = count + 1;
}

}  // namespace

void SymbolReset(VirusLibrary* lib, uint32_t count) {
  // Places below `count` that hold nothing stay zero (key 0, address 0);
  // places from the count on are always zero, so only the used ones are
  // cleared.
  uint32_t used = lib->symbolCount < kSymbolPlaces ? lib->symbolCount : kSymbolPlaces;
  for (uint32_t i = count < used ? count : used; i < used; ++i) lib->symbols[i].key = lib->symbols[i].address = 0;
  lib->symbolCount = count;
  lib->symbolIndexCount = 0;
  for (uint32_t i = 0; i < count && i < kHostServiceCount; ++i) {
    if (lib->symbols[i].address == 0) continue;
    IndexInsert(lib, i);
  }
}

int SymbolFind(const VirusLibrary* lib, uint32_t key, uint32_t* address) {
  uint32_t count = lib->symbolIndexCount;
  for (uint32_t size = 1; size <= count; size <<= 1) {
    if (!(count & size)) continue;
    uint32_t lo = count & ~(2 * size - 1), hi = lo + size;  // the run of this size
    uint32_t at = RunPosition(lib, lo, hi, key);
    if (at < hi && KeyAt(lib, at) == key) {
      *address = lib->symbols[lib->symbolIndex[at]].address;
      return 1;
    }
  }
  return 0;
}

int SymbolAdd(VirusLibrary* lib, uint32_t key, uint32_t address) {
  uint32_t ignored;
  if (lib->symbolCount >= kSymbolPlaces || SymbolFind(lib, key, &ignored)) return 0;
  uint32_t place = lib->symbolCount++;
  lib->symbols[place].key = key;
  lib->symbols[place].address = address;
  IndexInsert(lib, place);
  return 1;
}

int LoadObject(VirusLibrary* lib, ByteView bytes, const ObjectContext* oc) {
  Image img;
  if (!OpenImage(bytes, &img) || lib->code == nullptr) return 0;

  // Room and bounds first: nothing is written for an image that is refused.
  uint64_t need = 0;
  uint64_t relocationBytes = 0;
  for (uint32_t i = 0; i < img.sections; ++i) {
    SectionHeader h = ReadSection(img, i);
    if (Skipped(h) || h.rawSize == 0) continue;
    if (!(h.characteristics & kScnUninitialized) && !bytes.Has(h.rawOffset, h.rawSize)) return 0;
    if (!bytes.Has64(h.relocOffset, (uint64_t)h.relocCount * kCoffRelocation)) return 0;
    need += ((uint64_t)h.rawSize + 15) & ~(uint64_t)15;
    relocationBytes += (uint64_t)h.relocCount * kCoffRelocation;
  }
  if (need > lib->codeSize - lib->codeUsed) return 0;
  // Each section has a relocation table of its own, so together they fit in
  // the image. Sections sharing one table would have the linker walk it once
  // per section: 65535 sections of 65535 relocations each hold the boot for
  // minutes per object.
  if (relocationBytes > bytes.size) return 0;

  uint32_t* load = nullptr;
  if (img.sections != 0) {
    load = (uint32_t*)MemAlloc0(lib->ctx, img.sections * 4u);
    if (load == nullptr) return 0;
  }
  for (uint32_t i = 0; i < img.sections; ++i) {
    SectionHeader h = ReadSection(img, i);
    if (Skipped(h) || h.rawSize == 0) continue;
    uint8_t* at = lib->code + lib->codeUsed;
    if (h.characteristics & kScnUninitialized) {
      memset(at, 0, h.rawSize);
    } else {
      memcpy(at, bytes.data + h.rawOffset, h.rawSize);
    }
    load[i] = (uint32_t)(uintptr_t)at;
    lib->codeUsed += (h.rawSize + 15) & ~15u;
  }

  // Relocations.
  for (uint32_t i = 0; i < img.sections; ++i) {
    if (load[i] == 0) continue;
    SectionHeader h = ReadSection(img, i);
    uint8_t* base = (uint8_t*)(uintptr_t)load[i];
    for (uint32_t r = 0; r < h.relocCount; ++r) {
      const uint8_t* rel = bytes.data + h.relocOffset + r * kCoffRelocation;
      uint32_t offset = Load32(rel);
      uint32_t index = Load32(rel + 4);
      uint16_t type = (uint16_t)(rel[8] | rel[9] << 8);
      if (index >= img.symbols || offset > h.rawSize || h.rawSize - offset < 4) continue;
      Symbol s;
      ReadSymbol(img, index, &s);
      uint32_t value;
      if (s.section >= 1) {
        if ((uint32_t)s.section > img.sections) continue;
        uint32_t sectionAddress = load[s.section - 1];
        if (sectionAddress == 0) sectionAddress = ReadSection(img, s.section - 1).virtualAddress;
        value = sectionAddress + s.value;
      } else if (s.section == 0) {
        value = 0;  // unresolved names bind to address 0
        if (s.named) SymbolFind(lib, Key(s.name, s.nameLength), &value);
      } else if (s.section == -1) {
        value = s.value;  // absolute symbol
      } else {
        continue;  // debug symbols are no relocation targets
      }
      uint8_t* field = base + offset;
      uint32_t target = (uint32_t)(uintptr_t)field;
      switch (type) {
        case 1:
        case 3:
        case 5:
        case 6:
          Store32(field, Load32(field) + value);
          break;
        case 4:
        case 20:
          Store32(field, value - (target + 4));
          break;
        default:
          break;  // other relocation types are not used by 32-bit routine code
      }
    }
  }

  // Entries and exports.
  uint32_t checkKey = EntryKey(oc->prefix, oc->prefixLength, kCheckSuffix, sizeof kCheckSuffix - 1);
  uint32_t repairKey = EntryKey(oc->prefix, oc->prefixLength, kRepairSuffix, sizeof kRepairSuffix - 1);
  for (uint32_t i = 0; i < img.symbols;) {
    Symbol s;
    ReadSymbol(img, i, &s);
    i += 1;
    i = s.auxCount > img.symbols - i ? img.symbols : i + s.auxCount;
    if (!s.named || s.nameLength == 0 || (s.name[0] != '?' && s.name[0] != '.')) continue;
    if (s.section < 1 || (uint32_t)s.section > img.sections || load[s.section - 1] == 0) continue;
    // An entry or export must point into its own section.
    if (s.value >= ReadSection(img, s.section - 1).rawSize) continue;
    uint32_t address = load[s.section - 1] + s.value;
    const uint8_t* cut;
    uint32_t cutLength;
    CutName(s, &cut, &cutLength);
    uint32_t cutKey = Key(cut, cutLength);
    bool special = false;
    for (uint32_t e = 0; e < kSpecialCount; ++e) {
      if (cutKey != kSpecialKeys[e]) continue;
      RoutineSlot& slot = lib->routines[kNumberedSlots + e / 2];
      (e % 2 ? slot.repair : slot.check) = address;
      special = true;
    }
    if (special) continue;
    if (cutKey == checkKey || cutKey == repairKey) {
      if (oc->slot < kNumberedSlots) (cutKey == checkKey ? lib->routines[oc->slot].check : lib->routines[oc->slot].repair) = address;
      continue;
    }
    SymbolAdd(lib, Key(s.name, s.nameLength), address);
  }
  MemFree(lib->ctx, load);
  return 1;
}

uint32_t LoadObjects(VirusLibrary* lib, ByteView part, uint32_t count, uint32_t section, ByteView routineNames) {
  uint32_t pos = 0;
  uint32_t line = 0;  // position of object j's line in routineNames
  uint32_t handed = 0;
  for (uint32_t j = 0; j < count; ++j) {
    uint32_t size;
    if (!part.U32(pos, &size) || !part.Has(pos + 4, size)) break;  // runs past the part: the part ends
    // Object j takes line j of the text as its prefix (cut to 63).
    uint32_t end = line;
    while (end < routineNames.size && routineNames.data[end] != '\n') ++end;
    ObjectContext oc;
    oc.section = section;
    oc.slot = section == 0 ? 0 : lib->slotCounter[section];
    oc.prefix = (const char*)routineNames.data + line;
    oc.prefixLength = end - line > kMaxPrefix ? kMaxPrefix : end - line;
    line = end < routineNames.size ? end + 1 : end;
    ByteView image;
    part.Sub(pos + 4, size, &image);
    LoadObject(lib, image, &oc);
    if (lib->slotCounter[section] != 0xFFFFFFFFu) lib->slotCounter[section]++;
    ++handed;
    pos += 4 + size;
  }
  return handed;
}
