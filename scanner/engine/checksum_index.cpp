// Indexes over the signature tables (see checksum_index.h).
#include "scanner/engine/checksum_index.h"

#include <string.h>


namespace {

void SiftDown(uint32_t* a, uint32_t start, uint32_t end) {
  uint32_t root = start;
  for (;;) {
    uint32_t child = 2 * root + 1;
    if (child >= end) return;
    if (child + 1 < end && a[child + 1] > a[child]) child++;
    if (a[root] >= a[child]) return;
    uint32_t t = a[root];
    a[root] = a[child];
    a[child] = t;
    root = child;
  }
}

// Heapsort: no recursion, no extra memory.
void SortKeys(uint32_t* a, uint32_t n) {
  if (n < 2) return;
  for (uint32_t i = n / 2; i-- > 0;) SiftDown(a, i, n);
  for (uint32_t end = n - 1; end > 0; end--) {
    uint32_t t = a[0];
    a[0] = a[end];
    a[end] = t;
    SiftDown(a, 0, end);
  }
}

uint32_t RecordKey(const uint8_t* r) {
  return (uint32_t)r[0] << 24 | (uint32_t)(r[1] | r[2] << 8) << 8 | r[3];
}

uint32_t FindGroup(const ChecksumIndex* index, uint32_t key) {
  uint32_t lo = 0, hi = index->groupCount;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    if (index->groupKeys[mid] < key)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

// Byte-wise CRC-32 table for the short steps of MatchChecksumIndex, where a
// call per group into the block CRC costs more than the bytes themselves.
struct ByteTable {
  uint32_t v[256];
};

constexpr ByteTable MakeByteTable() {
  ByteTable t{};
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t c = i;
    for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t.v[i] = c;
  }
  return t;
}

constexpr ByteTable kByteTable = MakeByteTable();
static_assert(kByteTable.v[1] == 0x77073096u, "CRC-32 table");

// One byte of the running CRC (state before the final inversion). The match
// and the zero answers worked out when the index is built both step through
// here, so they cannot come to differ.
__attribute__((always_inline)) inline uint32_t CrcStep(uint32_t state, uint8_t byte) {
  return kByteTable.v[(state ^ byte) & 0xFF] ^ (state >> 8);
}

bool EntryLess(const ChecksumEntry& a, const ChecksumEntry& b) {
  if (a.group != b.group) return a.group < b.group;
  if (a.crc != b.crc) return a.crc < b.crc;
  return a.index < b.index;
}

void SiftDownEntries(ChecksumEntry* a, uint32_t start, uint32_t end) {
  uint32_t root = start;
  for (;;) {
    uint32_t child = 2 * root + 1;
    if (child >= end) return;
    if (child + 1 < end && EntryLess(a[child], a[child + 1])) child++;
    if (!EntryLess(a[root], a[child])) return;
    ChecksumEntry t = a[root];
    a[root] = a[child];
    a[child] = t;
    root = child;
  }
}

// Heapsort: no recursion, no extra memory, n log n whatever the input.
void SortEntries(ChecksumEntry* a, uint32_t n) {
  if (n < 2) return;
  for (uint32_t i = n / 2; i-- > 0;) SiftDownEntries(a, i, n);
  for (uint32_t end = n - 1; end > 0; end--) {
    ChecksumEntry t = a[0];
    a[0] = a[end];
    a[end] = t;
    SiftDownEntries(a, 0, end);
  }
}

// The filter's bit for (group, crc): a CRC is already well mixed, so one
// multiply spreads it; this runs for every group of every unit, the full
// search of the entries only for the few that pass the filter.
uint32_t FilterBit(uint32_t group, uint32_t crc, uint32_t mask) {
  return ((crc ^ (group * 0x9E3779B9u)) * 0x85EBCA6Bu >> 8) & mask;
}


// The lowest record index of (group, crc), or 0xFFFFFFFF. Only reached for
// the few pairs that pass the filter, so it stays out of the hot loop.
__attribute__((noinline)) uint32_t FindEntry(const ChecksumIndex* index, uint32_t group, uint32_t crc) {
  uint32_t lo = index->entryStart[group], hi = index->entryStart[group + 1];
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    if (index->entries[mid].crc < crc)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo < index->entryStart[group + 1] && index->entries[lo].crc == crc ? index->entries[lo].index : 0xFFFFFFFFu;
}


// Splits the groups into runs and works out each run's answer for zeros,
// with the same running CRC the match uses.
void BuildRuns(ChecksumIndex* index, uint32_t runs) {
  const uint32_t* keys = index->groupKeys;
  uint32_t r = 0;
  for (uint32_t g = 0; g < index->groupCount; r++) {
    ChecksumRun* run = &index->runs[r];
    const uint32_t head = keys[g] >> 8;
    run->firstGroup = g;
    run->offset = (uint16_t)(head & 0xFFFF);
    run->unused = 0;
    uint32_t best = 0xFFFFFFFFu, state = 0xFFFFFFFFu, done = 0;
    for (; g < index->groupCount && keys[g] >> 8 == head; g++) {
      for (uint32_t length = keys[g] & 0xFF; done < length; done++) state = CrcStep(state, 0);
      uint32_t found = FindEntry(index, g, ~state);
      if (found < best) best = found;
    }
    run->maxLength = (uint8_t)done;
    run->zeroBest = best;
  }
  index->runs[runs].firstGroup = index->groupCount;
  index->runCount = runs;
  // Unit type t owns the runs whose key's top byte is t.
  uint32_t k = 0;
  for (uint32_t t = 0; t <= 256; t++) {
    while (k < runs && (keys[index->runs[k].firstGroup] >> 24) < t) k++;
    index->typeStart[t] = t == 256 ? runs : k;
  }
}

// Whether the n bytes at p are all zero, a word at a time.
bool AllZero(const uint8_t* p, uint32_t n) {
  uint32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    uint32_t w;
    __builtin_memcpy(&w, p + i, 4);  // inlined even where memcpy is a call
    if (w) return false;
  }
  for (; i < n; i++)
    if (p[i]) return false;
  return true;
}
}  // namespace

