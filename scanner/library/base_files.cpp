// The base pass: reading the base files of the selected indexes, sizing the
// tables from the header totals, decoding every section and building the
// record tables, the virus-name lists and the linked routine code.
//
// Every section is taken whole or not at all: its parts must lie inside the
// decoded section, its table must parse into exactly the records the part
// directory announces, and its table and names must fit the room left in
// their areas; otherwise nothing of it is kept (its names would otherwise
// drift against the records of every later section).
//
// Virus names stay LZSS-packed, one packed run per section: a section's own
// packed text is kept as it came whenever it unpacks to exactly the names of
// its records, so loading encodes nothing in the usual case (encoding all
// names anew took most of the load time of a large library), and a lookup
// unpacks only the section that holds the record.
#include <string.h>

#include "platform/guard/guard.h"
#include "scanner/library/library_internal.h"

namespace {

using namespace libfmt;

bool Selected(uint32_t mode, uint32_t index) {
  switch (mode) {
    case 0: return true;
    case 1: return index == 0 || index == 17 || index == 40 || index == 41;
    case 2: return index >= 10 && index <= 16;
  }
  return false;
}

// Header fields lie in the first 300 bytes; every file buffer has 4096 zero
// bytes past its end, so a short file reads as zeros there.
uint32_t Field(const FileBuffer& f, uint32_t offset) { return Load32(f.data + offset); }

struct SectionEntry {
  uint32_t offset, unpacked, packed;
};

SectionEntry DirectoryEntry(const FileBuffer& f, uint32_t k) {
  uint32_t at = kSectionDir + kSectionDirEntry * k;
  return {Field(f, at), Field(f, at + 4), Field(f, at + 8)};
}

struct GzipCall {
  const CodecAllocator* allocator;
  const uint8_t* src;
  uint32_t length;
  uint8_t* dst;
  uint32_t capacity;
  int32_t result;
};

void GzipBody(void* p) {
  GzipCall* c = (GzipCall*)p;
  c->result = GzipDecode(c->allocator, c->src, c->length, c->dst, &c->capacity);
}

void Xor(uint8_t* p, uint32_t n, uint8_t key) {
  if (key == 0) return;
  for (uint32_t i = 0; i < n; ++i) p[i] ^= key;
}

struct Build {
  VirusLibrary* lib;
  CodecAllocator allocator;
  uint8_t* decode;
  uint32_t decodeCapacity;
  uint8_t* routineText;  // the current section's routine-name text
  uint32_t routineCapacity;
  Area names[3];   // unpacked virus-name texts of kinds 1, 2, 3
  Area packed[3];  // their packed streams (become the library's name lists)
};

struct Parts {
  ByteView table, objects, routinePacked, virusPacked;
  uint32_t tableCount, objectCount, routineSize, virusSize;
};

bool ReadParts(ByteView section, uint32_t k, Parts* p) {
  uint32_t rec = kPartRecord * k;
  if (!section.Has(rec, kPartRecord)) return false;
  uint32_t f[12];
  for (uint32_t i = 0; i < 12; ++i) section.U32(rec + kPartTableOffset + 4 * i, &f[i]);
  ByteView* views[4] = {&p->table, &p->objects, &p->routinePacked, &p->virusPacked};
  // Offset and size of each part: fields (0, 2), (3, 5), (6, 8), (9, 11).
  const uint32_t offsetField[4] = {0, 3, 6, 9};
  const uint32_t sizeField[4] = {2, 5, 8, 11};
  for (int i = 0; i < 4; ++i) {
    *views[i] = MakeView(nullptr, 0);
    uint32_t size = f[sizeField[i]];
    if (size != 0 && !section.Sub(f[offsetField[i]], size, views[i])) return false;
  }
  p->tableCount = f[1];
  p->objectCount = f[4];
  p->routineSize = f[7];
  p->virusSize = f[10];
  return true;
}

// Multi-check and packer records: exactly `count` records filling `table`.
bool MultiTableWellFormed(ByteView table, uint32_t count) {
  uint32_t pos = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t n;
    if (!table.U8(pos + 1, &n)) return false;
    uint32_t size = MultiRecordSize(n);
    if (!table.Has(pos, size)) return false;
    pos += size;
  }
  return pos == table.size;
}

