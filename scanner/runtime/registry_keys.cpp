// Registry keys with Win32 semantics: the predefined roots (opened once and
// kept for the run), opening subkeys, closing.
#include "scanner/runtime/internal.h"

namespace {

const uint32_t kRootCount = 6;
const uint32_t kPerformanceRoot = 4;
const HKEY kPredefinedBase = 0x80000000u;

const WCHAR kClassesRootPath[] = u"\\Registry\\Machine\\Software\\CLASSES";
const WCHAR kLocalMachinePath[] = u"\\Registry\\Machine";
const WCHAR kUsersPath[] = u"\\Registry\\User";
const WCHAR kCurrentConfigPath[] = u"\\Registry\\Machine\\System\\CurrentControlSet\\Hardware Profiles\\Current";

// The predefined-key table and its lock. Zero-initialised data only: the
// lock is set up on first use (state 0 none, 1 being set up, 2 ready).
HANDLE gRoots[kRootCount];
RTL_CRITICAL_SECTION gRootLock;
int gRootLockState;

bool AcquireRootLock() {
  for (;;) {
    int state = __atomic_load_n(&gRootLockState, __ATOMIC_ACQUIRE);
    if (state == 2) break;
    int expected = 0;
    if (state == 0 && __atomic_compare_exchange_n(&gRootLockState, &expected, 1, false, __ATOMIC_ACQ_REL,
                                                  __ATOMIC_ACQUIRE)) {
      if (!NT_SUCCESS(RtlInitializeCriticalSection(&gRootLock))) {
        __atomic_store_n(&gRootLockState, 0, __ATOMIC_RELEASE);
        return false;
      }
      __atomic_store_n(&gRootLockState, 2, __ATOMIC_RELEASE);
      break;
    }
    // Another thread is setting the lock up; wait a moment.
    LARGE_INTEGER delay;
    delay.QuadPart = -1000;
    NtDelayExecution(0, &delay);
  }
  RtlEnterCriticalSection(&gRootLock);
  return true;
}

NTSTATUS OpenRoot(uint32_t index, HANDLE* handle) {
  const WCHAR* path = nullptr;
  switch (index) {
    case 0: path = kClassesRootPath; break;
    case 1: return RtlOpenCurrentUser(MAXIMUM_ALLOWED, handle);
    case 2: path = kLocalMachinePath; break;
    case 3: path = kUsersPath; break;
    case 5: path = kCurrentConfigPath; break;
    default: return STATUS_INVALID_PARAMETER;
  }
  UNICODE_STRING name;
  rt::MakeUnicodeString(&name, path);
  OBJECT_ATTRIBUTES oa;
  rt::InitAttributes(&oa, &name, OBJ_CASE_INSENSITIVE, nullptr);
  return NtOpenKey(handle, MAXIMUM_ALLOWED, &oa);
}

bool IsPredefined(HKEY key) { return (key & 0xF0000000u) == kPredefinedBase; }

HANDLE ToHandle(HKEY key) { return (HANDLE)(uintptr_t)(key & ~1u); }

HKEY ToKey(HANDLE h) { return (HKEY)(uintptr_t)h; }

}  // namespace

namespace rt {

uint32_t MapKey(HKEY key, HANDLE* handle) {
  if (!IsPredefined(key)) {
    *handle = ToHandle(key);
    return kErrorSuccess;
  }
  uint32_t index = key & 0x0FFFFFFFu;
  if (index >= kRootCount || index == kPerformanceRoot) return kErrorInvalidParameter;
  if (!AcquireRootLock()) return kErrorNotEnoughMemory;
  uint32_t result = kErrorSuccess;
  if (gRoots[index] == nullptr) {
    HANDLE opened = nullptr;
    NTSTATUS s = OpenRoot(index, &opened);
    // A root that fails to open is not stored: the next use tries again.
    if (NT_SUCCESS(s) && opened != nullptr)
      gRoots[index] = opened;
    else
      result = ToError(NT_SUCCESS(s) ? STATUS_UNSUCCESSFUL : s);
  }
  *handle = gRoots[index];
  RtlLeaveCriticalSection(&gRootLock);
  return result;
}

}  // namespace rt

uint32_t RegOpenW(RuntimeContext* ctx, HKEY key, const WCHAR* subkey, HKEY* result) {
  if (result == nullptr) return rt::kErrorInvalidParameter;
  if (key == 0) {
    if (subkey != nullptr) return rt::kErrorInvalidHandle;
    *result = 0;
    return rt::kErrorSuccess;
  }
  if (subkey == nullptr || subkey[0] == 0) {
    *result = key;
    return rt::kErrorSuccess;
  }
  *result = 0;
  HANDLE parent;
  uint32_t error = rt::MapKey(key, &parent);
  if (error != rt::kErrorSuccess) return error;
  UNICODE_STRING name;
  if (!rt::MakeUnicodeString(&name, subkey)) return rt::kErrorInvalidParameter;
  OBJECT_ATTRIBUTES oa;
  rt::InitAttributes(&oa, &name, OBJ_CASE_INSENSITIVE, parent);
  HANDLE opened = nullptr;
  NTSTATUS s = NtOpenKey(&opened, MAXIMUM_ALLOWED, &oa);
  if (NT_SUCCESS(s)) *result = ToKey(opened);
  return rt::ToError(s);
}

uint32_t RegOpen(RuntimeContext* ctx, HKEY key, const char* subkey, HKEY* result) {
  if (result == nullptr) return rt::kErrorInvalidParameter;
  if (subkey == nullptr || subkey[0] == 0 || key == 0) {
    static const WCHAR kEmpty[] = u"";
    return RegOpenW(ctx, key, subkey == nullptr ? nullptr : kEmpty, result);
  }
  UNICODE_STRING wide;
  if (!rt::AnsiToUnicodeAlloc(subkey, &wide)) return rt::kErrorOutOfMemory;
  uint32_t error = RegOpenW(ctx, key, wide.Buffer, result);
  RtlFreeUnicodeString(&wide);
  return error;
}

uint32_t RegClose(RuntimeContext* ctx, HKEY key) {
  if (key == 0 || IsPredefined(key)) return rt::kErrorInvalidHandle;
  return rt::ToError(NtClose(ToHandle(key)));
}
