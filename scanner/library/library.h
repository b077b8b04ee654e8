// The loaded virus library: signature tables, virus-name lists, user digest
// list, and the routine table of the linked library code.
#pragma once

#include "scanner/runtime/runtime.h"

struct VirusLibrary;
struct ScanEngine;

// Read access for the scan engine. Tables are concatenated records:
//   checksum: 8 bytes each {unitType u8, offset u16, length u8, crc u32}
//   multi / packer: 17 + 7n bytes each {unitType u8, n u8, n x {offset u16,
//     length u8, crc u32}, 11 parameter bytes, routine slot u32}; routine
//     numbers are already turned into routine-table slots
//   user digests: 30 bytes each {date[10], size u32, md5[16]}
struct LibraryTables {
  const uint8_t* checksum;
  uint32_t checksumCount;
  const uint8_t* multi;
  uint32_t multiCount;
  uint32_t multiBytes;
  const uint8_t* packer;
  uint32_t packerCount;
  uint32_t packerBytes;
  const uint8_t* userDigests;
  uint32_t userCount;
};

enum SpecialEntry {
  kStartHook1 = 0,
  kStopHook1 = 1,
  kStartHook2 = 2,
  kStopHook2 = 3,
  kNextUnit = 4,
  kGenericRepair = 5,
};

// Detection kinds used for name lookups.
enum : uint32_t { kKindChecksum = 1, kKindMulti = 2, kKindPacker = 3, kKindUser = 20, kKindHeuristic = 21 };

VirusLibrary* CreateLibrary(RuntimeContext* ctx);
// Attaches the engine that host services reach (null detaches).
void AttachEngine(VirusLibrary* lib, ScanEngine* engine);
// folder: ANSI text ending with a backslash. Non-zero when the library loaded.
int LoadLibraryFiles(VirusLibrary* lib, const char* folder, uint32_t libraryMode);
void GetLibraryTables(const VirusLibrary* lib, LibraryTables* out);
// Entry address of routine slot's check (which = 0) or repair/unpack entry
// (which = 1); 0 when missing or slot >= 4096 or slot == 0xFFFFFFFF.
uint32_t RoutineEntry(const VirusLibrary* lib, uint32_t slot, int which);
uint32_t SpecialEntryAddress(const VirusLibrary* lib, SpecialEntry entry);
// out holds at least 256 bytes.
void LookupVirusName(const VirusLibrary* lib, uint32_t kind, uint32_t index, char* out);
// Frees everything the library holds, the object included.
void ReleaseLibrary(VirusLibrary* lib);

// Memory that routines get from the host services (tracked or not) comes
// from a heap of the library's own, not from the runtime heap: the engine
// releases the tracked blocks it holds after each file with this call (not
// MemFree). Blocks that are not live routine blocks are ignored.
void FreeRoutineBlock(VirusLibrary* lib, void* block);
