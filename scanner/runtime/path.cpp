// Text-to-native-path conversion used by every operation that takes a path.
#include "scanner/runtime/internal.h"

namespace rt {

bool MakeAnsiString(ANSI_STRING* s, const char* text) {
  if (text == nullptr) return false;
  uint32_t n = TextLen(text);
  if (n > 0xFFFEu) return false;
  s->Length = (USHORT)n;
  s->MaximumLength = (USHORT)(n + 1);
  s->Buffer = const_cast<char*>(text);
  return true;
}

bool MakeUnicodeString(UNICODE_STRING* s, const WCHAR* text) {
  if (text == nullptr) return false;
  uint32_t n = TextLenW(text);
  if (n > 0x7FFEu) return false;
  s->Length = (USHORT)(n * 2);
  s->MaximumLength = (USHORT)(n * 2 + 2);
  s->Buffer = const_cast<WCHAR*>(text);
  return true;
}

bool AnsiToUnicodeFixed(const char* text, WCHAR* buf) {
  ANSI_STRING a;
  if (!MakeAnsiString(&a, text)) return false;
  UNICODE_STRING u;
  u.Length = 0;
  u.MaximumLength = (USHORT)((kFixedPathChars + 1) * sizeof(WCHAR));
  u.Buffer = buf;
  if (!NT_SUCCESS(RtlAnsiStringToUnicodeString(&u, &a, 0))) return false;
  if (u.Length > kFixedPathChars * sizeof(WCHAR)) return false;
  buf[u.Length / 2] = 0;
  return true;
}

bool AnsiToUnicodeAlloc(const char* text, UNICODE_STRING* out) {
  ANSI_STRING a;
  if (!MakeAnsiString(&a, text)) return false;
  out->Length = 0;
  out->MaximumLength = 0;
  out->Buffer = nullptr;
  if (!NT_SUCCESS(RtlAnsiStringToUnicodeString(out, &a, 1))) return false;
  // The consumers need a terminated text; never trust that one is there.
  if (out->Buffer == nullptr || (uint32_t)out->MaximumLength < (uint32_t)out->Length + 2) {
    RtlFreeUnicodeString(out);
    return false;
  }
  out->Buffer[out->Length / 2] = 0;
  return true;
}

bool DosToNtPath(const WCHAR* dosPath, UNICODE_STRING* ntPath) {
  ntPath->Length = 0;
  ntPath->MaximumLength = 0;
  ntPath->Buffer = nullptr;
  if (dosPath == nullptr) return false;
  if (!RtlDosPathNameToNtPathName_U(dosPath, ntPath, nullptr, nullptr)) return false;
  return ntPath->Buffer != nullptr;
}

bool AnsiPathToNtFixed(const char* path, UNICODE_STRING* ntPath) {
  WCHAR buf[kFixedPathChars + 1];
  if (!AnsiToUnicodeFixed(path, buf)) return false;
  return DosToNtPath(buf, ntPath);
}

bool AnsiPathToNtAlloc(const char* path, UNICODE_STRING* ntPath) {
  UNICODE_STRING wide;
  if (!AnsiToUnicodeAlloc(path, &wide)) return false;
  bool ok = DosToNtPath(wide.Buffer, ntPath);
  RtlFreeUnicodeString(&wide);
  return ok;
}

}  // namespace rt
