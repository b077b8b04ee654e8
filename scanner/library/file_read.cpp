// Reading one library file whole: "<folder><prefix>NNN.dat" into a buffer of
// its size plus 4096 zero bytes.
#include <string.h>

#include "scanner/library/library_internal.h"

namespace {

const uint32_t kMaxPath = 1023;
// Larger files cannot be library files: four sections of at most 32 MiB
// unpacked each stay far below this when packed.
const uint32_t kMaxFileSize = 0x10000000;

}  // namespace

int ReadLibraryFile(VirusLibrary* lib, const char* folder, const char* prefix, uint32_t index, FileBuffer* out) {
  out->data = nullptr;
  out->size = 0;
  char path[kMaxPath + 1];
  uint32_t n = TextLen(folder);
  uint32_t p = TextLen(prefix);
  if (index > 999 || n + p + 7 > kMaxPath) return 0;
  memcpy(path, folder, n);
  memcpy(path + n, prefix, p);
  n += p;
  path[n++] = (char)('0' + index / 100);
  path[n++] = (char)('0' + index / 10 % 10);
  path[n++] = (char)('0' + index % 10);
  memcpy(path + n, ".dat", 5);

  HANDLE h = FileOpen(lib->ctx, path, kAccessRead, kOpenExisting);
  if (h == 0 || h == RT_INVALID_HANDLE) return 0;
  uint32_t size = FileSize(lib->ctx, h);
  if (size == kInvalid32 || size > kMaxFileSize) {
    FileClose(lib->ctx, h);
    return 0;
  }
  uint8_t* data = (uint8_t*)MemAlloc0(lib->ctx, size + libfmt::kSlack);
  if (data == nullptr) {
    FileClose(lib->ctx, h);
    return 0;
  }
  // A short read leaves the rest zero.
  uint32_t done = 0;
  while (done < size) {
    uint32_t got = FileRead(lib->ctx, h, data + done, size - done);
    if (got == 0) break;
    done += got;
  }
  FileClose(lib->ctx, h);
  out->data = data;
  out->size = size;
  return 1;
}
