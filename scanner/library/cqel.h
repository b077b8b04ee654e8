// The CQEL object: the fixed-layout object every library routine receives.
// Library code is compiled against this layout (by clang for
// i686-pc-windows-msvc) and so is the scanner (by gcc -m32); both include
// this header, and the offsets below are checked at compile time.
#pragma once

#if defined(_MSC_VER) || defined(__clang__) && defined(_WIN32)
typedef unsigned int cqel_u32;
typedef unsigned char cqel_u8;
#else
#include <stdint.h>
typedef uint32_t cqel_u32;
typedef uint8_t cqel_u8;
#endif

#pragma pack(push, 1)
struct CqelDigestEntry {
  cqel_u32 size;
  cqel_u8 md5[16];
};

// Routines reach the engine's per-file members-unzipped count through the
// engine reference: it is the first 32-bit field of the engine.
struct CqelEngineHead {
  cqel_u32 membersUnzipped;
};

#ifdef TARNWELL_LIBRARY_SOURCE
#define CQEL_CLASS class CQEL
#else
#define CQEL_CLASS struct CQEL
#endif

CQEL_CLASS {
#ifdef TARNWELL_LIBRARY_SOURCE
 public:
#endif
  cqel_u32 size;              // 0: size of the file or layer being scanned
  cqel_u8 unitType;           // 4: set by NextUnit
  cqel_u8 passFlag5;          // 5: cleared at the start of every pass
  cqel_u8 fileFlag6;          // 6: cleared before every pass of ScanFile
  cqel_u8 reserved7;          // 7
  cqel_u8 passFlag8;          // 8: cleared at the start of every pass
  cqel_u8 routineFlag;        // 9: 1 when the RoutineFlag option is set
  cqel_u8 reserved10[6];      // 10
  CqelEngineHead* engine;     // 16: the engine (4 bytes on the 32-bit target)
  cqel_u8 reserved20[4112];   // 20: free for library use
  cqel_u8 unitWindow[45055];  // 4132: the current unit's bytes
  cqel_u8 unitTypeCopy;       // 49187: written by the engine before matching
  cqel_u8 reserved49188[32768];
  char path[1024];            // 81956: path of the file being scanned
  cqel_u8 reserved82980[1024];
  cqel_u32 matchedTail;       // 84004: address of the 15-byte tail of the matched record
  cqel_u8 reserved84008[12];
  CqelDigestEntry heuristic[128];  // 84020: HeuristicDigestList
  cqel_u32 heuristicCount;         // 86580
  cqel_u8 reserved86584[4096];
#ifdef TARNWELL_LIBRARY_SOURCE
  // Routine entries are declared by the library sources as members: the
  // library SDK (library/sdk/tarnwell.h) defines TW_CQEL_MEMBERS.
#ifdef TW_CQEL_MEMBERS
 public:
  TW_CQEL_MEMBERS
#endif
#endif
};
#pragma pack(pop)

#define CQEL_CHECK(field, off) static_assert(__builtin_offsetof(CQEL, field) == off, "CQEL layout: " #field)
#if !defined(__x86_64__) || defined(TARNWELL_CQEL_64_OK)
CQEL_CHECK(size, 0);
CQEL_CHECK(unitType, 4);
CQEL_CHECK(passFlag5, 5);
CQEL_CHECK(fileFlag6, 6);
CQEL_CHECK(passFlag8, 8);
CQEL_CHECK(routineFlag, 9);
CQEL_CHECK(engine, 16);
CQEL_CHECK(unitWindow, 4132);
CQEL_CHECK(unitTypeCopy, 49187);
CQEL_CHECK(path, 81956);
CQEL_CHECK(matchedTail, 84004);
CQEL_CHECK(heuristic, 84020);
CQEL_CHECK(heuristicCount, 86580);
static_assert(sizeof(CQEL) == 90680, "CQEL is 90680 bytes");
#endif
#undef CQEL_CHECK
