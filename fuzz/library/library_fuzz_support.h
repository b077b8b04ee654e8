// Shared by the library's fuzz targets: a runtime context on the stand-in's
// heap, library files fed from memory, and the invariants a load must keep
// whatever the files say.
#pragma once

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "scanner/library/library_internal.h"

// LeakSanitizer cannot stop the world under qemu-i386 and would hang at exit.
// Freed blocks go straight back (no quarantine) and an allocation that
// cannot be had answers null, as the loader expects of its heap.
extern "C" const char* __asan_default_options() {
  return "detect_leaks=0:quarantine_size_mb=0:allocator_may_return_null=1";
}

namespace libfuzz {

// The harness's own loops (over thousands of slots) are not what is fuzzed:
// without coverage callbacks they cost next to nothing under qemu-i386.
#define TW_HARNESS __attribute__((no_sanitize("coverage")))

// Several library files in one input, split at this marker (indexes 0, 1,
// 2 ... in order).
const char kFileMarker[] = "--TWFILE--";
const size_t kMarkerLength = sizeof kFileMarker - 1;

TW_HARNESS inline void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// A runtime context whose heap holds at most 192 KiB at a time, like a very
// small machine: header totals that ask for more get null blocks, which the
// loader must handle. (32-bit ASan maps every block above 128 KiB on its
// own, and under qemu-i386 each such mapping lands below the last one: after
// some thousands of them ASan fails its own address checks. The seeds need
// about 150 KiB; the unit tests cover large areas.)
inline RuntimeContext* Context() {
  static RuntimeContext ctx;
  static bool ready = [] {
    RuntimeInit(&ctx);
    RtlDestroyHeap(ctx.heap);
    ctx.heap = RtlCreateHeap(0, nullptr, 192u << 10, 0x1000, nullptr, nullptr);
    return ctx.heap != nullptr;
  }();
  Check(ready);
  return &ctx;
}

// The library object itself (some 150 KiB of tables) comes from a heap
// without a limit; everything the loader allocates, from the small one.
inline VirusLibrary* NewLibrary() {
  static RuntimeContext big;
  RuntimeInit(&big);
  VirusLibrary* lib = CreateLibrary(&big);
  Check(lib != nullptr);
  lib->ctx = Context();
  RoutineHeapInit(&lib->heap, lib->ctx);
  return lib;
}

// The input split into at most `maxFiles` file buffers (each its size plus
// 4096 zero bytes, from the library's heap as the loader reads them).
TW_HARNESS inline void SplitFiles(RuntimeContext* ctx, const uint8_t* data, size_t size, uint32_t maxFiles, FileBuffer* files) {
  memset(files, 0, sizeof(FileBuffer) * libfmt::kMaxFiles);
  size_t start = 0;
  for (uint32_t i = 0; i < maxFiles && start <= size; ++i) {
    size_t end = size;
    if (i + 1 < maxFiles) {
      const void* hit = memmem(data + start, size - start, kFileMarker, kMarkerLength);
      if (hit != nullptr) end = (const uint8_t*)hit - data;
    }
    uint32_t n = (uint32_t)(end - start);
    files[i].data = (uint8_t*)MemAlloc0(ctx, n + libfmt::kSlack);
    Check(files[i].data != nullptr);
    if (n) memcpy(files[i].data, data + start, n);
    files[i].size = n;
    if (end == size) break;
    start = end + kMarkerLength;
  }
}

TW_HARNESS inline void FreeFiles(RuntimeContext* ctx, FileBuffer* files) {
  for (uint32_t i = 0; i < libfmt::kMaxFiles; ++i) MemFree(ctx, files[i].data);
}

TW_HARNESS inline bool InCode(const VirusLibrary* lib, uint32_t address) {
  uintptr_t start = (uintptr_t)lib->code;
  return address == 0 || (lib->code != nullptr && address >= start && address < start + lib->codeUsed);
}

// Multi-check or packer table: exactly `count` records filling `used` bytes.
TW_HARNESS inline void CheckMultiTable(const Area& a, uint32_t count) {
  Check(a.used <= a.capacity);
  uint32_t pos = 0;
  for (uint32_t i = 0; i < count; ++i) {
    Check(pos + 2 <= a.used);
    uint32_t size = libfmt::MultiRecordSize(a.data[pos + 1]);
    Check(size <= a.used - pos);
    pos += size;
  }
  Check(pos == a.used);
}

// What every load must leave, whatever the files said.
TW_HARNESS inline void CheckLibrary(const VirusLibrary* lib) {
  Check(lib->checksum.used <= lib->checksum.capacity);
  Check((uint64_t)lib->checksumCount * libfmt::kChecksumRecord == lib->checksum.used);
  CheckMultiTable(lib->multi, lib->multiCount);
  CheckMultiTable(lib->packer, lib->packerCount);
  Check(lib->userRecords.used <= lib->userRecords.capacity);
  Check(lib->userPaths.used <= lib->userPaths.capacity);
  Check((uint64_t)lib->userCount * 30 == lib->userRecords.used);
  Check(lib->codeUsed <= lib->codeSize);
  Check(lib->symbolCount <= libfmt::kSymbolPlaces);
  for (uint32_t s = 0; s < libfmt::kRoutineSlots; ++s) {
    Check(InCode(lib, lib->routines[s].check));
    Check(InCode(lib, lib->routines[s].repair));
  }
  for (uint32_t i = libfmt::kFirstLibrarySymbol; i < lib->symbolCount; ++i) Check(InCode(lib, lib->symbols[i].address));
  // Name runs: in record order, inside their packed list.
  const uint32_t counts[3] = {lib->checksumCount, lib->multiCount, lib->packerCount};
  for (uint32_t k = 0; k < 3; ++k) {
    uint32_t next = 0;
    Check(lib->nameRunCount[k] <= libfmt::kMaxFiles);
    for (uint32_t r = 0; r < lib->nameRunCount[k]; ++r) {
      const NameRun& run = lib->nameRuns[k][r];
      Check(run.firstRecord >= next && run.records <= counts[k] - run.firstRecord);
      Check(run.offset <= lib->namesSize[k] && run.length <= lib->namesSize[k] - run.offset);
      next = run.firstRecord + run.records;
    }
  }
  // Names: every lookup ends within 256 bytes.
  char name[300];
  for (uint32_t kind = 1; kind <= 3; ++kind) {
    uint32_t count = kind == 1 ? lib->checksumCount : kind == 2 ? lib->multiCount : lib->packerCount;
    for (uint32_t i = 0; i <= count && i < 64; ++i) {
      memset(name, 'X', sizeof name);
      LookupVirusName(lib, kind, i, name);
      Check(memchr(name, 0, 256) != nullptr && name[0] != 0);
    }
  }
}

// One input through one load pass: the input split into up to four files,
// the library reset, `pass` over the files, the files freed, the invariants
// checked, and the library reset again for the next input.
inline int RunPass(const uint8_t* data, size_t size, void (*pass)(VirusLibrary* lib, FileBuffer* files)) {
  RuntimeContext* ctx = Context();
  static VirusLibrary* lib = NewLibrary();
  FileBuffer files[libfmt::kMaxFiles];
  SplitFiles(ctx, data, size, 4, files);
  ResetLibrary(lib);
  pass(lib, files);
  FreeFiles(ctx, files);
  CheckLibrary(lib);
  ResetLibrary(lib);
  return 0;
}

}  // namespace libfuzz
