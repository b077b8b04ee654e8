// Quarantine record writer and reader (layout in quarantine.h). Freestanding.
#include "common/quarantine.h"

#include <string.h>

#include "common/md5.h"

namespace {

const char kHexDigits[] = "0123456789abcdef";

uint32_t TextLength(const char* s) {
  uint32_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (uint8_t)(v >> (8 * i));
}

void PutU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = (uint8_t)(v >> (8 * i));
}

uint16_t GetU16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }

uint32_t GetU32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) |
         ((uint32_t)p[3] << 24);
}

uint64_t GetU64(const uint8_t* p) {
  return (uint64_t)GetU32(p) | ((uint64_t)GetU32(p + 4) << 32);
}

void HexDigest(const uint8_t digest[16], char* out) {
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = kHexDigits[digest[i] >> 4];
    out[2 * i + 1] = kHexDigits[digest[i] & 15];
  }
}

// Appends text to a bounded block, silently cutting at the end.
struct BlockWriter {
  char* out;
  uint32_t capacity;
  uint32_t used;

  void Put(const char* s, uint32_t n) {
    for (uint32_t i = 0; i < n && used < capacity; ++i) out[used++] = s[i];
  }
  void Put(const char* s) { Put(s, TextLength(s)); }
  // "%d" of a 32-bit signed value.
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

void WriteTextBlock(uint8_t* header, const uint8_t d1[16], const char* sessionDate,
                    uint32_t n) {
  // The header is zero-filled, so a short text stays zero-padded.
  BlockWriter w{(char*)header + kQrTextBlock, kQuarantineTextBlockSize, 0};
  char d1Name[kQuarantineRecordNameSize];
  QuarantineRecordName(d1, d1Name);
  w.Put("Corvane Scan Labs\r\n");
  w.Put("Version: 10.07.19.01\r\n");
  w.Put("Name: ");
  w.Put(d1Name);
  w.Put("\r\n");
  w.Put("Data:");
  uint32_t dateLength = 0;
  if (sessionDate != 0) {
    while (dateLength < 10 && sessionDate[dateLength] != 0) ++dateLength;
    w.Put(sessionDate, dateLength);
  }
  w.Put("\r\n");
  w.Put("Size: ");
  w.PutDecimal((int32_t)n);
  w.Put("\r\n");
  w.Put("Official website: ");
  w.Put(kQuarantineWebsite);
  w.Put("\r\n\r\n");
}

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

uint8_t HexValue(char c) {
  if (c >= '0' && c <= '9') return (uint8_t)(c - '0');
  if (c >= 'a' && c <= 'f') return (uint8_t)(c - 'a' + 10);
  return (uint8_t)(c - 'A' + 10);
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c + 32) : c; }

}  // namespace

uint8_t QuarantineContentKey(uint32_t n) {
  uint8_t key = (uint8_t)n;
  return key != 0 ? key : kFallbackKeyByte;
}

void QuarantineScramble(uint8_t* data, uint32_t n, uint8_t key) {
  for (uint32_t i = 0; i < n; ++i) data[i] ^= key;
}

