// The 27 host services that library code calls (stdcall, CQEL object first),
// and their places in the symbol table.
//
// Each service realigns the stack (library code keeps only 4-byte
// alignment), tells the guard it is in host code (so the watchdog waits for
// it to return), and checks what the routine handed it before the runtime
// sees it: null pointers and ranges that wrap answer failure; every page of
// a buffer and every byte of a text is touched here first, so a pointer into
// unmapped memory faults in this file, where nothing is held, and never
// inside the runtime or the native-interface layer. Memory comes from the
// library's own routine heap (see routine_heap.h). The CQEL argument itself
// is not trusted: the engine is the one attached to the library.
#include "platform/guard/guard.h"
#include "scanner/library/host_bridge.h"
#include "scanner/library/library_internal.h"
#include "scanner/session/console.h"

// Drive queries live in the session; a scanner built without it answers
// failure.
uint32_t QueryDriveTypeAnsi(RuntimeContext* ctx, const char* root) __attribute__((weak));
uint32_t ListDrivesAnsi(RuntimeContext* ctx, char* buffer, uint32_t lengthBytes) __attribute__((weak));

namespace {

const uint32_t kTrackedLimit = 0x5000000;  // 80 MiB
const uint32_t kMaxTransfer = 0x40000000;
const uint32_t kMaxText = 32768;

struct HostScope {
  HostScope() { TwEnterHost(); }
  ~HostScope() { TwLeaveHost(); }
};

#define HOST extern "C" __attribute__((stdcall, force_align_arg_pointer, used))

RuntimeContext* Ctx() { return HostLibrary() ? HostLibrary()->ctx : nullptr; }
ScanEngine* Engine() { return HostLibrary() ? HostLibrary()->engine : nullptr; }

// Touches one byte of every page of [p, p + n): a bad buffer faults here.
bool ProbeRead(const void* p, uint32_t n) {
  if (n == 0) return true;
  uintptr_t a = (uintptr_t)p;
  if (p == nullptr || n > kMaxTransfer || a + n < a) return false;
  const volatile uint8_t* b = (const volatile uint8_t*)p;
  for (uint32_t i = 0; i < n; i += 4096 - (uint32_t)((a + i) & 4095)) (void)b[i];
  (void)b[n - 1];
  return true;
}

bool ProbeWrite(void* p, uint32_t n) {
  if (n == 0) return true;
  uintptr_t a = (uintptr_t)p;
  if (p == nullptr || n > kMaxTransfer || a + n < a) return false;
  volatile uint8_t* b = (volatile uint8_t*)p;
  for (uint32_t i = 0; i < n; i += 4096 - (uint32_t)((a + i) & 4095)) b[i] = b[i];
  b[n - 1] = b[n - 1];
  return true;
}

// A NUL-terminated text of at most kMaxText bytes.
bool ProbeText(const char* s) {
  if (s == nullptr) return false;
  for (uint32_t i = 0; i < kMaxText; ++i)
    if (((const volatile char*)s)[i] == 0) return true;
  return false;
}

bool ProbeWideText(const WCHAR* s) {
  if (s == nullptr) return false;
  for (uint32_t i = 0; i < kMaxText; ++i)
    if (((const volatile WCHAR*)s)[i] == 0) return true;
  return false;
}

HANDLE ScannedFile() { return Engine() ? EngineScannedFile(Engine()) : 0; }
HANDLE LayerFile() { return Engine() ? EngineLayerFile(Engine()) : 0; }
// The engine's own handles (current, second, parked, temporary): not a
// routine's to close through either close service.
bool EngineHandle(HANDLE h) { return EngineOwnsHandle(Engine(), h) != 0; }
bool Usable(HANDLE h) { return h != 0 && h != RT_INVALID_HANDLE; }

}  // namespace

// 0: seek the scanned file from its start.
HOST uint32_t HostScanSeek(void*, uint32_t position) {
  HostScope scope;
  HANDLE h = ScannedFile();
  if (!Usable(h)) return kInvalid32;
  return FileSeek(Ctx(), h, (int32_t)position, 0);
}

