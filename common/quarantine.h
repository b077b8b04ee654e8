// Quarantine records: the one writer (the scanner's engine) and the one reader
// (the manager) of the backup store's record files. Freestanding: no C or C++
// runtime, only memcpy/memset/memmove.
//
// Record file (little-endian):
//
//   0    magic BA C0 0D 0A
//   4    text block, 160 bytes (for people; readers ignore it)
//   164  quarantine time: 8 x u16 (year, month, weekday, day, h, m, s, ms)
//   180  N, content length                 184  content offset = 248 + L
//   188  kind = 2                          192  D1 = MD5 of the N content bytes
//   208  D2 = MD5 of the whole record with this field zero
//   224  creation, 232 last access, 240 last write time (i64, 100 ns since 1601)
//   248  origin line "path&virus name\r\n" (L bytes, no NUL)
//   248+L  content, every byte XORed with QuarantineContentKey(N)
//
// Store layout: root\<digit>\<name>, digit = high 4 bits of D2[0], name = the
// 32 lowercase hex digits of D2 followed by ".vir".
#pragma once

#include <stdint.h>

#include "common/keys.h"

const uint32_t kQuarantineMagic = 0x0A0DC0BA;
const uint32_t kQuarantineHeaderSize = 248;
const uint32_t kQuarantineKind = 2;
const uint32_t kQuarantineTextBlockSize = 160;
// Room the writer needs in front of the content it reads into its buffer.
const uint32_t kQuarantineFrontRoom = 1024;
// Listing reads only this many bytes of a record.
const uint32_t kQuarantineListBytes = 1024;
// Readers hold the origin line in 512 bytes and the name in 64 (63 + NUL);
// the writer never produces a record that does not fit.
const uint32_t kQuarantineOriginMax = 512;
const uint32_t kQuarantineNameMax = 63;
// 32 hex digits + ".vir" + NUL.
const uint32_t kQuarantineRecordNameSize = 37;

// Field offsets.
const uint32_t kQrTextBlock = 4;
const uint32_t kQrTime = 164;
const uint32_t kQrSize = 180;
const uint32_t kQrContentOffset = 184;
const uint32_t kQrKind = 188;
const uint32_t kQrD1 = 192;
const uint32_t kQrD2 = 208;
const uint32_t kQrFileTimes = 224;

const char kQuarantineRoot[] = "c:\\tarnwell.bak";
// The maker's web address in the text block's last line.
const char kQuarantineWebsite[] = "http://www.corvane.example/";

// Results of QuarantineCompose / QuarantineParse / QuarantineOpenContent.
enum QuarantineResult {
  kQrOk = 0,
  kQrBadArgument = -1,    // null pointer
  kQrNoRoom = -2,         // contentAt too small for header + origin line
  kQrTooLarge = -3,       // content does not fit the buffer / overflow
  kQrPathTooLong = -4,    // the origin line could not be kept within 512 bytes
  kQrNotRecord = -5,      // neither the magic nor kind 2
  kQrBadOrigin = -6,      // content offset below 248 or origin line over 512
  kQrTruncated = -7,      // the file does not hold content offset + N bytes
  kQrDigestMismatch = -8, // unscrambled content does not hash to D1
};

// K = low byte of N, or kFallbackKeyByte when that byte is 0.
uint8_t QuarantineContentKey(uint32_t n);

// XORs `n` bytes with `key` (scrambling and unscrambling are the same).
void QuarantineScramble(uint8_t* data, uint32_t n, uint8_t key);

// Lays one record out in `buffer`, whose bytes [contentAt, contentAt + n) hold
// the source file's content (read there by the caller, leaving room in front;
// kQuarantineFrontRoom always suffices). On success the record occupies
// [0, *recordLength) of the buffer and `d2` receives its digest.
//
// The origin line is "path&name\r\n", kept within kQuarantineOriginMax bytes
// so that every record the scanner writes can be listed and restored: the
// virus name is cut to 63 characters and further if the line would not fit;
// a path too long to fit with an empty name is refused (kQrPathTooLong).
// '&', CR and LF in the virus name become '_' so that the path is always
// everything before the line's last '&'.
// sessionDate: "YYYY-MM-DD" (10 characters used). quarantineTime: the 8 fields.
// fileTimes: creation, last access, last write.
int QuarantineCompose(uint8_t* buffer, uint32_t capacity, uint32_t contentAt,
                      uint32_t n, const char* path, const char* virusName,
                      const char* sessionDate, const uint16_t quarantineTime[8],
                      const int64_t fileTimes[3], uint32_t* recordLength,
                      uint8_t d2[16]);

// Record file name of a digest: 32 lowercase hex digits + ".vir", NUL-terminated.
void QuarantineRecordName(const uint8_t d2[16], char name[kQuarantineRecordNameSize]);

// Store subdirectory digit of a digest (0..15).
uint32_t QuarantineRecordDigit(const uint8_t d2[16]);

// Writes "c:\tarnwell.bak\<digit>\<name>" into `out` (capacity in bytes,
// NUL included). Returns the length, or 0 when it does not fit.
uint32_t QuarantineRecordPath(const uint8_t d2[16], char* out, uint32_t capacity);

// Writes "c:\tarnwell.bak\<digit>" for digit 0..15. Returns the length or 0.
uint32_t QuarantineSubdirPath(uint32_t digit, char* out, uint32_t capacity);

// Parses a record file name (32 hex digits, either case, then ".vir", any
// case) into its digest. False for anything else.
bool QuarantineParseRecordName(const char* name, uint8_t d2[16]);

// What a reader learns from the first bytes of a record.
struct QuarantineInfo {
  uint16_t quarantineTime[8];
  uint32_t size;           // N
  uint32_t contentOffset;  // 248 + L
  uint32_t kind;
  uint8_t d1[16];
  uint8_t d2[16];
  int64_t fileTimes[3];    // creation, last access, last write
  char path[kQuarantineOriginMax + 1];       // source path, NUL-terminated
  char virusName[kQuarantineNameMax + 1];    // NUL-terminated, may be empty
};

// True when the bytes hold the magic or kind 2 (either suffices).
bool QuarantineIsRecord(const uint8_t* data, uint32_t length);

// Fills `info` from the first `length` bytes of a record file (bytes past
// `length` count as zero; kQuarantineListBytes are enough). The origin line
// is split at its last '&': before it the path, after it the virus name
// without a final CR LF (only if present), cut to 63 characters. A line
// without '&' is all path (less a final CR LF) with an empty name.
int QuarantineParse(const uint8_t* data, uint32_t length, QuarantineInfo* info);

// For a whole record file already parsed into `info`: checks that it holds
// content offset + N bytes, unscrambles the content in place, checks its MD5
// against D1 and points *content at it (N bytes).
int QuarantineOpenContent(uint8_t* data, uint32_t length, const QuarantineInfo* info,
                          uint8_t** content);
