// What a library routine source includes: the CQEL object, the routine
// answers, the 27 host services of the scanner and the macros that declare
// and define routines and special entries.
//
// A routine source names its routines before including this header:
//
//   #define TW_ROUTINES(R) R(Sality) R(SalityHelper)
//   #include "library/sdk/tarnwell.h"
//
//   TW_CHECK(Sality) { return q->size > 4096 ? TW_PRESENT : TW_UNDECIDED; }
//   TW_REPAIR(Sality) { ...; return TW_REPAIRED; }
//   TW_ENTRY(NextUnit) { ...; return 1; }
//
// Compiled by clang for i686-pc-windows-msvc (see cmake/TarnwellLibrary.cmake);
// `tarnlib build` renames the decorated entry symbols and binds the host
// services and the runtime helpers (library/sdk/helpers) by name key.
#pragma once

#ifndef TARNWELL_LIBRARY_SOURCE
#define TARNWELL_LIBRARY_SOURCE
#endif

// Every routine entry: a public stdcall member of CQEL taking the CQEL object
// once more as its single argument and answering a 32-bit unsigned value.
// Its decorated name is ?<Name>_0@CQEL@@QAGKPAV1@@Z (or _1).
#define TW_DECLARE_ROUTINE(name)                    \
  unsigned long __stdcall name##_0(class CQEL* q);  \
  unsigned long __stdcall name##_1(class CQEL* q);

#ifndef TW_ROUTINES
#define TW_ROUTINES(R)
#endif
#ifndef TW_MEMBERS
#define TW_MEMBERS  // further member declarations a source wants
#endif

// The six special entries (routine slots 4096..4098); tarnlib renames them
// to names whose CRC-32 is the scanner's key for each.
#define TW_SPECIAL_ENTRIES                                \
  unsigned long __stdcall StartHook1(class CQEL* q);      \
  unsigned long __stdcall StopHook1(class CQEL* q);       \
  unsigned long __stdcall StartHook2(class CQEL* q);      \
  unsigned long __stdcall StopHook2(class CQEL* q);       \
  unsigned long __stdcall NextUnit(class CQEL* q);        \
  unsigned long __stdcall GenericRepair(class CQEL* q);

#define TW_CQEL_MEMBERS TW_SPECIAL_ENTRIES TW_ROUTINES(TW_DECLARE_ROUTINE) TW_MEMBERS

#include "scanner/library/cqel.h"

// Definitions: the body sees `this` and `q` (the same object).
#define TW_CHECK(name) unsigned long __stdcall CQEL::name##_0(CQEL* q)
#define TW_REPAIR(name) unsigned long __stdcall CQEL::name##_1(CQEL* q)
#define TW_UNPACK(name) TW_REPAIR(name)
#define TW_ENTRY(special) unsigned long __stdcall CQEL::special(CQEL* q)

// Routine answers.
enum TwAnswer : unsigned long {
  TW_PRESENT = 6,    // check entry: the virus is present
  TW_UNDECIDED = 7,  // check entry: go on with the checks
  TW_REPAIRED = 8,   // repair entry: the file was repaired
  TW_GENERIC = 9,    // repair entry: hand over to GenericRepair
  TW_PACKER = 10,    // packer check entry: a packer is present
  TW_UNPACKED = 12,  // unpack entry: one layer written
};

typedef unsigned int tw_u32;
typedef int tw_i32;
typedef unsigned char tw_u8;
typedef unsigned short tw_u16;
typedef unsigned long long tw_u64;
typedef void* TwHandle;       // a scanner file handle; 0 = none
typedef unsigned int TwHkey;  // a registry key (0x80000002 = HKEY_LOCAL_MACHINE)

