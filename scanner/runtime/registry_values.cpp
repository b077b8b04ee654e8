// Registry values with Win32 semantics: query, set and delete, in UTF-16
// and ANSI forms. Value data is untrusted: every length the system reports
// is checked against the buffer it claims to describe.
#include <stddef.h>

#include "scanner/runtime/internal.h"

namespace {

const uint32_t kHeader = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);  // type, length before the data
const uint32_t kStackWork = 256;

uint32_t Read32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

// A value name as a counted string; a null name is the default value.
bool ValueName(UNICODE_STRING* s, const WCHAR* name) {
  static const WCHAR kEmpty[] = u"";
  return rt::MakeUnicodeString(s, name != nullptr ? name : kEmpty);
}

bool EndsWithNulUnit(const uint8_t* data, uint32_t length) {
  return length >= 2 && data[length - 2] == 0 && data[length - 1] == 0;
}

}  // namespace

uint32_t RegQueryValueW(RuntimeContext* ctx, HKEY key, const WCHAR* name, uint32_t* reserved, uint32_t* type,
                        void* data, uint32_t* size) {
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return rt::kErrorInvalidParameter;
  HANDLE h;
  uint32_t error = rt::MapKey(key, &h);
  if (error != rt::kErrorSuccess) return error;
  UNICODE_STRING valueName;
  if (!ValueName(&valueName, name)) return rt::kErrorInvalidParameter;

  alignas(8) uint8_t stackWork[kStackWork];
  uint8_t* work = stackWork;
  uint8_t* heapWork = nullptr;
  uint32_t request = kHeader;
  if (data != nullptr)
    request = *size >= kStackWork - kHeader ? kStackWork : kHeader + *size;
  else if (size != nullptr)
    *size = 0;

  ULONG got = 0;
  NTSTATUS s = NtQueryValueKey(h, &valueName, KeyValuePartialInformation, work, request, &got);
  uint32_t valueType = 0, length = 0;
  if (s == STATUS_BUFFER_OVERFLOW) {
    // The header arrived; the data did not fit the request.
    valueType = Read32(work + offsetof(KEY_VALUE_PARTIAL_INFORMATION, Type));
    length = Read32(work + offsetof(KEY_VALUE_PARTIAL_INFORMATION, DataLength));
    if (data == nullptr) {
      if (type) *type = valueType;
      if (size) *size = length;
      return rt::kErrorSuccess;
    }
    if (length > *size) {
      if (type) *type = valueType;
      *size = length;
      return rt::kErrorMoreData;
    }
    // It fits the caller's buffer but not the stack: query again in full.
    // length <= *size and the stack missed it, so kHeader + length cannot wrap
    // unless *size is near 4 GiB.
    if (length > 0xFFFFFFFFu - kHeader) return rt::kErrorNotEnoughMemory;
    request = kHeader + length;
    heapWork = (uint8_t*)MemAlloc(ctx, request);
    if (heapWork == nullptr) return rt::kErrorNotEnoughMemory;
    work = heapWork;
    s = NtQueryValueKey(h, &valueName, KeyValuePartialInformation, work, request, &got);
  }
  if (NT_SUCCESS(s)) {
    valueType = Read32(work + offsetof(KEY_VALUE_PARTIAL_INFORMATION, Type));
    length = Read32(work + offsetof(KEY_VALUE_PARTIAL_INFORMATION, DataLength));
    if (data != nullptr) {
      if (length > request - kHeader || length > *size) {
        // The system claims more data than it could have delivered.
        MemFree(ctx, heapWork);
        return rt::kErrorMoreData;
      }
      uint8_t* out = (uint8_t*)data;
      memcpy(out, work + kHeader, length);
      if (rt::IsStringType(valueType) && !EndsWithNulUnit(out, length) && *size - length >= 2) {
        out[length] = 0;
        out[length + 1] = 0;
      }
    }
    if (type) *type = valueType;
    if (size) *size = length;
  }
  MemFree(ctx, heapWork);
  return rt::ToError(s);
}

