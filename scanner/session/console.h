// Boot-screen text output and the scanner's own formatted-text writer.
// PrintWide and PrintAnsi are the only screen output of the scanner.
#pragma once

#include <stdarg.h>

#include "scanner/runtime/runtime.h"

void PrintWide(RuntimeContext* ctx, const WCHAR* text);
void PrintAnsi(RuntimeContext* ctx, const char* text);
int AnsiToWide(RuntimeContext* ctx, const char* src, WCHAR* dst, uint32_t capacityBytes);  // always 1
int WideToAnsi(RuntimeContext* ctx, const WCHAR* src, char* dst, uint32_t capacityBytes);  // always 1
// Supports %s %d %u %x %X %c %%, flags '-' and '0', a width. No length limit:
// callers pass buffers longer than their longest text.
int FormatText(char* dst, const char* format, ...);
int FormatTextV(char* dst, const char* format, va_list args);
// Two lower-case hex digits per byte into a shared 912-character buffer;
// at most 455 bytes per call.
const char* BytesToHex(RuntimeContext* ctx, const void* bytes, uint32_t count);