// Makes the text just appended at [start, area->used) exactly `lines`
// LF-ended lines: missing names become empty lines ("Virus.Unknown"), extra
// ones are dropped. False when the padding does not fit. *same: the text
// was already exactly that.
bool FitLines(Area* area, uint32_t start, uint32_t lines, bool* same) {
  uint32_t seen = 0;
  uint32_t pos = start;
  for (; pos < area->used && seen < lines; ++pos)
    if (area->data[pos] == '\n') ++seen;
  *same = seen == lines && pos == area->used;
  if (seen == lines) {
    area->used = pos;
    return true;
  }
  if (area->used > start && area->data[area->used - 1] != '\n') {
    ++seen;  // the last line lacks its LF
    if (area->used == area->capacity) return false;
    area->data[area->used++] = '\n';
  }
  uint32_t missing = lines - seen;
  if (missing > area->capacity - area->used) return false;
  memset(area->data + area->used, '\n', missing);
  area->used += missing;
  return true;
}

uint32_t Unpack(ByteView packed, uint32_t declared, uint8_t* dst, uint32_t room) {
  if (packed.size == 0 || declared == 0) return 0;
  return LzssDecode(packed.data, packed.size, dst, declared < room ? declared : room);
}

// The virus names of one section's records, kept LZSS-packed: the section's
// own packed stream when it unpacks to exactly the text kept (the common
// case: nothing to encode), else the kept text packed anew. A section whose
// names cannot be kept leaves its records without names ("Virus.Unknown").
void KeepNames(VirusLibrary* lib, uint32_t kind, uint32_t firstRecord, uint32_t records, const uint8_t* text,
               uint32_t length, ByteView stream, Build* b) {
  if (records == 0 || lib->nameRunCount[kind] >= kMaxFiles) return;
  Area* packed = &b->packed[kind];
  uint32_t room = packed->capacity - packed->used;
  uint8_t* out = packed->data + packed->used;
  uint32_t n = 0;
  if (stream.size != 0 && stream.size <= room) {
    memcpy(out, stream.data, stream.size);
    n = stream.size;
  } else if (length != 0) {
    n = LzssEncode(&b->allocator, text, length, out, room);
  }
  if (n == 0) return;
  NameRun& run = lib->nameRuns[kind][lib->nameRunCount[kind]++];
  run.firstRecord = firstRecord;
  run.records = records;
  run.offset = packed->used;
  run.length = n;
  packed->used += n;
}

