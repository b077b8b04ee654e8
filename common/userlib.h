// User library files ("User%03d.dat"): the one reader and the one writer,
// shared by the scanner (reads) and the manager (reads and writes).
// Freestanding: callers supply every buffer.
//
// File (little-endian):
//
//   0    1D EA 0D 0A
//   4    text block, 176 bytes, NUL-terminated, rest zero (for people)
//   180  file size (212 + packed size)     184  header size (212)
//   188  kind (1)                          192  records area size (30 n)
//   196  path lines area size              200  packed payload offset (212)
//   204  payload size                      208  packed payload size
//   212  packed payload: LZO1X-1, every byte XORed with the payload key
//        (low byte of the payload size, no fallback)
//
// Payload: 25-byte index (20, payload size, records offset 25, n, records
// size, path lines offset, path lines size), the records area (n x 30 bytes:
// date "YYYY-MM-DD", u32 size, MD5), the path lines area (path + LF per
// record). Both areas are XORed with the area key: the low byte of the
// records area size, or kFallbackKeyByte when that byte is 0.
#pragma once

#include <stdint.h>

#include "common/keys.h"

const uint8_t kUserFileMagic[4] = {0x1D, 0xEA, 0x0D, 0x0A};
const uint32_t kUserHeaderSize = 212;
const uint32_t kUserTextBlockSize = 176;
const uint32_t kUserFileKind = 1;
const uint32_t kUserIndexSize = 25;
const uint8_t kUserIndexTag = 20;
const uint32_t kUserRecordSize = 30;

// Header field offsets.
const uint32_t kUfTextBlock = 4;
const uint32_t kUfFileSize = 180;
const uint32_t kUfHeaderSize = 184;
const uint32_t kUfKind = 188;
const uint32_t kUfRecordsSize = 192;
const uint32_t kUfPathsSize = 196;
const uint32_t kUfPayloadOffset = 200;
const uint32_t kUfPayloadSize = 204;
const uint32_t kUfPackedSize = 208;

// The maker's web address in the text block's last line.
const char kUserFileWebsite[] = "http://www.corvane.example/";

enum UserFileResult {
  kUfOk = 0,
  kUfBadArgument = -1,
  kUfNoPayload = -2,      // packed or payload size is 0
  kUfOutOfRange = -3,     // the packed payload lies outside the file
  kUfNoRoom = -4,         // an output buffer is too small
  kUfBadPayload = -5,     // LZO failed or the length differs from the header
  kUfBadIndex = -6,       // the payload index does not fit the payload
  kUfCompressFailed = -7,
};

struct UserFileHeader {
  uint32_t fileSize;
  uint32_t headerSize;
  uint32_t kind;
  uint32_t recordsSize;
  uint32_t pathsSize;
  uint32_t payloadOffset;
  uint32_t payloadSize;
  uint32_t packedSize;
};

struct UserPayloadIndex {
  uint8_t tag;
  uint32_t payloadSize;
  uint32_t recordsOffset;
  uint32_t count;
  uint32_t recordsSize;
  uint32_t pathsOffset;
  uint32_t pathsSize;
};

// One record as the writer takes it and the reader gives it.
struct UserRecord {
  char date[10];      // "YYYY-MM-DD", no NUL
  uint32_t size;
  uint8_t digest[16];
};

uint8_t UserAreaKey(uint32_t recordsSize);
uint8_t UserPayloadKey(uint32_t payloadSize);

// --- Reader ------------------------------------------------------------------

// Header fields of the first `length` bytes of a file; bytes past `length`
// count as zero (a short file reads as kind 0).
void UserFileReadHeader(const uint8_t* file, uint32_t length, UserFileHeader* header);

// Unpacks the payload of a user file into out[0, outCapacity). The packed
// payload is taken at offset 212 and unscrambled IN PLACE in `file`.
// *payloadLength receives the unpacked length, which must equal the header's
// payload size (else kUfBadPayload). The caller checks the kind.
int UserFileUnpack(uint8_t* file, uint32_t length, uint8_t* out, uint32_t outCapacity,
                   uint32_t* payloadLength);

// Checks the payload index against the payload (tag not checked: readers
// ignore it; areas inside the payload, not overlapping, records size = 30 n)
// and unscrambles both areas in place.
int UserPayloadOpen(uint8_t* payload, uint32_t length, UserPayloadIndex* index);

// Record k (< index.count) of an opened payload.
void UserPayloadRecord(const uint8_t* payload, const UserPayloadIndex* index, uint32_t k,
                       UserRecord* record);

// Walks the path lines: from *cursor (start at 0) gives the next line without
// its LF. False at the end of the area. A last line without LF still counts.
bool UserPayloadNextPath(const uint8_t* payload, const UserPayloadIndex* index,
                         uint32_t* cursor, const char** line, uint32_t* lineLength);

// --- Writer ------------------------------------------------------------------

// Size of the payload for `count` records whose path lengths sum to
// `pathBytes` (each line adds its LF). 0 on overflow.
uint32_t UserPayloadSize(uint32_t count, uint32_t pathBytes);

// Lays the payload out in payload[0, capacity): the index, the records, the
// path lines; both areas scrambled with the area key. paths[k] is the path of
// record k (pathLengths[k] bytes, no LF or NUL inside).
int UserPayloadBuild(uint8_t* payload, uint32_t capacity, const UserRecord* records,
                     const char* const* paths, const uint32_t* pathLengths, uint32_t count,
                     uint32_t* payloadLength);

// Largest file UserFileBuild can produce for a payload of `payloadLength`.
uint32_t UserFileMaxSize(uint32_t payloadLength);
// Work memory UserFileBuild needs (LZO1X-1's dictionary).
uint32_t UserFileWorkSize();

// Compresses a built payload and writes the whole file into out[0,
// outCapacity): header (text block with `fileName` and `date` "YYYY-MM-DD"),
// then the packed payload scrambled with the payload key. `work` holds
// UserFileWorkSize() bytes, suitably aligned for pointers.
int UserFileBuild(const uint8_t* payload, uint32_t payloadLength, const char* fileName,
                  const char* date, void* work, uint8_t* out, uint32_t outCapacity,
                  uint32_t* fileLength);
