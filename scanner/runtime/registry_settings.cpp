// The scanner's two settings under the target key.
#include "scanner/runtime/internal.h"

namespace {

const WCHAR kTargetKey[] = u"System\\CurrentControlSet\\Control\\tarnwell";

bool HasNulUnit(const WCHAR* text, uint32_t units) {
  for (uint32_t i = 0; i < units; ++i)
    if (text[i] == 0) return true;
  return false;
}

bool HasNulByte(const char* text, uint32_t bytes) {
  for (uint32_t i = 0; i < bytes; ++i)
    if (text[i] == 0) return true;
  return false;
}

}  // namespace

int ReadWinTarget(RuntimeContext* ctx, WCHAR* buffer, uint32_t size) {
  HKEY key = 0;
  if (RegOpenW(ctx, kHkeyLocalMachine, kTargetKey, &key) != 0) return 0;
  uint32_t type = REG_SZ, got = size;
  uint32_t error = RegQueryValueW(ctx, key, u"WinTarget", nullptr, &type, buffer, &got);
  RegClose(ctx, key);
  if (error != 0) return 0;
  // The caller uses the value as a text: it must be a string that ended up
  // terminated inside the buffer (the query adds a NUL unit when it fits).
  if (!rt::IsStringType(type)) return 0;
  return (got <= size && size - got >= 2) || HasNulUnit(buffer, got / 2) ? 1 : 0;
}

int ReadLibTarget(RuntimeContext* ctx, char* buffer, uint32_t size) {
  HKEY key = 0;
  if (RegOpen(ctx, kHkeyLocalMachine, "System\\CurrentControlSet\\Control\\tarnwell", &key) != 0) return 0;
  uint32_t type = REG_SZ, got = size;
  uint32_t error = RegQueryValue(ctx, key, "LibTarget", nullptr, &type, buffer, &got);
  RegClose(ctx, key);
  if (error != 0) return 0;
  // The conversion terminates the text when there is room; all of the
  // buffer was written otherwise, so any NUL in it is the value's own.
  if (!rt::IsStringType(type)) return 0;
  return HasNulByte(buffer, size) ? 1 : 0;
}