int QuarantineCompose(uint8_t* buffer, uint32_t capacity, uint32_t contentAt,
                      uint32_t n, const char* path, const char* virusName,
                      const char* sessionDate, const uint16_t quarantineTime[8],
                      const int64_t fileTimes[3], uint32_t* recordLength,
                      uint8_t d2[16]) {
  if (buffer == 0 || path == 0 || recordLength == 0 || d2 == 0) return kQrBadArgument;
  if (virusName == 0) virusName = "";
  if (contentAt > capacity || n > capacity - contentAt) return kQrTooLarge;

  // Origin line "path&name\r\n" within kQuarantineOriginMax bytes: the path is
  // kept whole (a cut path would restore to the wrong place), the name gives way.
  uint32_t pathLength = TextLength(path);
  if (pathLength > kQuarantineOriginMax - 3) return kQrPathTooLong;
  uint32_t nameLength = TextLength(virusName);
  if (nameLength > kQuarantineNameMax) nameLength = kQuarantineNameMax;
  uint32_t nameRoom = kQuarantineOriginMax - 3 - pathLength;
  if (nameLength > nameRoom) nameLength = nameRoom;
  uint32_t lineLength = pathLength + 1 + nameLength + 2;
  uint32_t contentOffset = kQuarantineHeaderSize + lineLength;
  if (contentAt < contentOffset) return kQrNoRoom;

  uint8_t d1[16];
  Md5Digest(buffer + contentAt, n, d1);

  // The header and the origin line lie in front of the content, so they can be
  // built in place before the content moves down to its final offset.
  uint8_t* header = buffer;
  memset(header, 0, kQuarantineHeaderSize);
  PutU32(header, kQuarantineMagic);
  WriteTextBlock(header, d1, sessionDate, n);
  for (int i = 0; i < 8; ++i)
    PutU16(header + kQrTime + 2 * i, quarantineTime ? quarantineTime[i] : 0);
  PutU32(header + kQrSize, n);
  PutU32(header + kQrContentOffset, contentOffset);
  PutU32(header + kQrKind, kQuarantineKind);
  memcpy(header + kQrD1, d1, 16);
  for (int i = 0; i < 3; ++i)
    PutU64(header + kQrFileTimes + 8 * i, fileTimes ? (uint64_t)fileTimes[i] : 0);

  char* line = (char*)buffer + kQuarantineHeaderSize;
  memcpy(line, path, pathLength);
  line[pathLength] = '&';
  for (uint32_t i = 0; i < nameLength; ++i) {
    char c = virusName[i];
    line[pathLength + 1 + i] = (c == '&' || c == '\r' || c == '\n') ? '_' : c;
  }
  line[pathLength + 1 + nameLength] = '\r';
  line[pathLength + 2 + nameLength] = '\n';

  memmove(buffer + contentOffset, buffer + contentAt, n);
  QuarantineScramble(buffer + contentOffset, n, QuarantineContentKey(n));

  uint32_t total = contentOffset + n;
  Md5Digest(buffer, total, d2);
  memcpy(header + kQrD2, d2, 16);
  *recordLength = total;
  return kQrOk;
}

void QuarantineRecordName(const uint8_t d2[16], char name[kQuarantineRecordNameSize]) {
  HexDigest(d2, name);
  memcpy(name + 32, ".vir", 5);
}

uint32_t QuarantineRecordDigit(const uint8_t d2[16]) { return d2[0] >> 4; }

uint32_t QuarantineSubdirPath(uint32_t digit, char* out, uint32_t capacity) {
  uint32_t rootLength = sizeof(kQuarantineRoot) - 1;
  uint32_t length = rootLength + 2;
  if (out == 0 || digit > 15 || capacity < length + 1) return 0;
  memcpy(out, kQuarantineRoot, rootLength);
  out[rootLength] = '\\';
  out[rootLength + 1] = kHexDigits[digit];
  out[length] = 0;
  return length;
}

uint32_t QuarantineRecordPath(const uint8_t d2[16], char* out, uint32_t capacity) {
  uint32_t dirLength = QuarantineSubdirPath(QuarantineRecordDigit(d2), out, capacity);
  uint32_t length = dirLength + 1 + kQuarantineRecordNameSize - 1;
  if (dirLength == 0 || capacity < length + 1) return 0;
  out[dirLength] = '\\';
  QuarantineRecordName(d2, out + dirLength + 1);
  return length;
}

bool QuarantineParseRecordName(const char* name, uint8_t d2[16]) {
  if (name == 0) return false;
  for (int i = 0; i < 32; ++i)
    if (!IsHex(name[i])) return false;
  if (name[32] != '.' || Lower(name[33]) != 'v' || Lower(name[34]) != 'i' ||
      Lower(name[35]) != 'r' || name[36] != 0)
    return false;
  for (int i = 0; i < 16; ++i)
    d2[i] = (uint8_t)((HexValue(name[2 * i]) << 4) | HexValue(name[2 * i + 1]));
  return true;
}

