// Boot-screen text output, ANSI/UTF-16 conversion into caller buffers, the
// scanner's formatted-text writer and bytes-to-hex text.
#include "scanner/session/console.h"

#include <string.h>

namespace {

// The longest pieces handed to the display at once: counted strings carry
// 16-bit byte lengths, and an ANSI piece widens to twice its length plus a
// terminator.
const uint32_t kDisplayUnits = 0x7FFF;
const uint32_t kDisplayAnsiBytes = 0x7FFE;
const uint32_t kMaxHexBytes = 455;
// Field widths beyond any real format only point at a broken format text.
const uint32_t kMaxWidth = 4096;

char gHexText[912];

// Writes `count` copies of `c`; returns the count written.
int Pad(char* dst, char c, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) dst[i] = c;
  return (int)count;
}

// Digits of `value` in `base`, built from the right in a 12-byte work area;
// returns the first digit.
char* Digits(char* area, uint32_t value, uint32_t base, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char* p = area + 11;
  *p = 0;
  do {
    *--p = digits[value % base];
    value /= base;
  } while (value != 0);
  return p;
}

}  // namespace

void PrintWide(RuntimeContext* ctx, const WCHAR* text) {
  if (text == nullptr) return;
  uint32_t left = TextLenW(text);
  while (left > 0) {
    uint32_t units = left < kDisplayUnits ? left : kDisplayUnits;
    UNICODE_STRING s;
    s.Length = (USHORT)(units * 2);
    s.MaximumLength = (USHORT)(units * 2);
    s.Buffer = const_cast<WCHAR*>(text);
    NtDisplayString(&s);
    text += units;
    left -= units;
  }
}

void PrintAnsi(RuntimeContext* ctx, const char* text) {
  if (text == nullptr) return;
  uint32_t left = TextLen(text);
  while (left > 0) {
    uint32_t bytes = left < kDisplayAnsiBytes ? left : kDisplayAnsiBytes;
    ANSI_STRING a;
    a.Length = (USHORT)bytes;
    a.MaximumLength = (USHORT)bytes;
    a.Buffer = const_cast<char*>(text);
    UNICODE_STRING u;
    u.Length = 0;
    u.MaximumLength = 0;
    u.Buffer = nullptr;
    if (NT_SUCCESS(RtlAnsiStringToUnicodeString(&u, &a, 1))) {
      NtDisplayString(&u);
      RtlFreeUnicodeString(&u);
    }
    text += bytes;
    left -= bytes;
  }
}

int AnsiToWide(RuntimeContext* ctx, const char* src, WCHAR* dst, uint32_t capacityBytes) {
  if (src == nullptr || dst == nullptr) return 1;
  uint32_t n = TextLen(src);
  if (n > 0xFFFEu) return 1;
  ANSI_STRING a;
  a.Length = (USHORT)n;
  a.MaximumLength = (USHORT)(n + 1);
  a.Buffer = const_cast<char*>(src);
  UNICODE_STRING u;
  u.Length = 0;
  u.MaximumLength = 0;
  u.Buffer = nullptr;
  if (!NT_SUCCESS(RtlAnsiStringToUnicodeString(&u, &a, 1))) return 1;
  // The text and its two-byte terminator must both fit.
  if ((uint32_t)u.Length + 2 <= capacityBytes) {
    memcpy(dst, u.Buffer, u.Length);
    dst[u.Length / 2] = 0;
  }
  RtlFreeUnicodeString(&u);
  return 1;
}

int WideToAnsi(RuntimeContext* ctx, const WCHAR* src, char* dst, uint32_t capacityBytes) {
  if (src == nullptr || dst == nullptr) return 1;
  uint32_t n = TextLenW(src);
  if (n > 0x7FFEu) return 1;
  UNICODE_STRING u;
  u.Length = (USHORT)(n * 2);
  u.MaximumLength = (USHORT)(n * 2 + 2);
  u.Buffer = const_cast<WCHAR*>(src);
  ANSI_STRING a;
  a.Length = 0;
  a.MaximumLength = 0;
  a.Buffer = nullptr;
  if (!NT_SUCCESS(RtlUnicodeStringToAnsiString(&a, &u, 1))) return 1;
  if (a.Length < capacityBytes) {
    memcpy(dst, a.Buffer, a.Length);
    dst[a.Length] = 0;
  }
  RtlFreeAnsiString(&a);
  return 1;
}

int FormatTextV(char* dst, const char* format, va_list args) {
  char* out = dst;
  if (format != nullptr) {
    const char* f = format;
    while (*f != 0) {
      if (*f != '%') {
        *out++ = *f++;
        continue;
      }
      ++f;
      if (*f == 0) break;
      if (*f == '%') {
        *out++ = '%';
        ++f;
        continue;
      }
      bool left = false, zero = false;
      if (*f == '-') {
        left = true;
        ++f;
      }
      while (*f == '0') {
        zero = true;
        ++f;
      }
      uint32_t width = 0;
      while (*f >= '0' && *f <= '9') {
        width = width * 10 + (uint32_t)(*f - '0');
        if (width > kMaxWidth) width = kMaxWidth;
        ++f;
      }
      char conversion = *f;
      if (conversion == 0) break;
      ++f;

      char area[12];
      char one[2];
      const char* text;
      switch (conversion) {
        case 's':
          text = va_arg(args, const char*);
          if (text == nullptr) text = "(null)";
          break;
        case 'c':
          one[0] = (char)(uint8_t)va_arg(args, int);
          one[1] = 0;
          text = one;
          break;
        case 'd': {
          int32_t v = va_arg(args, int32_t);
          bool negative = v < 0;
          // Magnitude in unsigned arithmetic: the most negative value has no
          // positive counterpart.
          char* p = Digits(area, negative ? 0u - (uint32_t)v : (uint32_t)v, 10, false);
          if (negative) {
            if (zero && width != 0) {
              // Sign first, zeros between sign and digits.
              *out++ = '-';
              --width;
            } else {
              *--p = '-';
            }
          }
          text = p;
          break;
        }
        case 'u': text = Digits(area, va_arg(args, uint32_t), 10, false); break;
        case 'x': text = Digits(area, va_arg(args, uint32_t), 16, false); break;
        case 'X': text = Digits(area, va_arg(args, uint32_t), 16, true); break;
        default: continue;  // not supported: writes nothing, takes no value
      }
      uint32_t length = TextLen(text);
      char padChar = zero ? '0' : ' ';
      uint32_t padding = width > length ? width - length : 0;
      if (!left) out += Pad(out, padChar, padding);
      memcpy(out, text, length);
      out += length;
      if (left) out += Pad(out, padChar, padding);
    }
  }
  *out = 0;
  return (int)(out - dst);
}

int FormatText(char* dst, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = FormatTextV(dst, format, args);
  va_end(args);
  return n;
}

const char* BytesToHex(RuntimeContext* ctx, const void* bytes, uint32_t count) {
  if (count == 0 || bytes == nullptr) return gHexText;
  if (count > kMaxHexBytes) count = kMaxHexBytes;
  static const char kDigits[] = "0123456789abcdef";
  const uint8_t* b = (const uint8_t*)bytes;
  for (uint32_t i = 0; i < count; ++i) {
    gHexText[2 * i] = kDigits[b[i] >> 4];
    gHexText[2 * i + 1] = kDigits[b[i] & 15];
  }
  gHexText[2 * count] = 0;
  return gHexText;
}
