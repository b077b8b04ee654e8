// Heaps (RtlCreateHeap and friends, over malloc with a record of every block
// so that a foreign or freed pointer is refused instead of corrupting memory)
// and virtual memory (NtAllocateVirtualMemory and friends, over mmap).
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <map>
#include <set>
#include <unordered_map>

#include "platform/nt/internal.h"

namespace tw {
namespace nt {

namespace {

struct Heap {
  ULONG flags = 0;
  size_t limit = 0;  // 0: growable without limit
  std::mutex m;
  std::unordered_map<void*, size_t> blocks;
  size_t total = 0;
};

struct Heaps {
  std::mutex m;
  std::set<Heap*> all;
  Heap* process = nullptr;
};

Heaps& H() {
  static Heaps* h = new Heaps;
  return *h;
}

Heap* Valid(PVOID handle) {
  Heaps& h = H();
  std::lock_guard<std::mutex> g(h.m);
  auto it = h.all.find(static_cast<Heap*>(handle));
  return it == h.all.end() ? nullptr : *it;
}

Heap* NewHeap(ULONG flags, size_t limit) {
  Heap* heap = new Heap;
  heap->flags = flags;
  heap->limit = limit;
  Heaps& h = H();
  std::lock_guard<std::mutex> g(h.m);
  h.all.insert(heap);
  return heap;
}

}  // namespace

}  // namespace nt
}  // namespace tw

using namespace tw;
using namespace tw::nt;

extern "C" PVOID RtlCreateHeap(ULONG Flags, PVOID HeapBase, SIZE_T ReserveSize, SIZE_T CommitSize, PVOID Lock,
                               PRTL_HEAP_PARAMETERS Parameters) {
  NTSTATUS ignored;
  if (gFaultsArmed && FaultHit("RtlCreateHeap", &ignored)) return nullptr;
  // Heaps in caller-supplied memory are not supported.
  if (HeapBase != nullptr) return nullptr;
  size_t limit = (Flags & HEAP_GROWABLE) ? 0 : (ReserveSize != 0 ? ReserveSize : 0x100000);
  return NewHeap(Flags, limit);
}

extern "C" PVOID RtlDestroyHeap(PVOID HeapHandle) {
  Heap* heap = Valid(HeapHandle);
  if (heap == nullptr) return HeapHandle;
  Heaps& h = H();
  {
    std::lock_guard<std::mutex> g(h.m);
    if (heap == h.process) return HeapHandle;  // the process heap stays
    h.all.erase(heap);
  }
  for (auto& b : heap->blocks) free(b.first);
  delete heap;
  return nullptr;
}

extern "C" PVOID RtlProcessHeap(void) {
  Heaps& h = H();
  {
    std::lock_guard<std::mutex> g(h.m);
    if (h.process != nullptr) return h.process;
  }
  Heap* heap = NewHeap(HEAP_GROWABLE, 0);
  std::lock_guard<std::mutex> g(h.m);
  if (h.process == nullptr) {
    h.process = heap;
  } else {
    h.all.erase(heap);
    delete heap;
  }
  return h.process;
}

extern "C" PVOID RtlAllocateHeap(PVOID HeapHandle, ULONG Flags, SIZE_T Size) {
  NTSTATUS ignored;
  if (gFaultsArmed && FaultHit("RtlAllocateHeap", &ignored)) return nullptr;
  Heap* heap = Valid(HeapHandle);
  if (heap == nullptr || Size > 0x7FFF0000u) return nullptr;
  std::lock_guard<std::mutex> g(heap->m);
  if (heap->limit != 0 && (Size > heap->limit || heap->total > heap->limit - Size)) return nullptr;
  void* p = (Flags | heap->flags) & HEAP_ZERO_MEMORY ? calloc(1, Size ? Size : 1) : malloc(Size ? Size : 1);
  if (p == nullptr) return nullptr;
  heap->blocks[p] = Size;
  heap->total += Size;
  return p;
}