// 1
HOST uint32_t HostScanRead(void*, void* buffer, uint32_t count) {
  HostScope scope;
  HANDLE h = ScannedFile();
  if (!Usable(h) || !ProbeWrite(buffer, count)) return 0;
  return FileRead(Ctx(), h, buffer, count);
}

// 2
HOST uint32_t HostScanWrite(void*, const void* buffer, uint32_t count) {
  HostScope scope;
  HANDLE h = ScannedFile();
  if (!Usable(h) || !ProbeRead(buffer, count)) return 0;
  return FileWrite(Ctx(), h, buffer, count);
}

// 3: move by count from the current position and end the file there.
HOST uint32_t HostScanTruncate(void*, int32_t count) {
  HostScope scope;
  HANDLE h = ScannedFile();
  if (!Usable(h)) return 0;
  return (uint32_t)FileTruncate(Ctx(), h, count);
}

// 4: memory the engine frees after the file.
HOST void* HostTrackedAlloc(void*, uint32_t size) {
  HostScope scope;
  VirusLibrary* lib = HostLibrary();
  if (lib == nullptr || size > kTrackedLimit || Engine() == nullptr) return nullptr;
  void* p = RoutineAlloc(&lib->heap, size);
  if (p == nullptr) return nullptr;
  if (!EngineTrackBlock(Engine(), p)) {
    RoutineFree(&lib->heap, p);
    return nullptr;
  }
  RoutineSetTracked(&lib->heap, p, 1);
  return p;
}

// 5
HOST void HostTrackedFree(void*, void* block) {
  HostScope scope;
  VirusLibrary* lib = HostLibrary();
  if (lib == nullptr || block == nullptr || Engine() == nullptr) return;
  if (RoutineIsTracked(&lib->heap, block) && EngineUntrackBlock(Engine(), block)) RoutineFree(&lib->heap, block);
}

// 6
HOST void* HostMemAlloc(void*, uint32_t size) {
  HostScope scope;
  VirusLibrary* lib = HostLibrary();
  return lib ? RoutineAlloc(&lib->heap, size) : nullptr;
}

// 7: a tracked block freed here leaves the engine's list too, so the engine
// never frees a later block that reuses its address.
HOST void HostMemFree(void*, void* block) {
  HostScope scope;
  VirusLibrary* lib = HostLibrary();
  if (lib == nullptr || block == nullptr) return;
  if (RoutineIsTracked(&lib->heap, block) && Engine() != nullptr) EngineUntrackBlock(Engine(), block);
  RoutineFree(&lib->heap, block);
}

// 8: takes nothing from the stack.
HOST void HostNop() {}

// 9
HOST void* HostMemRealloc(void*, void* block, uint32_t size) {
  HostScope scope;
  VirusLibrary* lib = HostLibrary();
  if (lib == nullptr || block == nullptr) return nullptr;
  int tracked = RoutineIsTracked(&lib->heap, block);
  void* fresh = RoutineRealloc(&lib->heap, block, size);
  if (fresh != nullptr && fresh != block && tracked && Engine() != nullptr) {
    // The engine's list follows the block to its new place.
    EngineUntrackBlock(Engine(), block);
    if (EngineTrackBlock(Engine(), fresh)) {
      RoutineSetTracked(&lib->heap, fresh, 1);
    } else {
      RoutineSetTracked(&lib->heap, fresh, 0);
    }
  }
  return fresh;
}

// 10: origin 0 start, 1 current, 2 end.
HOST uint32_t HostLayerSeek(void*, int32_t position, uint32_t origin) {
  HostScope scope;
  HANDLE h = LayerFile();
  if (!Usable(h) || origin > 2) return kInvalid32;
  return FileSeek(Ctx(), h, position, origin);
}

// 11
HOST uint32_t HostLayerRead(void*, void* buffer, uint32_t count) {
  HostScope scope;
  HANDLE h = LayerFile();
  if (!Usable(h) || !ProbeWrite(buffer, count)) return 0;
  return FileRead(Ctx(), h, buffer, count);
}