void LoadSection(Build* b, const FileBuffer& f, uint8_t fileKey, uint32_t k) {
  VirusLibrary* lib = b->lib;
  SectionEntry d = DirectoryEntry(f, k);
  if (d.packed == 0 || d.unpacked == 0) return;  // absent
  ByteView file = MakeView(f.data, f.size);
  if (!file.Has(d.offset, d.packed) || d.unpacked > kSectionLimit || d.unpacked > b->decodeCapacity) return;
  uint8_t* src = f.data + d.offset;
  Xor(src, d.packed, fileKey);
  uint32_t capacity = b->decodeCapacity < kSectionLimit ? b->decodeCapacity : kSectionLimit;
  GzipCall call = {&b->allocator, src, d.packed, b->decode, capacity, kGzipBad};
  if (!TwGuardedRun(GzipBody, &call) || call.result != kGzipOk || call.capacity != d.unpacked) return;

  ByteView section = MakeView(b->decode, d.unpacked);
  Parts p;
  if (!ReadParts(section, k, &p)) return;
  uint8_t textKey = p.objects.size ? p.objects.data[0] : p.table.size ? p.table.data[0] : fileKey;
  Xor((uint8_t*)p.routinePacked.data, p.routinePacked.size, textKey);
  Xor((uint8_t*)p.virusPacked.data, p.virusPacked.size, textKey);

  uint32_t routineLength = Unpack(p.routinePacked, p.routineSize, b->routineText, b->routineCapacity);
  Area* names = k >= 1 ? &b->names[k - 1] : nullptr;
  uint32_t namesStart = names ? names->used : 0;
  uint32_t virusLength = 0;
  bool exactStream = false;  // the stream holds the declared text and nothing more
  if (names != nullptr && p.virusPacked.size != 0 && p.virusSize != 0) {
    uint32_t room = names->capacity - names->used;
    uint32_t want = p.virusSize < room ? p.virusSize + 1 : room;  // one byte more tells whether it ends there
    virusLength = LzssDecode(p.virusPacked.data, p.virusPacked.size, names->data + names->used, want);
    exactStream = virusLength == p.virusSize && want > p.virusSize;
    if (virusLength > p.virusSize) virusLength = p.virusSize;
    names->used += virusLength;
  }
  uint8_t tableKey = textKey;
  if (p.routineSize != 0) {
    tableKey = routineLength ? b->routineText[0] : 0;
  } else if (p.virusSize != 0) {
    tableKey = virusLength ? names->data[namesStart] : 0;
  }
  Xor((uint8_t*)p.table.data, p.table.size, tableKey);
  Xor((uint8_t*)p.objects.data, p.objects.size, tableKey);
  ByteView routineNames = MakeView(b->routineText, routineLength);

  if (k == 0) {
    LoadObjects(lib, p.objects, p.objectCount, 0, routineNames);
    return;
  }
  Area* table = k == 1 ? &lib->checksum : k == 2 ? &lib->multi : &lib->packer;
  bool ok = k == 1 ? p.tableCount <= p.table.size / kChecksumRecord && p.tableCount * kChecksumRecord == p.table.size
                   : MultiTableWellFormed(p.table, p.tableCount);
  bool sameText = false;
  ok = ok && p.table.size <= table->capacity - table->used && FitLines(names, namesStart, p.tableCount, &sameText);
  if (!ok) {
    names->used = namesStart;
    return;
  }
  uint32_t firstRecord = k == 1 ? lib->checksumCount : k == 2 ? lib->multiCount : lib->packerCount;
  KeepNames(lib, k - 1, firstRecord, p.tableCount, names->data + namesStart, names->used - namesStart,
            exactStream && sameText ? p.virusPacked : MakeView(nullptr, 0), b);
  uint8_t* out = table->data + table->used;
  if (p.table.size) memcpy(out, p.table.data, p.table.size);
  table->used += p.table.size;
  if (k == 1) {
    lib->checksumCount += p.tableCount;
    return;
  }
  // A record's routine number counts the objects of its own file and
  // section; it becomes a routine slot. A number naming no object of this
  // part does not borrow another file's routine.
  uint32_t base = lib->slotCounter[k];
  uint32_t handed = LoadObjects(lib, p.objects, p.objectCount, k, routineNames);
  uint32_t pos = 0;
  for (uint32_t i = 0; i < p.tableCount; ++i) {
    uint32_t size = MultiRecordSize(out[pos + 1]);
    uint8_t* number = out + pos + size - 4;
    uint32_t r = Load32(number);
    if (r != kNoRoutine) Store32(number, r < handed && base <= 0xFFFFFFFDu - r ? base + r : kMissingRoutine);
    pos += size;
  }
  (k == 2 ? lib->multiCount : lib->packerCount) += p.tableCount;
}

bool AllocArea(RuntimeContext* ctx, Area* a, uint64_t capacity) {
  a->used = 0;
  a->capacity = (uint32_t)capacity;
  a->data = (uint8_t*)MemAlloc(ctx, a->capacity ? a->capacity : 1);
  return a->data != nullptr;
}

}  // namespace

