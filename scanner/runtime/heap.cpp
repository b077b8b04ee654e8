// The runtime's private heap and page-level virtual memory.
#include "scanner/runtime/internal.h"

namespace {

const SIZE_T kHeapReserve = 0x4000000;  // 64 MiB
const SIZE_T kHeapCommit = 0x1000;

}  // namespace

int RuntimeInit(RuntimeContext* ctx) {
  RTL_HEAP_PARAMETERS params;
  static_assert(sizeof(RTL_HEAP_PARAMETERS) == 48 || sizeof(void*) != 4, "heap parameter record is 48 bytes");
  memset(&params, 0, sizeof(params));
  params.Length = sizeof(params);
  // Serialised (no HEAP_NO_SERIALIZE): the key reader thread allocates too.
  // A failed creation leaves a null heap; every allocation then fails.
  ctx->heap = RtlCreateHeap(HEAP_GROWABLE, nullptr, kHeapReserve, kHeapCommit, nullptr, &params);
  return 1;
}

void* MemAlloc(RuntimeContext* ctx, uint32_t size) {
  if (ctx == nullptr || ctx->heap == nullptr) return nullptr;
  return RtlAllocateHeap(ctx->heap, 0, size);
}

void* MemAlloc0(RuntimeContext* ctx, uint32_t size) {
  if (ctx == nullptr || ctx->heap == nullptr) return nullptr;
  return RtlAllocateHeap(ctx->heap, HEAP_ZERO_MEMORY, size);
}

void* MemRealloc(RuntimeContext* ctx, void* p, uint32_t size) {
  // Like the Win32 heap: a null block is not a request for a new one.
  if (ctx == nullptr || ctx->heap == nullptr || p == nullptr) return nullptr;
  return RtlReAllocateHeap(ctx->heap, 0, p, size);
}

void MemFree(RuntimeContext* ctx, void* p) {
  if (ctx == nullptr || ctx->heap == nullptr || p == nullptr) return;
  RtlFreeHeap(ctx->heap, 0, p);
}

void* VmAlloc(RuntimeContext* ctx, void* address, uint32_t size, uint32_t allocationType, uint32_t protection) {
  PVOID base = address;
  SIZE_T region = size;
  NTSTATUS s = NtAllocateVirtualMemory(NtCurrentProcess(), &base, 0, &region, allocationType, protection);
  return NT_SUCCESS(s) ? base : nullptr;
}

int VmFree(RuntimeContext* ctx, void* address, uint32_t size, uint32_t freeType) {
  PVOID base = address;
  SIZE_T region = size;
  return NT_SUCCESS(NtFreeVirtualMemory(NtCurrentProcess(), &base, &region, freeType)) ? 1 : 0;
}