int BuildChecksumIndex(ChecksumIndex* index, const IndexAllocator* a, const uint8_t* records, uint32_t count) {
  memset(index, 0, sizeof(*index));
  if (count == 0 || !records) return 1;
  if (count > 0x1000000) return 0;  // 16 M records: beyond any table the loader builds
  uint32_t* keys = (uint32_t*)a->alloc(a->opaque, count * 4);
  if (!keys) return 0;
  for (uint32_t i = 0; i < count; i++) keys[i] = RecordKey(records + 8 * i);
  SortKeys(keys, count);
  uint32_t groups = 0;
  for (uint32_t i = 0; i < count; i++)
    if (groups == 0 || keys[groups - 1] != keys[i]) keys[groups++] = keys[i];
  index->groupKeys = keys;
  index->groupCount = groups;

  // A run starts wherever the key without its length changes.
  uint32_t runs = 0;
  for (uint32_t i = 0; i < groups; i++)
    if (i == 0 || keys[i] >> 8 != keys[i - 1] >> 8) runs++;

  // About 64 bits per record: most units match nothing, and each filter
  // pass that is false costs a search of the group's entries.
  uint32_t bits = 1u << 16;
  while (bits < count * 64 && bits < (1u << 24)) bits <<= 1;
  index->entries = (ChecksumEntry*)a->alloc(a->opaque, count * (uint32_t)sizeof(ChecksumEntry));
  index->entryStart = (uint32_t*)a->alloc(a->opaque, (groups + 1) * 4);
  index->filter = (uint32_t*)a->alloc(a->opaque, bits / 8);
  index->runs = (ChecksumRun*)a->alloc(a->opaque, (runs + 1) * (uint32_t)sizeof(ChecksumRun));
  if (!index->entries || !index->entryStart || !index->filter || !index->runs) {
    ReleaseChecksumIndex(index, a);
    return 0;
  }
  memset(index->filter, 0, bits / 8);
  index->filterMask = bits - 1;
  for (uint32_t i = 0; i < count; i++) {
    const uint8_t* r = records + 8 * i;
    ChecksumEntry* entry = &index->entries[i];
    entry->group = FindGroup(index, RecordKey(r));
    entry->crc = (uint32_t)r[4] | (uint32_t)r[5] << 8 | (uint32_t)r[6] << 16 | (uint32_t)r[7] << 24;
    entry->index = i;
    uint32_t bit = FilterBit(entry->group + 1, entry->crc, index->filterMask);
    index->filter[bit >> 5] |= 1u << (bit & 31);
  }
  // The first record of a (group, crc) pair in stored order is the one kept.
  SortEntries(index->entries, count);
  uint32_t kept = 0;
  for (uint32_t i = 0; i < count; i++) {
    const ChecksumEntry& e = index->entries[i];
    if (kept != 0 && index->entries[kept - 1].group == e.group && index->entries[kept - 1].crc == e.crc) continue;
    index->entries[kept++] = e;
  }
  uint32_t at = 0;
  for (uint32_t group = 0; group <= groups; group++) {
    while (at < kept && index->entries[at].group < group) at++;
    index->entryStart[group] = at;
  }
  BuildRuns(index, runs);
  return 1;
}