// Host services. Each is stdcall, takes the CQEL object first (all but
// TwNop) and removes its arguments. Pointers and sizes are checked by the
// scanner; a bad one answers failure (0, or 0xFFFFFFFF for positions and
// sizes). "Scanned file" is the engine's current file, "layer file" the
// temporary file of an unpacked layer.
extern "C" {
tw_u32 __stdcall TwScanSeek(CQEL* q, tw_u32 position);                     // 0: from the start
tw_u32 __stdcall TwScanRead(CQEL* q, void* buffer, tw_u32 count);          // 1: bytes read
tw_u32 __stdcall TwScanWrite(CQEL* q, const void* buffer, tw_u32 count);   // 2: bytes written
tw_u32 __stdcall TwScanTruncate(CQEL* q, tw_i32 count);                    // 3: move by count, end there
void* __stdcall TwTrackedAlloc(CQEL* q, tw_u32 size);                      // 4: freed after each file
void __stdcall TwTrackedFree(CQEL* q, void* block);                        // 5
void* __stdcall TwMemAlloc(CQEL* q, tw_u32 size);                          // 6: not zeroed
void __stdcall TwMemFree(CQEL* q, void* block);                            // 7
void __stdcall TwNop(void);                                                // 8: takes nothing
void* __stdcall TwMemRealloc(CQEL* q, void* block, tw_u32 size);           // 9
tw_u32 __stdcall TwLayerSeek(CQEL* q, tw_i32 position, tw_u32 origin);     // 10: 0 start, 1 current, 2 end
tw_u32 __stdcall TwLayerRead(CQEL* q, void* buffer, tw_u32 count);         // 11
tw_u32 __stdcall TwCopyLayerOverFile(CQEL* q);                             // 12: 0 success, 1 failure
tw_u32 __stdcall TwFileRead(CQEL* q, TwHandle h, void* buffer, tw_u32 count);  // 13
void __stdcall TwFileClose(CQEL* q, TwHandle h);                           // 14
tw_u32 __stdcall TwFileSize(CQEL* q, TwHandle h);                          // 15
TwHandle __stdcall TwFileOpen(CQEL* q, const char* path, tw_u32 access, tw_u32 disposition);  // 16
tw_u32 __stdcall TwDriveType(CQEL* q, const char* root);                   // 17
tw_u32 __stdcall TwListDrives(CQEL* q, tw_u32 capacity, char* buffer);     // 18
tw_u32 __stdcall TwRequestSweep(CQEL* q, tw_u32 code);                     // 19: code 1 asks for the sweep
tw_u32 __stdcall TwAnsiToWide(CQEL* q, const char* text, tw_u16* buffer, tw_u32 capacityBytes);  // 20
tw_u32 __stdcall TwWideToAnsi(CQEL* q, const tw_u16* text, char* buffer, tw_u32 capacityBytes);  // 21
tw_u32 __stdcall TwRegOpen(CQEL* q, TwHkey key, const char* subkey, TwHkey* out);                // 22
tw_u32 __stdcall TwRegSetValue(CQEL* q, TwHkey key, const char* name, tw_u32 reserved, tw_u32 type,
                               const void* data, tw_u32 size);                                   // 23
tw_u32 __stdcall TwRegClose(CQEL* q, TwHkey key);                                                // 24
tw_u32 __stdcall TwRegDeleteValue(CQEL* q, TwHkey key, const char* name);                        // 25
tw_u32 __stdcall TwRegQueryValue(CQEL* q, TwHkey key, const char* name, tw_u32* reserved, tw_u32* type,
                                 void* data, tw_u32* size);                                      // 26

// Runtime helpers of the section-0 helper object (library/sdk/helpers).
void* memcpy(void* dst, const void* src, unsigned int n);
void* memset(void* dst, int value, unsigned int n);
void* memmove(void* dst, const void* src, unsigned int n);
int memcmp(const void* a, const void* b, unsigned int n);
}

// Access values and dispositions for TwFileOpen.
enum : tw_u32 {
  TW_ACCESS_READ = 0x80000000u,
  TW_ACCESS_WRITE = 0x40000000u,
  TW_OPEN_EXISTING = 3,
};
