// The user pass: every "User%03d.dat" of the library folder, through the one
// user library file reader (common/userlib), into UserDigestList.
#include <string.h>

#include "common/userlib.h"
#include "scanner/library/library_internal.h"

using namespace libfmt;

namespace {

// A payload this large cannot be a user list (its records alone would pass
// the records limit), nor can path lines past the limit; no buffer is sized
// for such a file and it is left out, so one damaged size field does not
// cost the other files their records.
const uint32_t kMaxPayload = 2 * kTableLimit;

bool SizesPossible(const UserFileHeader& h) { return h.payloadSize <= kMaxPayload && h.pathsSize <= kTableLimit; }

}  // namespace

void BuildUserList(VirusLibrary* lib, FileBuffer* files) {
  uint64_t records = 0, paths = 0;
  uint32_t largest = 0;
  for (uint32_t i = 0; i < kMaxFiles; ++i) {
    if (files[i].data == nullptr) continue;
    UserFileHeader h;
    UserFileReadHeader(files[i].data, files[i].size, &h);
    if (h.kind != kFileKindUser || !SizesPossible(h)) continue;
    records += h.recordsSize;
    paths += h.pathsSize;
    if (h.payloadSize > largest) largest = h.payloadSize;
  }
  // Nothing is built past the limits (the pass still counts as loaded).
  if (records == 0 || records > kTableLimit || paths > kTableLimit) return;
  RuntimeContext* ctx = lib->ctx;
  lib->userRecords.capacity = (uint32_t)records + kSlack;
  lib->userRecords.data = (uint8_t*)MemAlloc(ctx, lib->userRecords.capacity);
  lib->userPaths.capacity = (uint32_t)paths + kSlack;
  lib->userPaths.data = (uint8_t*)MemAlloc(ctx, lib->userPaths.capacity);
  uint32_t decodeCapacity = largest + kSlack;
  uint8_t* decode = (uint8_t*)MemAlloc(ctx, decodeCapacity);
  if (lib->userRecords.data == nullptr || lib->userPaths.data == nullptr || decode == nullptr) {
    MemFree(ctx, decode);
    lib->userRecords.capacity = lib->userPaths.capacity = 0;
    return;
  }
  for (uint32_t i = 0; i < kMaxFiles; ++i) {
    FileBuffer& f = files[i];
    if (f.data == nullptr) continue;
    UserFileHeader h;
    UserFileReadHeader(f.data, f.size, &h);
    if (h.kind != kFileKindUser || !SizesPossible(h)) continue;
    uint32_t length = 0;
    if (UserFileUnpack(f.data, f.size, decode, decodeCapacity, &length) != kUfOk) continue;
    UserPayloadIndex index;
    if (UserPayloadOpen(decode, length, &index) != kUfOk) continue;
    // A payload larger than its header announced is refused whole: the
    // areas were sized from the headers.
    Area* r = &lib->userRecords;
    Area* p = &lib->userPaths;
    if (index.recordsSize > r->capacity - r->used || index.pathsSize > p->capacity - p->used) continue;
    memcpy(r->data + r->used, decode + index.recordsOffset, index.recordsSize);
    r->used += index.recordsSize;
    memcpy(p->data + p->used, decode + index.pathsOffset, index.pathsSize);
    p->used += index.pathsSize;
    lib->userCount += index.count;
  }
  MemFree(ctx, decode);
}

int LoadUserFiles(VirusLibrary* lib, const char* folder) {
  FileBuffer files[kMaxFiles];
  memset(files, 0, sizeof files);
  int read = 0;
  int last = -1;
  for (uint32_t i = 0; i < kMaxFiles; ++i) {
    if (!ReadLibraryFile(lib, folder, "User", i, &files[i])) continue;
    ++read;
    last = (int)i;
  }
  int result = read != 0 && files[last].size != 0;
  if (result) BuildUserList(lib, files);
  for (uint32_t i = 0; i < kMaxFiles; ++i) MemFree(lib->ctx, files[i].data);
  return result;
}
