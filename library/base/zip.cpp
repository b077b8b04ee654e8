// ZIP archives: each member (stored or deflated) becomes one layer, so the
// scanner scans members one by one, archives inside archives as well.
//
//   local header  "PK\3\4" ... 26 name length, 28 extra length, 30 name ...
//   central entry "PK\1\2" ... 8 flags, 10 method, 20 packed size,
//                 24 size, 28/30/32 name/extra/comment lengths, 42 local offset
//   end record    "PK\5\6" ... 10 entries, 12 directory size, 16 directory offset
#define TW_ROUTINES(R) R(Zip)
#include "library/base/base.h"
#include "library/base/inflate.h"

const tw_u32 kZipMaxMember = 64 * 1024 * 1024;
// Members that do not decode give no layer, so the engine's layer limit does
// not bound them; what they cost (bytes read, output reserved) is counted per
// file, and once it passes this the archive is given up. Thousands of
// directory entries naming one broken member cost no more than a few.
const tw_u32 kZipFailedWork = 256 * 1024 * 1024;
const tw_u32 kZipEndSearch = 65535 + 22;

// Finds the end record in the last bytes of the scanned file.
static int FindEnd(CQEL* q, LibLevel* level) {
  tw_u32 size = q->size;
  if (size < 22) return 0;
  tw_u32 n = size < kZipEndSearch ? size : kZipEndSearch;
  tw_u8* tail = (tw_u8*)TwTrackedAlloc(q, n);
  if (!tail) return 0;
  int found = 0;
  if (ReadScanned(q, size - n, tail, n) == n) {
    for (tw_u32 i = n - 22 + 1; i-- > 0;) {
      const tw_u8* e = tail + i;
      if (e[0] != 'P' || e[1] != 'K' || e[2] != 5 || e[3] != 6) continue;
      tw_u32 count = Get16(e + 10), cdSize = Get32(e + 12), cdOffset = Get32(e + 16);
      tw_u32 at = size - n + i;  // where the end record sits
      if (cdOffset > at || cdSize > at - cdOffset) continue;
      level->cdOffset = cdOffset;
      level->cdSize = cdSize;
      level->cdCount = count;
      level->cdPos = 0;
      found = 1;
      break;
    }
  }
  TwTrackedFree(q, tail);
  return found;
}

TW_CHECK(Zip) {
  if (q->unitType != kUnitHead) return TW_UNDECIDED;
  LibLevel* level = CurrentLevel(q);
  if (!FindEnd(q, level)) return TW_UNDECIDED;
  level->unpacker = kUnpackerZip;
  level->archiveSize = q->size;
  level->step = 0;
  return TW_PACKER;
}

// Writes member bytes [data, data + packed) of the archive, decoded, as the
// layer. Answers 1 when a layer was written.
static int WriteMember(CQEL* q, tw_u32 method, tw_u32 data, tw_u32 packed, tw_u32 size) {
  tw_u8* in = (tw_u8*)TwTrackedAlloc(q, packed + 1);
  if (!in) return 0;
  int ok = 0;
  if (ReadLayer(q, data, in, packed) == packed) {
    if (method == 0) {
      ok = packed == size && WriteLayer(q, in, size);
    } else {
      tw_u8* out = (tw_u8*)TwTrackedAlloc(q, size + 1);
      if (out) {
        ok = InflateRaw(in, packed, out, size) == size && WriteLayer(q, out, size);
        TwTrackedFree(q, out);
      }
    }
  }
  TwTrackedFree(q, in);
  return ok;
}

TW_UNPACK(Zip) {
  tw_u32 archive = LayerFileSize(q);
  LibLevel* level = FindUnpackLevel(q, kUnpackerZip, archive);
  if (!level) return 0;
  while (level->step < level->cdCount) {
    level->step++;
    tw_u8 entry[46];
    if (level->cdPos > level->cdSize || level->cdSize - level->cdPos < 46) break;
    if (ReadLayer(q, level->cdOffset + level->cdPos, entry, 46) != 46) break;
    if (Get32(entry) != 0x02014B50u) break;
    tw_u32 nameLength = Get16(entry + 28);
    level->cdPos += 46 + nameLength + Get16(entry + 30) + Get16(entry + 32);
    tw_u32 flags = Get16(entry + 8), method = Get16(entry + 10);
    tw_u32 packed = Get32(entry + 20), size = Get32(entry + 24), local = Get32(entry + 42);
    // Encrypted, unknown methods, folders, and members too small or too large
    // to be scanned are passed over.
    if ((flags & 1) || (method != 0 && method != 8)) continue;
    if (size < 7 || size > kZipMaxMember || packed > archive) continue;
    tw_u8 header[30];
    if (local > archive || archive - local < 30) continue;
    if (ReadLayer(q, local, header, 30) != 30 || Get32(header) != 0x04034B50u) continue;
    tw_u32 data = local + 30 + Get16(header + 26) + Get16(header + 28);
    if (data > archive || packed > archive - data) continue;
    if (method == 0 && packed != size) continue;
    LibState* s = State(q);
    if (s->failedWork >= kZipFailedWork) break;
    if (!WriteMember(q, method, data, packed, size)) {
      tw_u32 cost = (packed < kZipFailedWork ? packed : kZipFailedWork) + (method == 0 ? 0 : size);
      s->failedWork = cost > kZipFailedWork - s->failedWork ? kZipFailedWork : s->failedWork + cost;
      continue;
    }
    q->engine->membersUnzipped++;
    LayerWritten(q, kLevelMember);
    return TW_UNPACKED;
  }
  level->unpacker = kUnpackerNone;
  return 0;
}
