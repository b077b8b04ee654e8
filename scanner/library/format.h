// Byte layout of base library files, the COFF fields the object loader reads,
// and the name keys of the host services and special entries. Shared by the
// scanner's loader and the library tool (tarnlib), so both agree byte for
// byte.
//
// Base file:
//   0    producer's area (176)     176 key byte 1   178 key byte 2
//   188  kind (0)                  192..248 totals (u32 each, see below)
//   252  section directory: 4 x {offset, unpacked size, packed size}
//   ...  packed sections: containers XORed with the file key
// Decoded section k:
//   0    part directory: 4 records of 53 bytes, record k describes the parts
//   ...  table part, object part ({u32 size, image}...), routine-name text
//        (LZSS), virus-name text (LZSS) at the offsets record k gives
#pragma once

#include <stdint.h>

namespace libfmt {

const uint32_t kBaseHeaderSize = 300;
const uint32_t kKeyByte1 = 176;
const uint32_t kKeyByte2 = 178;
const uint32_t kKind = 188;
const uint32_t kFileKindBase = 0;
const uint32_t kFileKindUser = 1;

// Totals (u32), added over every loaded base file of kind 0.
const uint32_t kCodeBytes = 192;
const uint32_t kRoutineNameBytes = 196;
const uint32_t kVirusNameBytes = 200;
const uint32_t kChecksumBytes = 204;
const uint32_t kMultiBytes = 208;
const uint32_t kPackerBytes = 212;
const uint32_t kS0RoutineNames = 216;
const uint32_t kS0Objects = 220;
const uint32_t kS1VirusNames = 224;
const uint32_t kS2RoutineNames = 228;
const uint32_t kS2Objects = 232;
const uint32_t kS2VirusNames = 236;
const uint32_t kS3RoutineNames = 240;
const uint32_t kS3Objects = 244;
const uint32_t kS3VirusNames = 248;
const uint32_t kFirstTotal = 192;
const uint32_t kTotalCount = 15;  // fields 192 .. 248

const uint32_t kSectionDir = 252;
const uint32_t kSectionDirEntry = 12;  // offset, unpacked size, packed size
const uint32_t kSectionCount = 4;

// Part directory record (53 bytes at 53 * k in decoded section k).
const uint32_t kPartRecord = 53;
const uint32_t kPartDirectorySize = 4 * kPartRecord;
const uint32_t kPartTableOffset = 5;
const uint32_t kPartTableCount = 9;
const uint32_t kPartTableSize = 13;
const uint32_t kPartObjectOffset = 17;
const uint32_t kPartObjectCount = 21;
const uint32_t kPartObjectSize = 25;
const uint32_t kPartRoutineOffset = 29;
const uint32_t kPartRoutineSize = 33;
const uint32_t kPartRoutinePacked = 37;
const uint32_t kPartVirusOffset = 41;
const uint32_t kPartVirusSize = 45;
const uint32_t kPartVirusPacked = 49;

// Records.
const uint32_t kChecksumRecord = 8;  // unit u8, offset u16, length u8, crc u32
const uint32_t kCheckSize = 7;       // offset u16, length u8, crc u32
const uint32_t kParamBytes = 11;
const uint32_t kRoutineTail = 15;  // params + routine number
const uint32_t kNoRoutine = 0xFFFFFFFFu;
inline uint32_t MultiRecordSize(uint32_t checks) { return 2 + kCheckSize * checks + kRoutineTail; }

// Loading limits.
const uint32_t kMaxFiles = 150;
const uint32_t kTableLimit = 0x4000000;    // tables + virus names, all files
const uint32_t kSectionLimit = 0x2000000;  // one decoded section
const uint32_t kSlack = 4096;
const uint32_t kMaxPrefix = 63;

// Routine table and symbol table.
const uint32_t kRoutineSlots = 4099;
const uint32_t kNumberedSlots = 4096;
const uint32_t kSymbolPlaces = 10002;
const uint32_t kFirstLibrarySymbol = 128;
const uint32_t kHostServiceCount = 27;

const char kCheckSuffix[] = "_0@CQEL@@QAGKPAV1@@Z";
const char kRepairSuffix[] = "_1@CQEL@@QAGKPAV1@@Z";
const char kClassMarker[] = "@CQEL";

// Name keys (CRC-32 of the name) of the host services, by place.
const uint32_t kHostServiceKeys[kHostServiceCount] = {
    0x39F288C9, 0x7DDEC0E8, 0xC497ECBF, 0x9D07484E, 0xDD78918D, 0x20D29AE5, 0xF1891CCA,
    0x9DD10942, 0xEC88A7C6, 0x8F2CB16B, 0x7DDD5CA6, 0x74D99343, 0xF3F07172, 0x26FDFC75,
    0x4E4D90A7, 0x223FCBEB, 0x016BE605, 0x524EB2AC, 0x286AE046, 0xAD806C71, 0x243708D9,
    0x63B415A6, 0xA983EC60, 0xDB8B1111, 0x35E382F3, 0xA95E0E30, 0x9E738D1A,
};

// Special entries in SpecialEntry order (library.h): slot 4096 _0/_1,
// 4097 _0/_1, 4098 _0/_1.
const uint32_t kSpecialCount = 6;
const uint32_t kSpecialKeys[kSpecialCount] = {
    0x3D3C2997,  // StartHook1
    0x4DA3E55A,  // StopHook1
    0x35E948F4,  // StartHook2
    0xB4CF519B,  // StopHook2
    0x2721D0A6,  // NextUnit
    0x53F590A8,  // GenericRepair
};

// COFF (the fields the loader reads).
const uint32_t kCoffHeader = 20;
const uint32_t kCoffSectionHeader = 40;
const uint32_t kCoffRelocation = 10;
const uint32_t kCoffSymbol = 18;
const uint16_t kMachineI386 = 0x014C;
const uint16_t kMachineAmd64 = 0x8664;
const uint16_t kMachineArm = 0x01C0;
const uint32_t kScnUninitialized = 0x00000080;
const uint32_t kScnLinkInfo = 0x00000200;
const uint32_t kScnDiscardable = 0x02000000;
const uint16_t kSymTypeFunction = 0x20;
const uint8_t kClassExternal = 2;
const uint8_t kClassStatic = 3;
const uint32_t kMaxSymbolName = 259;


}  // namespace libfmt
