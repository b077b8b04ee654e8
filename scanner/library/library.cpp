// The VirusLibrary object: creation, the load of both passes, read access
// for the engine, virus names, release.
#include <string.h>

#include "platform/guard/guard.h"
#include "scanner/library/library_internal.h"

namespace {

VirusLibrary* g_hostLibrary;

void* CodecAlloc(void* opaque, uint32_t size) { return MemAlloc((RuntimeContext*)opaque, size); }
void CodecFree(void* opaque, void* p) { MemFree((RuntimeContext*)opaque, p); }

void FreeArea(RuntimeContext* ctx, Area* a) {
  MemFree(ctx, a->data);
  a->data = nullptr;
  a->used = a->capacity = 0;
}

void CopyText(char* out, const char* text) {
  uint32_t i = 0;
  for (; text[i] != 0 && i < 255; ++i) out[i] = text[i];
  out[i] = 0;
}

}  // namespace

VirusLibrary* HostLibrary() { return g_hostLibrary; }
void SetHostLibrary(VirusLibrary* lib) { g_hostLibrary = lib; }

CodecAllocator LibraryAllocator(VirusLibrary* lib) {
  CodecAllocator a;
  a.alloc = CodecAlloc;
  a.free = CodecFree;
  a.opaque = lib->ctx;
  return a;
}

VirusLibrary* CreateLibrary(RuntimeContext* ctx) {
  VirusLibrary* lib = (VirusLibrary*)MemAlloc0(ctx, sizeof(VirusLibrary));
  if (lib == nullptr) return nullptr;
  lib->ctx = ctx;
  RoutineHeapInit(&lib->heap, ctx);
  return lib;
}

void AttachEngine(VirusLibrary* lib, ScanEngine* engine) {
  if (lib != nullptr) lib->engine = engine;
}

void ResetLibrary(VirusLibrary* lib) {
  RuntimeContext* ctx = lib->ctx;
  FreeArea(ctx, &lib->checksum);
  FreeArea(ctx, &lib->multi);
  FreeArea(ctx, &lib->packer);
  FreeArea(ctx, &lib->userRecords);
  FreeArea(ctx, &lib->userPaths);
  for (int k = 0; k < 3; ++k) {
    MemFree(ctx, lib->names[k]);
    lib->names[k] = nullptr;
    lib->namesSize[k] = 0;
    lib->nameRunCount[k] = 0;
  }
  if (lib->code != nullptr) VmFree(ctx, lib->code, 0, MEM_RELEASE);
  lib->code = nullptr;
  lib->codeSize = lib->codeUsed = 0;
  lib->checksumCount = lib->multiCount = lib->packerCount = lib->userCount = 0;
  memset(lib->routines, 0, sizeof lib->routines);
  memset(lib->slotCounter, 0, sizeof lib->slotCounter);
  SymbolReset(lib, 0);
  RoutineHeapRelease(&lib->heap);
  lib->loaded = 0;
}

int LoadLibraryFiles(VirusLibrary* lib, const char* folder, uint32_t libraryMode) {
  if (lib == nullptr || folder == nullptr) return 0;
  ResetLibrary(lib);
  SetHostLibrary(lib);
  RegisterHostServices(lib);
  int base = LoadBaseFiles(lib, folder, libraryMode);
  int user = LoadUserFiles(lib, folder);
  lib->loaded = base || user;
  return lib->loaded;
}

void GetLibraryTables(const VirusLibrary* lib, LibraryTables* out) {
  memset(out, 0, sizeof *out);
  if (lib == nullptr) return;
  out->checksum = lib->checksum.data;
  out->checksumCount = lib->checksumCount;
  out->multi = lib->multi.data;
  out->multiCount = lib->multiCount;
  out->multiBytes = lib->multi.used;
  out->packer = lib->packer.data;
  out->packerCount = lib->packerCount;
  out->packerBytes = lib->packer.used;
  out->userDigests = lib->userRecords.data;
  out->userCount = lib->userCount;
}

uint32_t RoutineEntry(const VirusLibrary* lib, uint32_t slot, int which) {
  if (lib == nullptr || slot >= libfmt::kNumberedSlots) return 0;
  return which ? lib->routines[slot].repair : lib->routines[slot].check;
}

uint32_t SpecialEntryAddress(const VirusLibrary* lib, SpecialEntry entry) {
  uint32_t e = (uint32_t)entry;
  if (lib == nullptr || e >= libfmt::kSpecialCount) return 0;
  const RoutineSlot& s = lib->routines[libfmt::kNumberedSlots + e / 2];
  return e % 2 ? s.repair : s.check;
}

void LookupVirusName(const VirusLibrary* lib, uint32_t kind, uint32_t index, char* out) {
  if (out == nullptr) return;
  out[0] = 0;
  if (kind == kKindUser) {
    CopyText(out, "Virus.User");
    return;
  }
  if (kind == kKindHeuristic) {
    CopyText(out, "Virus.USB.Heur");
    return;
  }
  if (lib != nullptr && kind >= 1 && kind <= 3 && lib->names[kind - 1] != nullptr) {
    // The run holding the record: the last one starting at or before it.
    const NameRun* runs = lib->nameRuns[kind - 1];
    uint32_t low = 0, high = lib->nameRunCount[kind - 1];
    while (high - low > 1) {
      uint32_t mid = low + (high - low) / 2;
      if (runs[mid].firstRecord <= index) {
        low = mid;
      } else {
        high = mid;
      }
    }
    if (high != 0 && index >= runs[low].firstRecord && index - runs[low].firstRecord < runs[low].records)
      LzssFindLine(lib->names[kind - 1] + runs[low].offset, runs[low].length, index - runs[low].firstRecord, out, 256);
  }
  if (out[0] == 0) CopyText(out, "Virus.Unknown");
}

void ReleaseLibrary(VirusLibrary* lib) {
  if (lib == nullptr) return;
  ResetLibrary(lib);
  if (HostLibrary() == lib) SetHostLibrary(nullptr);
  MemFree(lib->ctx, lib);
}

void FreeRoutineBlock(VirusLibrary* lib, void* block) {
  if (lib == nullptr || block == nullptr) return;
  RoutineFree(&lib->heap, block);
}