// 12: 0 on success, 1 on failure.
HOST uint32_t HostCopyLayerOverFile(void*) {
  HostScope scope;
  return Engine() != nullptr && EngineCopyLayerOverFile(Engine()) ? 0 : 1;
}

// 13
HOST uint32_t HostFileRead(void*, HANDLE h, void* buffer, uint32_t count) {
  HostScope scope;
  if (!Usable(h) || !ProbeWrite(buffer, count) || Ctx() == nullptr) return 0;
  return FileRead(Ctx(), h, buffer, count);
}

// 14: the engine's own handles (current, second, and those parked under an
// unpacked layer) are not the routine's to close.
HOST void HostFileClose(void*, HANDLE h) {
  HostScope scope;
  if (!Usable(h) || Ctx() == nullptr || EngineHandle(h)) return;
  EngineUntrackHandle(Engine(), h);
  FileClose(Ctx(), h);
}

// 15
HOST uint32_t HostFileSize(void*, HANDLE h) {
  HostScope scope;
  if (!Usable(h) || Ctx() == nullptr) return kInvalid32;
  return FileSize(Ctx(), h);
}

// 16: the handle or 0.
HOST HANDLE HostFileOpen(void*, const char* path, uint32_t access, uint32_t disposition) {
  HostScope scope;
  if (!ProbeText(path) || Ctx() == nullptr) return 0;
  HANDLE h = FileOpen(Ctx(), path, access, disposition);
  if (h == RT_INVALID_HANDLE) return 0;
  // Registered so that a fault in this pass does not leave it open for the
  // run (beyond 64 at once it is simply not registered).
  EngineTrackHandle(Engine(), h);
  return h;
}

// 17
HOST uint32_t HostDriveType(void*, const char* root) {
  HostScope scope;
  if (!ProbeText(root) || Ctx() == nullptr || QueryDriveTypeAnsi == nullptr) return 0;
  return QueryDriveTypeAnsi(Ctx(), root);
}

// 18
HOST uint32_t HostListDrives(void*, uint32_t capacity, char* buffer) {
  HostScope scope;
  if (!ProbeWrite(buffer, capacity) || Ctx() == nullptr || ListDrivesAnsi == nullptr) return 0;
  return ListDrivesAnsi(Ctx(), buffer, capacity);
}

// 19: code 1 asks for the system sweep.
HOST uint32_t HostRequestSweep(void*, uint32_t code) {
  HostScope scope;
  if (code != 1) return code - 1;
  return Engine() != nullptr && EngineRequestSweep(Engine()) ? 1 : 0;
}

// 20
HOST uint32_t HostAnsiToWide(void*, const char* text, WCHAR* buffer, uint32_t capacityBytes) {
  HostScope scope;
  if (!ProbeText(text) || !ProbeWrite(buffer, capacityBytes) || capacityBytes < 2 || Ctx() == nullptr) return 0;
  return (uint32_t)AnsiToWide(Ctx(), text, buffer, capacityBytes);
}

// 21
HOST uint32_t HostWideToAnsi(void*, const WCHAR* text, char* buffer, uint32_t capacityBytes) {
  HostScope scope;
  if (!ProbeWideText(text) || !ProbeWrite(buffer, capacityBytes) || capacityBytes < 1 || Ctx() == nullptr) return 0;
  return (uint32_t)WideToAnsi(Ctx(), text, buffer, capacityBytes);
}

// Registry services answer Windows error codes.
const uint32_t kErrorInvalidParameter = 87;
const uint32_t kErrorInvalidHandle = 6;

// 22
HOST uint32_t HostRegOpen(void*, HKEY key, const char* subkey, HKEY* out) {
  HostScope scope;
  if ((subkey != nullptr && !ProbeText(subkey)) || !ProbeWrite(out, sizeof *out) || Ctx() == nullptr)
    return kErrorInvalidParameter;
  return RegOpen(Ctx(), key, subkey, out);
}