extern "C" PVOID RtlReAllocateHeap(PVOID HeapHandle, ULONG Flags, PVOID Address, SIZE_T Size) {
  NTSTATUS ignored;
  if (gFaultsArmed && FaultHit("RtlReAllocateHeap", &ignored)) return nullptr;
  Heap* heap = Valid(HeapHandle);
  if (heap == nullptr || Address == nullptr || Size > 0x7FFF0000u) return nullptr;
  std::lock_guard<std::mutex> g(heap->m);
  auto it = heap->blocks.find(Address);
  if (it == heap->blocks.end()) return nullptr;
  size_t old = it->second;
  if (heap->limit != 0 && Size > old && heap->total - old > heap->limit - Size) return nullptr;
  void* p = realloc(Address, Size ? Size : 1);
  if (p == nullptr) return nullptr;  // the old block stays valid
  heap->blocks.erase(it);
  heap->blocks[p] = Size;
  heap->total = heap->total - old + Size;
  if (((Flags | heap->flags) & HEAP_ZERO_MEMORY) && Size > old) memset(static_cast<char*>(p) + old, 0, Size - old);
  return p;
}

extern "C" BOOLEAN RtlFreeHeap(PVOID HeapHandle, ULONG Flags, PVOID Address) {
  if (Address == nullptr) return 1;
  Heap* heap = Valid(HeapHandle);
  if (heap == nullptr) return 0;
  std::lock_guard<std::mutex> g(heap->m);
  auto it = heap->blocks.find(Address);
  if (it == heap->blocks.end()) return 0;
  heap->total -= it->second;
  heap->blocks.erase(it);
  free(Address);
  return 1;
}

// ---- virtual memory

namespace {

struct Region {
  size_t size;
  std::vector<ULONG> protect;  // per page; 0 = reserved, not committed
};

struct Vm {
  std::mutex m;
  std::map<uintptr_t, Region> regions;
};

Vm& V() {
  static Vm* v = new Vm;
  return *v;
}

size_t PageSize() {
  static size_t s = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return s;
}

constexpr uintptr_t kGranularity = 0x10000;

bool HostProtection(ULONG protect, int* prot) {
  switch (protect & 0xFF) {
    case PAGE_NOACCESS: *prot = PROT_NONE; return true;
    case PAGE_READONLY: *prot = PROT_READ; return true;
    case PAGE_READWRITE:
    case 0x08: *prot = PROT_READ | PROT_WRITE; return true;  // PAGE_WRITECOPY
    case PAGE_EXECUTE: *prot = PROT_EXEC | PROT_READ; return true;
    case PAGE_EXECUTE_READ: *prot = PROT_EXEC | PROT_READ; return true;
    case PAGE_EXECUTE_READWRITE:
    case 0x80: *prot = PROT_EXEC | PROT_READ | PROT_WRITE; return true;  // PAGE_EXECUTE_WRITECOPY
    default: return false;
  }
}

// The region holding [addr, addr + size), or regions.end().
std::map<uintptr_t, Region>::iterator Find(Vm& v, uintptr_t addr, size_t size) {
  auto it = v.regions.upper_bound(addr);
  if (it == v.regions.begin()) return v.regions.end();
  --it;
  if (addr < it->first || addr - it->first > it->second.size || size > it->second.size - (addr - it->first)) {
    return v.regions.end();
  }
  return it;
}

}  // namespace

