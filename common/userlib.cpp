// User library file reader and writer (layout in userlib.h). Freestanding.
#include "common/userlib.h"

#include <lzo/lzo1x.h>
#include <string.h>

namespace {

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (uint8_t)(v >> (8 * i));
}

uint32_t GetU32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) |
         ((uint32_t)p[3] << 24);
}

void Scramble(uint8_t* data, uint32_t n, uint8_t key) {
  for (uint32_t i = 0; i < n; ++i) data[i] ^= key;
}

// [offset, offset + size) inside [0, length), without overflow.
bool Inside(uint32_t offset, uint32_t size, uint32_t length) {
  return offset <= length && size <= length - offset;
}

uint32_t TextLength(const char* s) {
  uint32_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

struct BlockWriter {
  char* out;
  uint32_t capacity;  // room for text; one byte more stays NUL
  uint32_t used;

  void Put(const char* s, uint32_t n) {
    for (uint32_t i = 0; i < n && used < capacity; ++i) out[used++] = s[i];
  }
  void Put(const char* s) { Put(s, TextLength(s)); }
  void PutDecimal(int32_t value) {
    char digits[12];
    uint32_t count = 0;
    uint32_t magnitude = value < 0 ? 0u - (uint32_t)value : (uint32_t)value;
    do {
      digits[count++] = (char)('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) Put("-", 1);
    while (count > 0) Put(&digits[--count], 1);
  }
};

}  // namespace

uint8_t UserAreaKey(uint32_t recordsSize) {
  uint8_t key = (uint8_t)recordsSize;
  return key != 0 ? key : kFallbackKeyByte;
}

uint8_t UserPayloadKey(uint32_t payloadSize) { return (uint8_t)payloadSize; }

void UserFileReadHeader(const uint8_t* file, uint32_t length, UserFileHeader* header) {
  uint8_t head[kUserHeaderSize];
  memset(head, 0, sizeof head);
  if (file != 0) memcpy(head, file, length < sizeof head ? length : sizeof head);
  header->fileSize = GetU32(head + kUfFileSize);
  header->headerSize = GetU32(head + kUfHeaderSize);
  header->kind = GetU32(head + kUfKind);
  header->recordsSize = GetU32(head + kUfRecordsSize);
  header->pathsSize = GetU32(head + kUfPathsSize);
  header->payloadOffset = GetU32(head + kUfPayloadOffset);
  header->payloadSize = GetU32(head + kUfPayloadSize);
  header->packedSize = GetU32(head + kUfPackedSize);
}

int UserFileUnpack(uint8_t* file, uint32_t length, uint8_t* out, uint32_t outCapacity,
                   uint32_t* payloadLength) {
  if (file == 0 || out == 0 || payloadLength == 0) return kUfBadArgument;
  UserFileHeader header;
  UserFileReadHeader(file, length, &header);
  if (header.packedSize == 0 || header.payloadSize == 0) return kUfNoPayload;
  // The payload always starts right after the header; the offset field is
  // for people and is not trusted.
  if (!Inside(kUserHeaderSize, header.packedSize, length)) return kUfOutOfRange;
  if (header.payloadSize > outCapacity) return kUfNoRoom;
  uint8_t* packed = file + kUserHeaderSize;
  Scramble(packed, header.packedSize, UserPayloadKey(header.payloadSize));
  lzo_uint produced = header.payloadSize;
  int r = lzo1x_decompress_safe(packed, header.packedSize, out, &produced, 0);
  // LZO_E_INPUT_NOT_CONSUMED: trailing bytes after the end marker; the
  // payload itself is whole, so it is accepted when its length is right.
  if ((r != LZO_E_OK && r != LZO_E_INPUT_NOT_CONSUMED) || produced != header.payloadSize)
    return kUfBadPayload;
  *payloadLength = (uint32_t)produced;
  return kUfOk;
}

int UserPayloadOpen(uint8_t* payload, uint32_t length, UserPayloadIndex* index) {
  if (payload == 0 || index == 0) return kUfBadArgument;
  if (length < kUserIndexSize) return kUfBadIndex;
  index->tag = payload[0];
  index->payloadSize = GetU32(payload + 1);
  index->recordsOffset = GetU32(payload + 5);
  index->count = GetU32(payload + 9);
  index->recordsSize = GetU32(payload + 13);
  index->pathsOffset = GetU32(payload + 17);
  index->pathsSize = GetU32(payload + 21);
  // The index must describe this payload: both areas after the index, inside
  // the payload, apart from each other, and the records area n records long.
  if (index->recordsOffset < kUserIndexSize || index->pathsOffset < kUserIndexSize)
    return kUfBadIndex;
  if (!Inside(index->recordsOffset, index->recordsSize, length) ||
      !Inside(index->pathsOffset, index->pathsSize, length))
    return kUfBadIndex;
  if (index->count > index->recordsSize / kUserRecordSize ||
      index->count * kUserRecordSize != index->recordsSize)
    return kUfBadIndex;
  bool apart = index->recordsOffset + index->recordsSize <= index->pathsOffset ||
               index->pathsOffset + index->pathsSize <= index->recordsOffset;
  if (!apart) return kUfBadIndex;
  uint8_t key = UserAreaKey(index->recordsSize);
  Scramble(payload + index->recordsOffset, index->recordsSize, key);
  Scramble(payload + index->pathsOffset, index->pathsSize, key);
  return kUfOk;
}

void UserPayloadRecord(const uint8_t* payload, const UserPayloadIndex* index, uint32_t k,
                       UserRecord* record) {
  const uint8_t* p = payload + index->recordsOffset + k * kUserRecordSize;
  memcpy(record->date, p, 10);
  record->size = GetU32(p + 10);
  memcpy(record->digest, p + 14, 16);
}

bool UserPayloadNextPath(const uint8_t* payload, const UserPayloadIndex* index,
                         uint32_t* cursor, const char** line, uint32_t* lineLength) {
  if (*cursor >= index->pathsSize) return false;
  const char* area = (const char*)payload + index->pathsOffset;
  uint32_t start = *cursor;
  uint32_t end = start;
  while (end < index->pathsSize && area[end] != '\n') ++end;
  *line = area + start;
  *lineLength = end - start;
  *cursor = end < index->pathsSize ? end + 1 : end;
  return true;
}

uint32_t UserPayloadSize(uint32_t count, uint32_t pathBytes) {
  uint64_t total = (uint64_t)kUserIndexSize + (uint64_t)count * kUserRecordSize +
                   (uint64_t)pathBytes + count;
  return total > 0xFFFFFFFFu ? 0 : (uint32_t)total;
}

int UserPayloadBuild(uint8_t* payload, uint32_t capacity, const UserRecord* records,
                     const char* const* paths, const uint32_t* pathLengths, uint32_t count,
                     uint32_t* payloadLength) {
  if (payload == 0 || payloadLength == 0 || (count != 0 && (records == 0 || paths == 0 ||
                                                            pathLengths == 0)))
    return kUfBadArgument;
  uint64_t pathBytes = 0;
  for (uint32_t k = 0; k < count; ++k) pathBytes += pathLengths[k];
  if (pathBytes > 0xFFFFFFFFu) return kUfNoRoom;
  uint32_t size = UserPayloadSize(count, (uint32_t)pathBytes);
  if (size == 0 || size > capacity) return kUfNoRoom;
  uint32_t recordsSize = count * kUserRecordSize;
  uint32_t pathsSize = (uint32_t)pathBytes + count;
  uint32_t pathsOffset = kUserIndexSize + recordsSize;

  payload[0] = kUserIndexTag;
  PutU32(payload + 1, size);
  PutU32(payload + 5, kUserIndexSize);
  PutU32(payload + 9, count);
  PutU32(payload + 13, recordsSize);
  PutU32(payload + 17, pathsOffset);
  PutU32(payload + 21, pathsSize);
  uint8_t* r = payload + kUserIndexSize;
  for (uint32_t k = 0; k < count; ++k, r += kUserRecordSize) {
    memcpy(r, records[k].date, 10);
    PutU32(r + 10, records[k].size);
    memcpy(r + 14, records[k].digest, 16);
  }
  uint8_t* p = payload + pathsOffset;
  for (uint32_t k = 0; k < count; ++k) {
    memcpy(p, paths[k], pathLengths[k]);
    p += pathLengths[k];
    *p++ = '\n';
  }
  uint8_t key = UserAreaKey(recordsSize);
  Scramble(payload + kUserIndexSize, recordsSize, key);
  Scramble(payload + pathsOffset, pathsSize, key);
  *payloadLength = size;
  return kUfOk;
}

uint32_t UserFileMaxSize(uint32_t payloadLength) {
  // LZO1X-1's worst case: n + n / 16 + 64 + 3.
  uint64_t total = (uint64_t)kUserHeaderSize + payloadLength + payloadLength / 16 + 67;
  return total > 0xFFFFFFFFu ? 0 : (uint32_t)total;
}

uint32_t UserFileWorkSize() { return LZO1X_1_MEM_COMPRESS; }

int UserFileBuild(const uint8_t* payload, uint32_t payloadLength, const char* fileName,
                  const char* date, void* work, uint8_t* out, uint32_t outCapacity,
                  uint32_t* fileLength) {
  if (payload == 0 || work == 0 || out == 0 || fileLength == 0 ||
      payloadLength < kUserIndexSize)
    return kUfBadArgument;
  uint32_t maxSize = UserFileMaxSize(payloadLength);
  if (maxSize == 0 || outCapacity < maxSize) return kUfNoRoom;
  if (lzo_init() != LZO_E_OK) return kUfCompressFailed;
  lzo_uint packedSize = outCapacity - kUserHeaderSize;
  if (lzo1x_1_compress(payload, payloadLength, out + kUserHeaderSize, &packedSize, work) !=
      LZO_E_OK)
    return kUfCompressFailed;
  Scramble(out + kUserHeaderSize, (uint32_t)packedSize, UserPayloadKey(payloadLength));
  uint32_t total = kUserHeaderSize + (uint32_t)packedSize;

  memset(out, 0, kUserHeaderSize);
  memcpy(out, kUserFileMagic, 4);
  // Text block: at most 175 characters, so a NUL always ends it.
  BlockWriter w{(char*)out + kUfTextBlock, kUserTextBlockSize - 1, 0};
  w.Put("Corvane Scan Labs\r\n");
  w.Put("Version: 10.07.19.01\r\n");
  w.Put("Name: ");
  w.Put(fileName != 0 ? fileName : "");
  w.Put("\r\n");
  w.Put("Date: ");
  uint32_t dateLength = 0;
  if (date != 0)
    while (dateLength < 10 && date[dateLength] != 0) ++dateLength;
  w.Put(date != 0 ? date : "", dateLength);
  w.Put("\r\n");
  w.Put("Size: ");
  w.PutDecimal((int32_t)total);
  w.Put("\r\n");
  w.Put("Official website: ");
  w.Put(kUserFileWebsite);
  w.Put("\r\n\r\n");

  PutU32(out + kUfFileSize, total);
  PutU32(out + kUfHeaderSize, kUserHeaderSize);
  PutU32(out + kUfKind, kUserFileKind);
  PutU32(out + kUfRecordsSize, GetU32(payload + 13));
  PutU32(out + kUfPathsSize, GetU32(payload + 21));
  PutU32(out + kUfPayloadOffset, kUserHeaderSize);
  PutU32(out + kUfPayloadSize, payloadLength);
  PutU32(out + kUfPackedSize, (uint32_t)packedSize);
  *fileLength = total;
  return kUfOk;
}
