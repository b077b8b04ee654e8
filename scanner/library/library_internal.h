// The loaded library's state and the loader's internal steps (shared by the
// files of scanner/library and by its tests).
#pragma once

#include "scanner/codec/codec.h"
#include "scanner/library/format.h"
#include "scanner/library/library.h"
#include "scanner/library/routine_heap.h"
#include "scanner/library/view.h"

struct RoutineSlot {
  uint32_t check;   // _0 entry address, 0 = missing
  uint32_t repair;  // _1 entry address, 0 = missing
};

// The names of records [firstRecord, firstRecord + records) of one kind:
// one LF-ended line per record in the packed stream at `offset`.
struct NameRun {
  uint32_t firstRecord;
  uint32_t records;
  uint32_t offset;
  uint32_t length;
};

struct SymbolPlace {
  uint32_t key;      // CRC-32 of the name
  uint32_t address;
};

// A record list that grows into a buffer sized once from the header totals.
struct Area {
  uint8_t* data;
  uint32_t used;
  uint32_t capacity;
};

// Places of the symbol table in runs sorted by key, searched by halves: keys
// are CRC-32 values of names that library files choose freely, so no hash of
// them can be kept from putting every name in one probe chain.
const uint32_t kSymbolIndexSize = libfmt::kSymbolPlaces;
// Routine number of a record whose routine is not in its file's section.
const uint32_t kMissingRoutine = 0xFFFFFFFEu;

struct VirusLibrary {
  RuntimeContext* ctx;
  ScanEngine* engine;
  int loaded;

  Area checksum, multi, packer;  // record tables
  uint32_t checksumCount, multiCount, packerCount;
  // Virus names of kinds 1, 2, 3: per kind the LZSS-packed names of each
  // loaded section, one run per section, in record order.
  uint8_t* names[3];
  uint32_t namesSize[3];
  NameRun nameRuns[3][libfmt::kMaxFiles];
  uint32_t nameRunCount[3];
  Area userRecords, userPaths;
  uint32_t userCount;

  uint8_t* code;  // readable, writable, executable
  uint32_t codeSize;
  uint32_t codeUsed;

  RoutineSlot routines[libfmt::kRoutineSlots];
  uint32_t slotCounter[4];  // next slot of sections 0, (1), 2, 3
  SymbolPlace symbols[libfmt::kSymbolPlaces];
  uint32_t symbolCount;
  uint16_t symbolIndex[kSymbolIndexSize];  // places, in runs sorted by key (object_loader.cpp)
  uint32_t symbolIndexCount;
  uint16_t symbolMerge[kSymbolIndexSize / 2];  // the older run while two merge

  RoutineHeap heap;
};

// What LoadObject needs to name the entries of one object.
struct ObjectContext {
  uint32_t section;  // 0, 2 or 3
  uint32_t slot;     // routine slot (0 for section 0)
  const char* prefix;
  uint32_t prefixLength;  // at most 63
};

// Base and user passes (1 on success).
int LoadBaseFiles(VirusLibrary* lib, const char* folder, uint32_t libraryMode);
int LoadUserFiles(VirusLibrary* lib, const char* folder);
void RegisterHostServices(VirusLibrary* lib);
// Loads the objects of one object part (plain bytes); answers how many were
// handed to LoadObject. routineNames: the section's routine-name text of this
// file (object j takes line j as its prefix).
uint32_t LoadObjects(VirusLibrary* lib, ByteView part, uint32_t count, uint32_t section, ByteView routineNames);
// Loads one image; 1 when it was linked in, 0 when rejected.
int LoadObject(VirusLibrary* lib, ByteView image, const ObjectContext* oc);

// Symbol table.
int SymbolFind(const VirusLibrary* lib, uint32_t key, uint32_t* address);
int SymbolAdd(VirusLibrary* lib, uint32_t key, uint32_t address);
void SymbolReset(VirusLibrary* lib, uint32_t count);

// Reads "<folder><prefix>NNN.dat" whole into a buffer of its size + 4096
// zero bytes. 0 when it cannot be opened or read into memory.
struct FileBuffer {
  uint8_t* data;
  uint32_t size;
};
int ReadLibraryFile(VirusLibrary* lib, const char* folder, const char* prefix, uint32_t index, FileBuffer* out);

// The passes after reading: build the base tables or the user list from the
// buffers of `files` (kMaxFiles places, null where no file was read; each
// buffer holds its size plus 4096 zero bytes and is scrambled in place).
// The library must be reset with its host services registered. Used by the
// passes and by the fuzz targets, which feed files from memory.
void BuildBaseTables(VirusLibrary* lib, FileBuffer* files);
void BuildUserList(VirusLibrary* lib, FileBuffer* files);

// The codecs' allocator over the runtime heap.
CodecAllocator LibraryAllocator(VirusLibrary* lib);

// The library the host services serve (the one most recently loaded).
VirusLibrary* HostLibrary();
void SetHostLibrary(VirusLibrary* lib);

// Frees everything a load built and empties the tables (the library stays
// usable for another load).
void ResetLibrary(VirusLibrary* lib);