bool QuarantineIsRecord(const uint8_t* data, uint32_t length) {
  if (data == 0) return false;
  uint8_t head[kQrKind + 4];
  memset(head, 0, sizeof head);
  memcpy(head, data, length < sizeof head ? length : sizeof head);
  return GetU32(head) == kQuarantineMagic || GetU32(head + kQrKind) == kQuarantineKind;
}

int QuarantineParse(const uint8_t* data, uint32_t length, QuarantineInfo* info) {
  if (data == 0 || info == 0) return kQrBadArgument;
  memset(info, 0, sizeof *info);
  // Work on a zero-extended copy of the part a listing needs.
  uint8_t head[kQuarantineHeaderSize + kQuarantineOriginMax];
  memset(head, 0, sizeof head);
  memcpy(head, data, length < sizeof head ? length : sizeof head);
  if (!QuarantineIsRecord(head, sizeof head)) return kQrNotRecord;

  info->contentOffset = GetU32(head + kQrContentOffset);
  if (info->contentOffset < kQuarantineHeaderSize ||
      info->contentOffset - kQuarantineHeaderSize > kQuarantineOriginMax)
    return kQrBadOrigin;

  for (int i = 0; i < 8; ++i) info->quarantineTime[i] = GetU16(head + kQrTime + 2 * i);
  info->size = GetU32(head + kQrSize);
  info->kind = GetU32(head + kQrKind);
  memcpy(info->d1, head + kQrD1, 16);
  memcpy(info->d2, head + kQrD2, 16);
  for (int i = 0; i < 3; ++i)
    info->fileTimes[i] = (int64_t)GetU64(head + kQrFileTimes + 8 * i);

  // The line is text: it ends at its length or at a stray NUL.
  const char* line = (const char*)head + kQuarantineHeaderSize;
  uint32_t lineLength = 0;
  uint32_t limit = info->contentOffset - kQuarantineHeaderSize;
  while (lineLength < limit && line[lineLength] != 0) ++lineLength;

  uint32_t amp = lineLength;
  for (uint32_t i = lineLength; i > 0; --i) {
    if (line[i - 1] == '&') {
      amp = i - 1;
      break;
    }
  }
  // A line without '&' is all path; its line end is not part of it.
  uint32_t pathLength = amp;
  if (amp == lineLength && pathLength >= 2 && line[pathLength - 2] == '\r' &&
      line[pathLength - 1] == '\n')
    pathLength -= 2;
  memcpy(info->path, line, pathLength);
  info->path[pathLength] = 0;
  if (amp < lineLength) {
    const char* name = line + amp + 1;
    uint32_t nameLength = lineLength - amp - 1;
    if (nameLength >= 2 && name[nameLength - 2] == '\r' && name[nameLength - 1] == '\n')
      nameLength -= 2;
    if (nameLength > kQuarantineNameMax) nameLength = kQuarantineNameMax;
    memcpy(info->virusName, name, nameLength);
    info->virusName[nameLength] = 0;
  }
  return kQrOk;
}

int QuarantineOpenContent(uint8_t* data, uint32_t length, const QuarantineInfo* info,
                          uint8_t** content) {
  if (data == 0 || info == 0 || content == 0) return kQrBadArgument;
  if (info->contentOffset > length || info->size > length - info->contentOffset)
    return kQrTruncated;
  uint8_t* bytes = data + info->contentOffset;
  QuarantineScramble(bytes, info->size, QuarantineContentKey(info->size));
  uint8_t digest[16];
  Md5Digest(bytes, info->size, digest);
  if (memcmp(digest, info->d1, 16) != 0) {
    // Leave the buffer as it was.
    QuarantineScramble(bytes, info->size, QuarantineContentKey(info->size));
    return kQrDigestMismatch;
  }
  *content = bytes;
  return kQrOk;
}