uint32_t RegQueryValue(RuntimeContext* ctx, HKEY key, const char* name, uint32_t* reserved, uint32_t* type,
                       void* data, uint32_t* size) {
  if (data != nullptr && size == nullptr) return rt::kErrorInvalidParameter;
  WCHAR* work = nullptr;
  uint32_t wideSize = 0;
  if (data != nullptr) {
    // Twice (size + 1) bytes, computed from the full 32-bit size.
    if (*size > 0x7FFFFFFEu) return rt::kErrorOutOfMemory;
    work = (WCHAR*)MemAlloc(ctx, 2 * (*size + 1));
    if (work == nullptr) return rt::kErrorOutOfMemory;
    wideSize = 2 * *size;
  } else if (size != nullptr) {
    *size = 0;
  }
  UNICODE_STRING wideName;
  wideName.Buffer = nullptr;
  if (name != nullptr && !rt::AnsiToUnicodeAlloc(name, &wideName)) {
    MemFree(ctx, work);
    return rt::kErrorOutOfMemory;
  }
  uint32_t valueType = 0;
  uint32_t error = RegQueryValueW(ctx, key, wideName.Buffer, reserved, &valueType, work, &wideSize);
  if (error == rt::kErrorSuccess || error == rt::kErrorMoreData) {
    uint32_t reported;
    if (rt::IsStringType(valueType)) {
      // On 234 the work buffer holds nothing; only the size is reported.
      if (error == rt::kErrorSuccess && data != nullptr) {
        ULONG n = 0;
        char* out = (char*)data;
        if (!NT_SUCCESS(RtlUnicodeToMultiByteN(out, *size, &n, work, wideSize)) || n > *size) n = 0;
        if (n < *size) out[n] = 0;
      }
      reported = wideSize / 2;
    } else {
      if (error == rt::kErrorSuccess && data != nullptr) {
        if (wideSize <= *size)
          memcpy(data, work, wideSize);
        else
          error = rt::kErrorMoreData;
      }
      reported = wideSize;
    }
    if (type) *type = valueType;
    if (size) *size = reported;
  }
  if (wideName.Buffer != nullptr) RtlFreeUnicodeString(&wideName);
  MemFree(ctx, work);
  return error;
}

uint32_t RegSetValueW(RuntimeContext* ctx, HKEY key, const WCHAR* name, uint32_t reserved, uint32_t type,
                      const void* data, uint32_t size) {
  if (data == nullptr && size != 0) return rt::kErrorInvalidParameter;
  HANDLE h;
  uint32_t error = rt::MapKey(key, &h);
  if (error != rt::kErrorSuccess) return error;
  UNICODE_STRING valueName;
  if (!ValueName(&valueName, name)) return rt::kErrorInvalidParameter;
  if (rt::IsStringType(type) && size >= 2 && size <= 0xFFFFFFFFu - 2) {
    // A size that leaves out the text's terminator is widened to include
    // it; the caller's text must be terminated.
    const uint8_t* d = (const uint8_t*)data;
    if (!EndsWithNulUnit(d, size) && d[size] == 0 && d[size + 1] == 0) size += 2;
  }
  return rt::ToError(NtSetValueKey(h, &valueName, 0, type, data, size));
}

uint32_t RegSetValue(RuntimeContext* ctx, HKEY key, const char* name, uint32_t reserved, uint32_t type,
                     const void* data, uint32_t size) {
  if (data == nullptr && size != 0) return rt::kErrorInvalidParameter;
  UNICODE_STRING wideName;
  wideName.Buffer = nullptr;
  if (name != nullptr && !rt::AnsiToUnicodeAlloc(name, &wideName)) return rt::kErrorOutOfMemory;
  uint32_t error;
  if (!rt::IsStringType(type)) {
    error = RegSetValueW(ctx, key, wideName.Buffer, reserved, type, data, size);
  } else if (size > 0x7FFFFFFDu) {
    error = rt::kErrorOutOfMemory;
  } else {
    // Room for one unit per byte, the text's terminator and one spare unit.
    WCHAR* wide = (WCHAR*)MemAlloc(ctx, 2 * (size + 2));
    ULONG n = 0;
    if (wide == nullptr) {
      error = rt::kErrorOutOfMemory;
    } else if (size != 0 && !NT_SUCCESS(RtlMultiByteToUnicodeN(wide, 2 * size, &n, (const char*)data, size))) {
      error = rt::kErrorOutOfMemory;
    } else {
      if (n > 2 * size) n = 2 * size;
      n &= ~1u;
      // Text not terminated within its size gets its terminator here
      // instead of from the byte after the caller's data.
      if (size != 0 && ((const char*)data)[size - 1] != 0) {
        wide[n / 2] = 0;
        n += 2;
      }
      wide[n / 2] = 0;
      error = RegSetValueW(ctx, key, wideName.Buffer, reserved, type, wide, n);
    }
    MemFree(ctx, wide);
  }
  if (wideName.Buffer != nullptr) RtlFreeUnicodeString(&wideName);
  return error;
}

uint32_t RegDeleteValue(RuntimeContext* ctx, HKEY key, const char* name) {
  HANDLE h;
  uint32_t error = rt::MapKey(key, &h);
  if (error != rt::kErrorSuccess) return error;
  UNICODE_STRING wideName;
  static const WCHAR kEmpty[] = u"";
  if (name == nullptr) {
    rt::MakeUnicodeString(&wideName, kEmpty);
    return rt::ToError(NtDeleteValueKey(h, &wideName));
  }
  if (!rt::AnsiToUnicodeAlloc(name, &wideName)) return rt::kErrorOutOfMemory;
  NTSTATUS s = NtDeleteValueKey(h, &wideName);
  RtlFreeUnicodeString(&wideName);
  return rt::ToError(s);
}