// 23
HOST uint32_t HostRegSetValue(void*, HKEY key, const char* name, uint32_t reserved, uint32_t type, const void* data,
                              uint32_t size) {
  HostScope scope;
  if ((name != nullptr && !ProbeText(name)) || (size != 0 && !ProbeRead(data, size)) || Ctx() == nullptr)
    return kErrorInvalidParameter;
  return RegSetValue(Ctx(), key, name, reserved, type, data, size);
}

// 24: closes through the native close, which takes any handle; the
// engine's own file handles are refused here as by service 14, and a file a
// routine opened is no longer its to track.
HOST uint32_t HostRegClose(void*, HKEY key) {
  HostScope scope;
  if (Ctx() == nullptr) return kErrorInvalidParameter;
  HANDLE h = (HANDLE)key;
  if (EngineHandle(h)) return kErrorInvalidHandle;
  EngineUntrackHandle(Engine(), h);
  return RegClose(Ctx(), key);
}

// 25
HOST uint32_t HostRegDeleteValue(void*, HKEY key, const char* name) {
  HostScope scope;
  if ((name != nullptr && !ProbeText(name)) || Ctx() == nullptr) return kErrorInvalidParameter;
  return RegDeleteValue(Ctx(), key, name);
}

// 26
HOST uint32_t HostRegQueryValue(void*, HKEY key, const char* name, uint32_t* reserved, uint32_t* type, void* data,
                                uint32_t* size) {
  HostScope scope;
  if ((name != nullptr && !ProbeText(name)) || (reserved != nullptr && !ProbeWrite(reserved, 4)) ||
      (type != nullptr && !ProbeWrite(type, 4)) || (size != nullptr && !ProbeWrite(size, 4)) || Ctx() == nullptr)
    return kErrorInvalidParameter;
  if (data != nullptr && (size == nullptr || !ProbeWrite(data, *size))) return kErrorInvalidParameter;
  return RegQueryValue(Ctx(), key, name, reserved, type, data, size);
}

void RegisterHostServices(VirusLibrary* lib) {
  const uint32_t addresses[libfmt::kHostServiceCount] = {
      (uint32_t)(uintptr_t)&HostScanSeek,       (uint32_t)(uintptr_t)&HostScanRead,
      (uint32_t)(uintptr_t)&HostScanWrite,      (uint32_t)(uintptr_t)&HostScanTruncate,
      (uint32_t)(uintptr_t)&HostTrackedAlloc,   (uint32_t)(uintptr_t)&HostTrackedFree,
      (uint32_t)(uintptr_t)&HostMemAlloc,       (uint32_t)(uintptr_t)&HostMemFree,
      (uint32_t)(uintptr_t)&HostNop,            (uint32_t)(uintptr_t)&HostMemRealloc,
      (uint32_t)(uintptr_t)&HostLayerSeek,      (uint32_t)(uintptr_t)&HostLayerRead,
      (uint32_t)(uintptr_t)&HostCopyLayerOverFile, (uint32_t)(uintptr_t)&HostFileRead,
      (uint32_t)(uintptr_t)&HostFileClose,      (uint32_t)(uintptr_t)&HostFileSize,
      (uint32_t)(uintptr_t)&HostFileOpen,       (uint32_t)(uintptr_t)&HostDriveType,
      (uint32_t)(uintptr_t)&HostListDrives,     (uint32_t)(uintptr_t)&HostRequestSweep,
      (uint32_t)(uintptr_t)&HostAnsiToWide,     (uint32_t)(uintptr_t)&HostWideToAnsi,
      (uint32_t)(uintptr_t)&HostRegOpen,        (uint32_t)(uintptr_t)&HostRegSetValue,
      (uint32_t)(uintptr_t)&HostRegClose,       (uint32_t)(uintptr_t)&HostRegDeleteValue,
      (uint32_t)(uintptr_t)&HostRegQueryValue,
  };
  SymbolReset(lib, 0);
  for (uint32_t i = 0; i < libfmt::kHostServiceCount; ++i) {
    lib->symbols[i].key = libfmt::kHostServiceKeys[i];
    lib->symbols[i].address = addresses[i];
  }
  lib->symbolCount = libfmt::kHostServiceCount;
  SymbolReset(lib, libfmt::kHostServiceCount);
}
