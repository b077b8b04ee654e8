// Environment variables of the process, read as ANSI text.
#include "scanner/runtime/internal.h"

uint32_t GetEnvVar(RuntimeContext* ctx, const char* name, char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  UNICODE_STRING wideName;
  if (!rt::AnsiToUnicodeAlloc(name, &wideName)) return 0;
  // Room for `size` UTF-16 units, as far as a counted string reaches.
  uint32_t units = size < 0x7FFFu ? size : 0x7FFFu;
  UNICODE_STRING value;
  value.Length = 0;
  value.MaximumLength = (USHORT)(units * 2);
  value.Buffer = (WCHAR*)MemAlloc(ctx, units * 2);
  uint32_t result = 0;
  if (value.Buffer != nullptr &&
      NT_SUCCESS(RtlQueryEnvironmentVariable_U(nullptr, &wideName, &value)) &&
      value.Length <= value.MaximumLength) {
    // Each UTF-16 unit takes at most two bytes in an ANSI code page; convert
    // in full first, so a value that does not fit leaves the buffer alone.
    uint32_t ansiCap = (uint32_t)value.Length + 1;
    char* ansi = (char*)MemAlloc(ctx, ansiCap);
    ULONG n = 0;
    if (ansi != nullptr &&
        NT_SUCCESS(RtlUnicodeToMultiByteN(ansi, ansiCap, &n, value.Buffer, value.Length)) && n < size &&
        n <= ansiCap) {
      memcpy(buffer, ansi, n);
      buffer[n] = 0;
      result = n;
    }
    MemFree(ctx, ansi);
  }
  MemFree(ctx, value.Buffer);
  RtlFreeUnicodeString(&wideName);
  return result;
}
