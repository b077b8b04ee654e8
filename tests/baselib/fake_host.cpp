#include "tests/baselib/library_sdk.h"

#include "tests/baselib/fake_host.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

FakeHost host;

void ResetHost() { host = FakeHost(); }

namespace {

const uint32_t kTrackedLimit = 0x5000000;

uint32_t Seek(FakeFile& f, int64_t target) {
  if (target < 0 || target > 0xFFFFFFFELL) return 0xFFFFFFFFu;
  f.pos = (uint32_t)target;
  return f.pos;
}

uint32_t Read(FakeFile& f, void* buffer, uint32_t count) {
  if (f.pos >= f.data.size()) return 0;
  uint32_t n = (uint32_t)std::min<uint64_t>(count, f.data.size() - f.pos);
  std::memcpy(buffer, f.data.data() + f.pos, n);
  f.pos += n;
  return n;
}

struct OpenFile {
  std::vector<uint8_t> data;
  uint32_t pos = 0;
};

}  // namespace

extern "C" {

tw_u32 __stdcall TwScanSeek(CQEL*, tw_u32 position) { return Seek(host.scanned, position); }

tw_u32 __stdcall TwScanRead(CQEL*, void* buffer, tw_u32 count) {
  tw_u32 n = Read(host.scanned, buffer, count);
  host.scannedBytesRead += n;
  return n;
}

tw_u32 __stdcall TwScanWrite(CQEL*, const void* buffer, tw_u32 count) {
  if (host.failWrite) return 0;
  FakeFile& f = host.scanned;
  if ((uint64_t)f.pos + count > f.data.size()) f.data.resize((size_t)f.pos + count);
  if (count) std::memcpy(f.data.data() + f.pos, buffer, count);
  f.pos += count;
  return count;
}

tw_u32 __stdcall TwScanTruncate(CQEL*, tw_i32 count) {
  if (host.failTruncate) return 0;
  FakeFile& f = host.scanned;
  int64_t target = (int64_t)f.pos + count;
  if (target < 0) return 0;
  f.pos = (uint32_t)target;
  f.data.resize(f.pos);
  return 1;
}

void* __stdcall TwTrackedAlloc(CQEL*, tw_u32 size) {
  if (size > kTrackedLimit) return nullptr;
  void* p = std::malloc(size ? size : 1);
  if (!p) return nullptr;
  host.trackedBytes += size;
  host.trackedLive++;
  return p;
}

void __stdcall TwTrackedFree(CQEL*, void* block) {
  if (!block) return;
  host.trackedLive--;
  std::free(block);
}

tw_u32 __stdcall TwLayerSeek(CQEL*, tw_i32 position, tw_u32 origin) {
  FakeFile& f = host.layer;
  int64_t base = origin == 0 ? 0 : origin == 1 ? f.pos : origin == 2 ? (int64_t)f.data.size() : -1;
  if (base < 0) return 0xFFFFFFFFu;
  return Seek(f, base + position);
}

tw_u32 __stdcall TwLayerRead(CQEL*, void* buffer, tw_u32 count) {
  tw_u32 n = Read(host.layer, buffer, count);
  host.layerBytesRead += n;
  return n;
}

TwHandle __stdcall TwFileOpen(CQEL*, const char* path, tw_u32, tw_u32) {
  std::string key;
  for (const char* p = path; *p; ++p) key += (char)std::tolower((unsigned char)*p);
  auto it = host.files.find(key);
  if (it == host.files.end()) return 0;
  host.openHandles++;
  return new OpenFile{it->second, 0};
}

tw_u32 __stdcall TwFileRead(CQEL*, TwHandle h, void* buffer, tw_u32 count) {
  OpenFile* f = (OpenFile*)h;
  if (f->pos >= f->data.size()) return 0;
  uint32_t n = (uint32_t)std::min<uint64_t>(count, f->data.size() - f->pos);
  std::memcpy(buffer, f->data.data() + f->pos, n);
  f->pos += n;
  return n;
}

void __stdcall TwFileClose(CQEL*, TwHandle h) {
  host.openHandles--;
  delete (OpenFile*)h;
}

tw_u32 __stdcall TwFileSize(CQEL*, TwHandle h) { return (tw_u32)((OpenFile*)h)->data.size(); }

tw_u32 __stdcall TwDriveType(CQEL*, const char* root) {
  auto it = host.driveTypes.find((char)std::toupper((unsigned char)root[0]));
  return it == host.driveTypes.end() ? 1 : it->second;
}

tw_u32 __stdcall TwListDrives(CQEL*, tw_u32 capacity, char* buffer) {
  std::string out;
  for (auto& d : host.driveTypes) out += std::string(1, d.first) + ":\\" + std::string(1, '\0');
  // Written only when the list and a final terminator fit; the size either way.
  if (out.size() + 1 <= capacity) {
    std::memcpy(buffer, out.data(), out.size());
    buffer[out.size()] = 0;
  }
  return (tw_u32)out.size();
}

tw_u32 __stdcall TwRequestSweep(CQEL*, tw_u32 code) {
  if (code != 1) return code - 1;
  host.sweepRequests++;
  return 1;
}

}  // extern "C"

// Runs as a 32-bit program under qemu-i386 here: the sanitizer's allocator
// fails its own checks once its quarantine holds a few hundred MiB of the
// 64 MiB blocks that the archive routines reserve.
extern "C" const char* __asan_default_options() { return "detect_leaks=0:quarantine_size_mb=8"; }
