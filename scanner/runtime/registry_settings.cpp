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
  // The caller uses the value as a text: it must be a string that ends up
  // terminated inside the buffer. The NUL the query adds after an odd byte
  // count does not fall on a unit boundary, so the terminator is put after
  // the whole units here; a dangling odd byte is no character.
  if (!rt::IsStringType(type) || got > size) return 0;
  uint32_t units = got / 2;
  if (HasNulUnit(buffer, units)) return 1;
  if (size / 2 <= units) return 0;
  buffer[units] = 0;
  return 1;
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