// Steps 3 to 8 over the files read.
void BuildBaseTables(VirusLibrary* lib, FileBuffer* files) {
  uint64_t totals[kTotalCount] = {0};
  uint64_t decodeNeed = 0;
  uint32_t baseFiles = 0;
  for (uint32_t i = 0; i < kMaxFiles; ++i) {
    const FileBuffer& f = files[i];
    if (f.data == nullptr || Field(f, kKind) != kFileKindBase) continue;
    ++baseFiles;
    for (uint32_t t = 0; t < kTotalCount; ++t) totals[t] += Field(f, kFirstTotal + 4 * t);
    for (uint32_t k = 0; k < kSectionCount; ++k) {
      SectionEntry d = DirectoryEntry(f, k);
      if (d.packed == 0 || d.unpacked == 0 || d.unpacked > kSectionLimit) continue;
      uint64_t need = d.unpacked > d.packed ? d.unpacked : d.packed;  // the decoder wants room >= its source
      if (need > kSectionLimit) need = kSectionLimit;
      if (need > decodeNeed) decodeNeed = need;
    }
  }
  auto total = [&](uint32_t offset) { return totals[(offset - kFirstTotal) / 4]; };
  uint64_t names[3] = {total(kS1VirusNames), total(kS2VirusNames), total(kS3VirusNames)};
  uint64_t routineNames = total(kRoutineNameBytes);
  uint64_t perSection = total(kS0RoutineNames) + total(kS2RoutineNames) + total(kS3RoutineNames);
  if (perSection > routineNames) routineNames = perSection;
  uint64_t tables = total(kChecksumBytes) + total(kMultiBytes) + total(kPackerBytes);
  uint64_t virusNames = total(kVirusNameBytes);
  if (names[0] + names[1] + names[2] > virusNames) virusNames = names[0] + names[1] + names[2];
  // Limits: nothing is built past them (the pass still counts as loaded).
  if (tables + virusNames > kTableLimit) return;
  if (total(kCodeBytes) + routineNames > kTableLimit) return;

  Build b;
  memset(&b, 0, sizeof b);
  b.lib = lib;
  b.allocator = LibraryAllocator(lib);
  bool ok = AllocArea(lib->ctx, &lib->checksum, total(kChecksumBytes)) &&
            AllocArea(lib->ctx, &lib->multi, total(kMultiBytes)) &&
            AllocArea(lib->ctx, &lib->packer, total(kPackerBytes));
  for (int k = 0; k < 3 && ok; ++k) ok = AllocArea(lib->ctx, &b.names[k], names[k] + kSlack);
  // Packed names: the texts' own streams, or texts packed anew (at most
  // 9/8 of the text plus 16 bytes per section, one section of each kind per
  // file), for texts as long as their area lets them be.
  for (int k = 0; k < 3 && ok; ++k) {
    uint64_t text = names[k] + kSlack;
    ok = AllocArea(lib->ctx, &b.packed[k], text + text / 8 + 16 * (uint64_t)baseFiles + 16);
  }
  b.routineCapacity = (uint32_t)routineNames + kSlack;
  b.routineText = ok ? (uint8_t*)MemAlloc(lib->ctx, b.routineCapacity) : nullptr;
  b.decodeCapacity = (uint32_t)decodeNeed + kSlack;
  b.decode = b.routineText ? (uint8_t*)MemAlloc(lib->ctx, b.decodeCapacity) : nullptr;
  uint32_t codeSize = (uint32_t)(total(kCodeBytes) + routineNames) + kSlack;
  lib->code = b.decode ? (uint8_t*)VmAlloc(lib->ctx, nullptr, codeSize, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE)
                       : nullptr;
  if (lib->code != nullptr) {
    lib->codeSize = codeSize;
    lib->codeUsed = 0;
    SymbolReset(lib, kFirstLibrarySymbol);
    lib->slotCounter[0] = 0;
    lib->slotCounter[2] = (uint32_t)(total(kS0Objects) > 0xFFFFFFFFu ? 0xFFFFFFFFu : total(kS0Objects));
    uint64_t s3 = total(kS0Objects) + total(kS2Objects);
    lib->slotCounter[3] = (uint32_t)(s3 > 0xFFFFFFFFu ? 0xFFFFFFFFu : s3);
    for (uint32_t i = 0; i < kMaxFiles; ++i) {
      FileBuffer& f = files[i];
      if (f.data == nullptr || Field(f, kKind) != kFileKindBase) continue;
      uint8_t fileKey = (uint8_t)(f.data[kKeyByte1] + f.data[kKeyByte2]);
      for (uint32_t k = 0; k < kSectionCount; ++k) LoadSection(&b, f, fileKey, k);
    }
  }
  for (int k = 0; k < 3; ++k) {
    // The packed lists stay (the library frees them); empty ones go now.
    if (lib->nameRunCount[k] != 0 && b.packed[k].data != nullptr) {
      lib->names[k] = b.packed[k].data;
      lib->namesSize[k] = b.packed[k].used;
    } else {
      MemFree(lib->ctx, b.packed[k].data);
    }
  }
  for (int k = 0; k < 3; ++k) MemFree(lib->ctx, b.names[k].data);
  MemFree(lib->ctx, b.routineText);
  MemFree(lib->ctx, b.decode);
}

int LoadBaseFiles(VirusLibrary* lib, const char* folder, uint32_t libraryMode) {
  FileBuffer files[kMaxFiles];
  memset(files, 0, sizeof files);
  int read = 0;
  int last = -1;
  int result = 1;
  for (uint32_t i = 0; i < kMaxFiles; ++i) {
    if (!Selected(libraryMode, i)) continue;
    if (!ReadLibraryFile(lib, folder, "Base", i, &files[i])) {
      if (i == 0) {
        result = 0;
        break;
      }
      continue;
    }
    ++read;
    last = (int)i;
  }
  if (result && (read == 0 || files[last].size == 0)) result = 0;
  if (result) BuildBaseTables(lib, files);
  for (uint32_t i = 0; i < kMaxFiles; ++i) MemFree(lib->ctx, files[i].data);
  return result;
}