extern "C" NTSTATUS NtAllocateVirtualMemory(HANDLE ProcessHandle, PVOID* BaseAddress, ULONG_PTR ZeroBits,
                                            SIZE_T* RegionSize, ULONG AllocationType, ULONG Protect) {
  TW_FAULT("NtAllocateVirtualMemory");
  if (ProcessHandle != NtCurrentProcess()) return STATUS_INVALID_HANDLE;
  if (BaseAddress == nullptr || RegionSize == nullptr || *RegionSize == 0) return STATUS_INVALID_PARAMETER;
  if (!(AllocationType & (MEM_COMMIT | MEM_RESERVE)) || (AllocationType & ~(MEM_COMMIT | MEM_RESERVE | 0x100000))) {
    return STATUS_INVALID_PARAMETER;  // 0x100000: MEM_TOP_DOWN, a hint
  }
  int prot;
  if (!HostProtection(Protect, &prot)) return TW_STATUS_INVALID_PAGE_PROTECTION;
  size_t page = PageSize();
  uintptr_t base = reinterpret_cast<uintptr_t>(*BaseAddress);
  if (*RegionSize > SIZE_MAX - page) return STATUS_INVALID_PARAMETER;
  Vm& v = V();
  std::lock_guard<std::mutex> g(v.m);
  if (AllocationType & MEM_RESERVE) {
    // A new region: 64 KiB aligned base, whole pages.
    uintptr_t start = base & ~(kGranularity - 1);
    size_t end = base + *RegionSize;
    if (base != 0 && end < base) return STATUS_INVALID_PARAMETER;
    size_t size = base == 0 ? (*RegionSize + page - 1) & ~(page - 1) : ((end + page - 1) & ~(page - 1)) - start;
    bool commit = (AllocationType & MEM_COMMIT) != 0;
    int flags = MAP_PRIVATE | MAP_ANONYMOUS | (commit ? 0 : MAP_NORESERVE);
    void* want = base == 0 ? nullptr : reinterpret_cast<void*>(start);
    void* p;
    if (want != nullptr) {
      p = mmap(want, size, commit ? prot : PROT_NONE, flags | MAP_FIXED_NOREPLACE, -1, 0);
      if (p == MAP_FAILED) return TW_STATUS_CONFLICTING_ADDRESSES;
      if (p != want) {
        munmap(p, size);
        return TW_STATUS_CONFLICTING_ADDRESSES;
      }
    } else {
      // Reservations start on 64 KiB boundaries: map more, keep the aligned part.
      if (size > SIZE_MAX - kGranularity) return STATUS_NO_MEMORY;
      size_t span = size + kGranularity;
      void* raw = mmap(nullptr, span, commit ? prot : PROT_NONE, flags, -1, 0);
      if (raw == MAP_FAILED) return STATUS_NO_MEMORY;
      uintptr_t r = reinterpret_cast<uintptr_t>(raw);
      uintptr_t aligned = (r + kGranularity - 1) & ~(kGranularity - 1);
      if (aligned > r) munmap(raw, aligned - r);
      if (r + span > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), r + span - (aligned + size));
      p = reinterpret_cast<void*>(aligned);
    }
    Region r;
    r.size = size;
    r.protect.assign(size / page, commit ? Protect : 0);
    v.regions[reinterpret_cast<uintptr_t>(p)] = std::move(r);
    *BaseAddress = p;
    *RegionSize = size;
    return STATUS_SUCCESS;
  }
  // Commit inside a reserved region.
  uintptr_t start = base & ~(page - 1);
  if (base == 0) return STATUS_INVALID_PARAMETER;
  size_t end = base + *RegionSize;
  if (end < base) return STATUS_INVALID_PARAMETER;
  size_t size = ((end + page - 1) & ~(page - 1)) - start;
  auto it = Find(v, start, size);
  if (it == v.regions.end()) return TW_STATUS_CONFLICTING_ADDRESSES;
  if (mprotect(reinterpret_cast<void*>(start), size, prot) != 0) return STATUS_NO_MEMORY;
  size_t first = (start - it->first) / page;
  for (size_t i = 0; i < size / page; ++i) it->second.protect[first + i] = Protect;
  *BaseAddress = reinterpret_cast<PVOID>(start);
  *RegionSize = size;
  return STATUS_SUCCESS;
}