void ReleaseChecksumIndex(ChecksumIndex* index, const IndexAllocator* a) {
  if (index->groupKeys) a->free(a->opaque, index->groupKeys);
  if (index->entries) a->free(a->opaque, index->entries);
  if (index->entryStart) a->free(a->opaque, index->entryStart);
  if (index->filter) a->free(a->opaque, index->filter);
  if (index->runs) a->free(a->opaque, index->runs);
  memset(index, 0, sizeof(*index));
}


uint32_t MatchChecksumIndex(const ChecksumIndex* index, uint8_t unitType, const uint8_t* window) {
  uint32_t best = 0xFFFFFFFFu;
  if (!index->entries) return best;
  const uint32_t* keys = index->groupKeys;
  const uint32_t* filter = index->filter;
  const uint32_t filterMask = index->filterMask;
  const ChecksumRun* run = index->runs + index->typeStart[unitType];
  const ChecksumRun* const end = index->runs + index->typeStart[unitType + 1];
  for (; run < end; run++) {
    const uint8_t* p = window + run->offset;
    if (AllZero(p, run->maxLength)) {
      if (run->zeroBest < best) best = run->zeroBest;
      continue;
    }
    // Groups are sorted by length: each extends the run's CRC to its own.
    uint32_t state = 0xFFFFFFFFu, done = 0;
    for (uint32_t g = run->firstGroup; g < run[1].firstGroup; g++) {
      for (uint32_t length = keys[g] & 0xFF; done < length; done++) state = CrcStep(state, p[done]);
      uint32_t bit = FilterBit(g + 1, ~state, filterMask);
      if (filter[bit >> 5] & (1u << (bit & 31))) {
        uint32_t found = FindEntry(index, g, ~state);
        if (found < best) best = found;
      }
    }
  }
  return best;
}

int BuildRecordList(RecordList* list, const IndexAllocator* a, const uint8_t* table, uint32_t bytes, uint32_t count) {
  memset(list, 0, sizeof(*list));
  if (!table || count == 0) return 1;
  // Walk once to count records that fit, per type.
  uint32_t perType[256];
  memset(perType, 0, sizeof(perType));
  uint32_t n = 0, at = 0;
  while (n < count && bytes - at >= 17) {
    uint32_t length = 17 + 7 * (uint32_t)table[at + 1];
    if (length > bytes - at) break;
    perType[table[at]]++;
    at += length;
    n++;
  }
  if (n == 0) return 1;
  list->offsets = (uint32_t*)a->alloc(a->opaque, n * 4);
  list->indexes = (uint32_t*)a->alloc(a->opaque, n * 4);
  if (!list->offsets || !list->indexes) {
    ReleaseRecordList(list, a);
    return 0;
  }
  uint32_t fill[256];
  uint32_t sum = 0;
  for (uint32_t t = 0; t < 256; t++) {
    list->typeStart[t] = sum;
    fill[t] = sum;
    sum += perType[t];
  }
  list->typeStart[256] = sum;
  at = 0;
  for (uint32_t i = 0; i < n; i++) {
    uint32_t t = table[at];
    list->offsets[fill[t]] = at;
    list->indexes[fill[t]] = i;
    fill[t]++;
    at += 17 + 7 * (uint32_t)table[at + 1];
  }
  list->count = n;
  return 1;
}

void ReleaseRecordList(RecordList* list, const IndexAllocator* a) {
  if (list->offsets) a->free(a->opaque, list->offsets);
  if (list->indexes) a->free(a->opaque, list->indexes);
  memset(list, 0, sizeof(*list));
}
