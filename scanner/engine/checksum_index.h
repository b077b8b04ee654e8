// Indexes over the signature tables, built once when the engine is created.
//
// ChecksumIndex: the ChecksumTable's records grouped by (unit type, offset,
// length); per group its distinct CRC-32 values, sorted, each with the lowest
// record index that has it. A unit costs one CRC per distinct group of its
// unit type (groups of the same offset, a run, extend one running CRC),
// however many records share a group, and the first matching record in
// stored order still wins. A run whose bytes are all zero (a unit window past
// the end of a small file) takes the answer worked out for zeros when the
// index was built. The CRCs come from library files, which can choose them freely: a
// sorted list costs the same for any choice, where a hash table with a fixed
// mixing function can be made to put every record in one probe chain.
//
// RecordList: the MultiCheckTable or PackerTable records, in stored order,
// split by unit type, each checked for its length against the table.
#pragma once

#include <stdint.h>

struct IndexAllocator {
  void* (*alloc)(void* opaque, uint32_t size);
  void (*free)(void* opaque, void* p);
  void* opaque;
};

struct ChecksumEntry {
  uint32_t group;  // group number
  uint32_t crc;
  uint32_t index;  // lowest record index of (group, crc)
};

// The groups of one (unit type, offset), in length order.
struct ChecksumRun {
  uint32_t firstGroup;  // its groups: [firstGroup, next run's firstGroup)
  uint32_t zeroBest;    // lowest record index matching when its bytes are zeros
  uint16_t offset;
  uint8_t maxLength;
  uint8_t unused;
};

struct ChecksumIndex {
  uint32_t groupCount;
  uint32_t* groupKeys;         // sorted: type << 24 | offset << 8 | length
  uint32_t runCount;
  ChecksumRun* runs;           // runCount + 1: the last only ends the groups
  uint32_t typeStart[257];     // runs of unit type t: [typeStart[t], typeStart[t + 1])
  // Sorted by group, then CRC; one entry per (group, crc). The entries of
  // group g are [entryStart[g], entryStart[g + 1]).
  ChecksumEntry* entries;
  uint32_t* entryStart;
  // One bit per (group, crc) hash: most units match nothing, and a bit
  // lookup in a cache-sized map is cheaper than a search of the entries.
  uint32_t* filter;
  uint32_t filterMask;  // in bits
};

// records: count x 8 bytes {type u8, offset u16, length u8, crc u32}.
// Answers 1, or 0 when memory ran out (the index is then empty).
int BuildChecksumIndex(ChecksumIndex* index, const IndexAllocator* a, const uint8_t* records, uint32_t count);
void ReleaseChecksumIndex(ChecksumIndex* index, const IndexAllocator* a);
// The lowest index of a record of unitType whose CRC over the window matches,
// or 0xFFFFFFFF. The window must be readable for 65535 + 255 bytes.
uint32_t MatchChecksumIndex(const ChecksumIndex* index, uint8_t unitType, const uint8_t* window);

struct RecordList {
  uint32_t count;
  uint32_t* offsets;       // byte offset of each record in the table, by type then stored order
  uint32_t* indexes;       // its record index
  uint32_t typeStart[257];
};

// table: `bytes` bytes of records {type, n, n x 7, 15-byte tail}; at most
// `count` records are taken; a record running past the end ends the list.
int BuildRecordList(RecordList* list, const IndexAllocator* a, const uint8_t* table, uint32_t bytes, uint32_t count);
void ReleaseRecordList(RecordList* list, const IndexAllocator* a);