extern "C" NTSTATUS NtFreeVirtualMemory(HANDLE ProcessHandle, PVOID* BaseAddress, SIZE_T* RegionSize,
                                        ULONG FreeType) {
  TW_FAULT("NtFreeVirtualMemory");
  if (ProcessHandle != NtCurrentProcess()) return STATUS_INVALID_HANDLE;
  if (BaseAddress == nullptr || RegionSize == nullptr) return STATUS_INVALID_PARAMETER;
  if (FreeType != MEM_RELEASE && FreeType != MEM_DECOMMIT) return STATUS_INVALID_PARAMETER;
  size_t page = PageSize();
  uintptr_t base = reinterpret_cast<uintptr_t>(*BaseAddress);
  Vm& v = V();
  std::lock_guard<std::mutex> g(v.m);
  if (FreeType == MEM_RELEASE) {
    auto it = v.regions.find(base);
    if (it == v.regions.end()) return TW_STATUS_MEMORY_NOT_ALLOCATED;
    if (*RegionSize != 0 && *RegionSize != it->second.size) return STATUS_INVALID_PARAMETER;
    size_t size = it->second.size;
    munmap(reinterpret_cast<void*>(base), size);
    v.regions.erase(it);
    *RegionSize = size;
    return STATUS_SUCCESS;
  }
  uintptr_t start = base & ~(page - 1);
  auto region = Find(v, start, 0);
  if (region == v.regions.end()) return TW_STATUS_MEMORY_NOT_ALLOCATED;
  size_t size = *RegionSize == 0 ? region->second.size - (start - region->first)
                                 : ((base + *RegionSize + page - 1) & ~(page - 1)) - start;
  if (Find(v, start, size) == v.regions.end()) return STATUS_INVALID_PARAMETER;
  // Decommitted pages read back as zeros when committed again.
  mmap(reinterpret_cast<void*>(start), size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | MAP_NORESERVE, -1,
       0);
  size_t first = (start - region->first) / page;
  for (size_t i = 0; i < size / page; ++i) region->second.protect[first + i] = 0;
  *BaseAddress = reinterpret_cast<PVOID>(start);
  *RegionSize = size;
  return STATUS_SUCCESS;
}

extern "C" NTSTATUS NtProtectVirtualMemory(HANDLE ProcessHandle, PVOID* BaseAddress, SIZE_T* RegionSize,
                                           ULONG NewProtect, ULONG* OldProtect) {
  TW_FAULT("NtProtectVirtualMemory");
  if (ProcessHandle != NtCurrentProcess()) return STATUS_INVALID_HANDLE;
  if (BaseAddress == nullptr || RegionSize == nullptr || OldProtect == nullptr) return STATUS_INVALID_PARAMETER;
  int prot;
  if (!HostProtection(NewProtect, &prot)) return TW_STATUS_INVALID_PAGE_PROTECTION;
  size_t page = PageSize();
  uintptr_t base = reinterpret_cast<uintptr_t>(*BaseAddress);
  uintptr_t start = base & ~(page - 1);
  size_t end = base + *RegionSize;
  if (end < base) return STATUS_INVALID_PARAMETER;
  size_t size = ((end + page - 1) & ~(page - 1)) - start;
  if (size == 0) size = page;
  Vm& v = V();
  std::lock_guard<std::mutex> g(v.m);
  auto it = Find(v, start, size);
  if (it == v.regions.end()) return TW_STATUS_MEMORY_NOT_ALLOCATED;
  size_t first = (start - it->first) / page;
  for (size_t i = 0; i < size / page; ++i) {
    if (it->second.protect[first + i] == 0) return STATUS_INVALID_PARAMETER;  // not committed (Windows: NOT_COMMITTED)
  }
  if (mprotect(reinterpret_cast<void*>(start), size, prot) != 0) return STATUS_INVALID_PARAMETER;
  *OldProtect = it->second.protect[first];
  for (size_t i = 0; i < size / page; ++i) it->second.protect[first + i] = NewProtect;
  *BaseAddress = reinterpret_cast<PVOID>(start);
  *RegionSize = size;
  return STATUS_SUCCESS;
}
