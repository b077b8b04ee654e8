// Run-time library calls: counted strings and code-page conversion (in the
// machine's ANSI code page), DOS path names, the environment, system time,
// local time and calendar fields.
#include <string.h>
#include <time.h>

#include "platform/nt/internal.h"

using namespace tw;
using namespace tw::nt;

namespace {

size_t WideLength(const WCHAR* s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

const CodePage& Cp() {
  static CodePage* fallback = [] {
    auto* c = new CodePage;
    std::string e;
    c->Init(1252, &e);
    return c;
  }();
  return Loaded() ? G().codePage : *fallback;
}

// Encodes units as ANSI without splitting a double-byte character; stops
// before `limit` bytes would be exceeded. Returns bytes written.
size_t EncodeInto(const CodePage& cp, const WCHAR* units, size_t count, char* out, size_t limit) {
  size_t used = 0;
  for (size_t i = 0; i < count; ++i) {
    char b[2];
    size_t n = cp.EncodeChar(units[i], b);
    if (used + n > limit) break;
    memcpy(out + used, b, n);
    used += n;
  }
  return used;
}

size_t EncodedSize(const CodePage& cp, const WCHAR* units, size_t count) {
  size_t n = 0;
  for (size_t i = 0; i < count; ++i) {
    char b[2];
    n += cp.EncodeChar(units[i], b);
  }
  return n;
}

}  // namespace

// ---- counted strings

extern "C" void RtlInitUnicodeString(PUNICODE_STRING Destination, const WCHAR* Source) {
  if (Destination == nullptr) return;
  Destination->Buffer = const_cast<WCHAR*>(Source);
  if (Source == nullptr) {
    Destination->Length = Destination->MaximumLength = 0;
    return;
  }
  size_t bytes = WideLength(Source) * 2;
  if (bytes > 0xFFFC) bytes = 0xFFFC;
  Destination->Length = static_cast<USHORT>(bytes);
  Destination->MaximumLength = static_cast<USHORT>(bytes + 2);
}

extern "C" void RtlInitAnsiString(PANSI_STRING Destination, const char* Source) {
  if (Destination == nullptr) return;
  Destination->Buffer = const_cast<char*>(Source);
  if (Source == nullptr) {
    Destination->Length = Destination->MaximumLength = 0;
    return;
  }
  size_t bytes = strlen(Source);
  if (bytes > 0xFFFE) bytes = 0xFFFE;
  Destination->Length = static_cast<USHORT>(bytes);
  Destination->MaximumLength = static_cast<USHORT>(bytes + 1);
}

extern "C" void RtlFreeUnicodeString(PUNICODE_STRING String) {
  if (String == nullptr) return;
  if (String->Buffer != nullptr) RtlFreeHeap(RtlProcessHeap(), 0, String->Buffer);
  String->Buffer = nullptr;
  String->Length = String->MaximumLength = 0;
}

extern "C" void RtlFreeAnsiString(PANSI_STRING String) {
  if (String == nullptr) return;
  if (String->Buffer != nullptr) RtlFreeHeap(RtlProcessHeap(), 0, String->Buffer);
  String->Buffer = nullptr;
  String->Length = String->MaximumLength = 0;
}

extern "C" NTSTATUS RtlAnsiStringToUnicodeString(PUNICODE_STRING Destination, const ANSI_STRING* Source,
                                                 BOOLEAN AllocateDestination) {
  TW_FAULT("RtlAnsiStringToUnicodeString");
  if (Destination == nullptr || Source == nullptr || (Source->Length != 0 && Source->Buffer == nullptr)) {
    return STATUS_INVALID_PARAMETER;
  }
  std::u16string u = Cp().ToUnicode(Source->Buffer, Source->Length);
  size_t bytes = u.size() * 2;
  if (bytes > 0xFFFC) return STATUS_INVALID_PARAMETER;
  if (AllocateDestination) {
    auto* buf = static_cast<WCHAR*>(RtlAllocateHeap(RtlProcessHeap(), 0, bytes + 2));
    if (buf == nullptr) return STATUS_NO_MEMORY;
    Destination->Buffer = buf;
    Destination->MaximumLength = static_cast<USHORT>(bytes + 2);
  } else if (Destination->MaximumLength < bytes + 2 || Destination->Buffer == nullptr) {
    return STATUS_BUFFER_OVERFLOW;
  }
  memcpy(Destination->Buffer, u.data(), bytes);
  Destination->Buffer[u.size()] = 0;
  Destination->Length = static_cast<USHORT>(bytes);
  return STATUS_SUCCESS;
}

extern "C" NTSTATUS RtlUnicodeStringToAnsiString(PANSI_STRING Destination, const UNICODE_STRING* Source,
                                                 BOOLEAN AllocateDestination) {
  TW_FAULT("RtlUnicodeStringToAnsiString");
  if (Destination == nullptr || Source == nullptr || (Source->Length != 0 && Source->Buffer == nullptr)) {
    return STATUS_INVALID_PARAMETER;
  }
  const CodePage& cp = Cp();
  size_t units = Source->Length / 2;
  size_t size = EncodedSize(cp, Source->Buffer, units);
  if (size > 0xFFFE) return STATUS_INVALID_PARAMETER;
  NTSTATUS status = STATUS_SUCCESS;
  size_t limit = size;
  if (AllocateDestination) {
    auto* buf = static_cast<char*>(RtlAllocateHeap(RtlProcessHeap(), 0, size + 1));
    if (buf == nullptr) return STATUS_NO_MEMORY;
    Destination->Buffer = buf;
    Destination->MaximumLength = static_cast<USHORT>(size + 1);
  } else {
    if (Destination->MaximumLength == 0 || Destination->Buffer == nullptr) return STATUS_BUFFER_OVERFLOW;
    if (size + 1 > Destination->MaximumLength) {
      // As much as fits, terminated, with the overflow reported.
      limit = Destination->MaximumLength - 1u;
      status = STATUS_BUFFER_OVERFLOW;
    }
  }
  size_t used = EncodeInto(cp, Source->Buffer, units, Destination->Buffer, limit);
  Destination->Buffer[used] = 0;
  Destination->Length = static_cast<USHORT>(used);
  return status;
}

extern "C" NTSTATUS RtlMultiByteToUnicodeN(WCHAR* UnicodeString, ULONG MaxBytesInUnicodeString,
                                           ULONG* BytesInUnicodeString, const char* MultiByteString,
                                           ULONG BytesInMultiByteString) {
  TW_FAULT("RtlMultiByteToUnicodeN");
  if ((UnicodeString == nullptr && MaxBytesInUnicodeString != 0) ||
      (MultiByteString == nullptr && BytesInMultiByteString != 0)) {
    return STATUS_INVALID_PARAMETER;
  }
  const CodePage& cp = Cp();
  size_t in = 0, out = 0, room = MaxBytesInUnicodeString / 2;
  while (in < BytesInMultiByteString && out < room) {
    char16_t u;
    in += cp.DecodeChar(MultiByteString + in, BytesInMultiByteString - in, &u);
    UnicodeString[out++] = u;
  }
  if (BytesInUnicodeString != nullptr) *BytesInUnicodeString = static_cast<ULONG>(out * 2);
  return STATUS_SUCCESS;
}

extern "C" NTSTATUS RtlUnicodeToMultiByteN(char* MultiByteString, ULONG MaxBytesInMultiByteString,
                                           ULONG* BytesInMultiByteString, const WCHAR* UnicodeString,
                                           ULONG BytesInUnicodeString) {
  TW_FAULT("RtlUnicodeToMultiByteN");
  if ((MultiByteString == nullptr && MaxBytesInMultiByteString != 0) ||
      (UnicodeString == nullptr && BytesInUnicodeString != 0)) {
    return STATUS_INVALID_PARAMETER;
  }
  size_t used = EncodeInto(Cp(), UnicodeString, BytesInUnicodeString / 2, MultiByteString, MaxBytesInMultiByteString);
  if (BytesInMultiByteString != nullptr) *BytesInMultiByteString = static_cast<ULONG>(used);
  return STATUS_SUCCESS;
}

// ---- DOS path names

extern "C" ULONG RtlIsDosDeviceName_U(const WCHAR* DosFileName) {
  // Walks the name in place: callers such as the directory walk ask this
  // for every file they meet.
  if (DosFileName == nullptr) return 0;
  const char16_t* s = reinterpret_cast<const char16_t*>(DosFileName);
  size_t size = WideLength(DosFileName);
  if (size == 0) return 0;
  auto slash = [](char16_t c) { return c == u'\\' || c == u'/'; };
  // "\\.\", "\\?\" and UNC names are never DOS devices.
  if (size >= 2 && slash(s[0]) && slash(s[1])) return 0;
  size_t start = 0;
  for (size_t i = 0; i < size; ++i) {
    if (slash(s[i])) start = i + 1;
  }
  if (start == 0 && size >= 2 && s[1] == u':') start = 2;
  size_t end = start;
  while (end < size && s[end] != u'.' && s[end] != u':') ++end;
  while (end > start && s[end - 1] == u' ') --end;
  size_t length = end - start;
  if (length != 3 && length != 4) return 0;
  char16_t base[4];
  for (size_t i = 0; i < length; ++i) base[i] = FoldUpper(s[start + i]);
  auto is = [&](const char16_t* word) { return base[0] == word[0] && base[1] == word[1] && base[2] == word[2]; };
  bool device = length == 3 ? (is(u"CON") || is(u"PRN") || is(u"AUX") || is(u"NUL"))
                            : ((is(u"COM") || is(u"LPT")) && base[3] >= u'1' && base[3] <= u'9');
  if (!device) return 0;
  return static_cast<ULONG>(start * 2) << 16 | static_cast<ULONG>(length * 2);
}

namespace {

// The current directory of a native program: the system folder.
std::u16string CurrentDirectory() {
  std::u16string w = Loaded() ? Utf8ToUtf16(G().machine.windowsFolder) : u"C:\\WINDOWS";
  if (w.empty() || w.back() != u'\\') w += u'\\';
  return w + u"system32\\";
}

// "X:\a\.\b\..\c" to "X:\a\c"; a final backslash is kept; trailing dots and
// blanks of the last name are removed, as Windows does.
std::u16string Normalize(const std::u16string& full) {
  std::u16string head = full.substr(0, 3);  // "X:\"
  std::vector<std::u16string> parts;
  std::u16string cur;
  bool trailing = full.size() > 3 && full.back() == u'\\';
  for (size_t i = 3; i <= full.size(); ++i) {
    if (i == full.size() || full[i] == u'\\') {
      if (cur == u"..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!cur.empty() && cur != u".") {
        parts.push_back(cur);
      }
      cur.clear();
    } else {
      cur.push_back(full[i]);
    }
  }
  if (!parts.empty() && !trailing) {
    std::u16string& last = parts.back();
    while (!last.empty() && (last.back() == u'.' || last.back() == u' ')) last.pop_back();
    if (last.empty()) parts.pop_back();
  }
  std::u16string out = head;
  for (size_t i = 0; i < parts.size(); ++i) {
    out += parts[i];
    if (i + 1 < parts.size() || trailing) out += u'\\';
  }
  return out;
}

// Whether a path already has the form Normalize gives: "X:\" followed by
// names, each of them neither empty, "." nor "..", with backslashes only,
// and a last name (unless the path ends in a backslash) that does not end in
// a dot or a blank. The walk and the engine pass such paths, one or more for
// every file, and they need only the prefix.
bool AlreadyNormal(const char16_t* s, size_t n) {
  if (n < 3 || s[1] != u':' || s[2] != u'\\') return false;
  size_t start = 3;
  for (size_t i = 3; i <= n; ++i) {
    if (i < n && s[i] == u'/') return false;
    if (i < n && s[i] != u'\\') continue;
    size_t length = i - start;
    if (length == 0) {
      if (i != n) return false;  // "\\" inside the path; a final one is kept
    } else if ((length == 1 && s[start] == u'.') || (length == 2 && s[start] == u'.' && s[start + 1] == u'.')) {
      return false;
    } else if (i == n && (s[i - 1] == u'.' || s[i - 1] == u' ')) {
      return false;
    }
    start = i + 1;
  }
  return true;
}

}  // namespace

namespace {

// Hands out "\??\" followed by `body` as a heap-allocated NT name, the
// first unit of `body` (a drive letter) folded to upper case when asked.
BOOLEAN PutNtName(const char16_t* body, size_t bodyUnits, bool foldFirst, PUNICODE_STRING NtName,
                  const WCHAR** FilePart, PVOID RelativeName) {
  size_t units = 4 + bodyUnits;
  if (units * 2 > 0xFFFC) return 0;
  auto* buf = static_cast<WCHAR*>(RtlAllocateHeap(RtlProcessHeap(), 0, units * 2 + 2));
  if (buf == nullptr) return 0;
  memcpy(buf, u"\\??\\", 8);
  memcpy(buf + 4, body, bodyUnits * 2);
  if (foldFirst && bodyUnits > 0) buf[4] = FoldUpper(buf[4]);
  buf[units] = 0;
  NtName->Buffer = buf;
  NtName->Length = static_cast<USHORT>(units * 2);
  NtName->MaximumLength = static_cast<USHORT>(units * 2 + 2);
  if (FilePart != nullptr) {
    size_t slash = units;  // the prefix holds a backslash
    while (buf[slash - 1] != u'\\') --slash;
    *FilePart = slash == units ? nullptr : buf + slash;
  }
  // RTL_RELATIVE_NAME: a UNICODE_STRING and a directory handle, left empty.
  if (RelativeName != nullptr) memset(RelativeName, 0, sizeof(UNICODE_STRING) + sizeof(HANDLE));
  return 1;
}

}  // namespace

extern "C" BOOLEAN RtlDosPathNameToNtPathName_U(const WCHAR* DosName, PUNICODE_STRING NtName, const WCHAR** FilePart,
                                                PVOID RelativeName) {
  NTSTATUS ignored;
  if (gFaultsArmed && FaultHit("RtlDosPathNameToNtPathName_U", &ignored)) return 0;
  if (DosName == nullptr || NtName == nullptr || DosName[0] == 0) return 0;
  size_t length = WideLength(DosName);
  const char16_t* name = reinterpret_cast<const char16_t*>(DosName);
  if (AlreadyNormal(name, length) && RtlIsDosDeviceName_U(DosName) == 0)
    return PutNtName(name, length, true, NtName, FilePart, RelativeName);
  std::u16string s(name, length);
  std::u16string out;  // the name after "\??\"
  if (s.size() >= 4 && s[0] == u'\\' && s[1] == u'\\' && s[2] == u'?' && s[3] == u'\\') {
    out = s.substr(4);  // taken as it stands
  } else {
    for (char16_t& c : s) {
      if (c == u'/') c = u'\\';
    }
    ULONG dev = RtlIsDosDeviceName_U(s.c_str());
    if (s.size() >= 4 && s.compare(0, 4, u"\\\\.\\") == 0) {
      out = s.substr(4);
    } else if (dev != 0) {
      out = s.substr((dev >> 16) / 2, (dev & 0xFFFF) / 2);
    } else if (s.size() >= 2 && s[0] == u'\\' && s[1] == u'\\') {
      out = u"UNC\\" + s.substr(2);
    } else {
      std::u16string cwd = CurrentDirectory();
      std::u16string full;
      if (s.size() >= 2 && s[1] == u':') {
        if (s.size() >= 3 && s[2] == u'\\') {
          full = s;
        } else if (FoldUpper(s[0]) == FoldUpper(cwd[0])) {
          full = cwd + s.substr(2);
        } else {
          full = s.substr(0, 2) + u"\\" + s.substr(2);
        }
      } else if (s[0] == u'\\') {
        full = cwd.substr(0, 2) + s;
      } else {
        full = cwd + s;
      }
      full[0] = FoldUpper(full[0]);
      out = Normalize(full);
    }
  }
  return PutNtName(out.data(), out.size(), false, NtName, FilePart, RelativeName);
}

// ---- environment

extern "C" NTSTATUS RtlQueryEnvironmentVariable_U(PVOID Environment, PUNICODE_STRING Name, PUNICODE_STRING Value) {
  TW_FAULT("RtlQueryEnvironmentVariable_U");
  if (Name == nullptr || Value == nullptr) return STATUS_INVALID_PARAMETER;
  std::u16string want = FromCounted(Name);
  std::u16string found;
  bool have = false;
  if (Environment != nullptr) {
    // A block of "Name=Value" strings ended by an empty one.
    const WCHAR* p = static_cast<const WCHAR*>(Environment);
    while (*p != 0 && !have) {
      size_t n = WideLength(p);
      std::u16string entry(p, n);
      size_t eq = entry.find(u'=', 1);
      if (eq != std::u16string::npos && EqualNoCase(entry.substr(0, eq), want)) {
        found = entry.substr(eq + 1);
        have = true;
      }
      p += n + 1;
    }
  } else if (Loaded()) {
    for (const auto& kv : G().environment) {
      if (EqualNoCase(kv.first, want)) {
        found = kv.second;
        have = true;
        break;
      }
    }
  }
  if (!have) return TW_STATUS_VARIABLE_NOT_FOUND;
  size_t bytes = found.size() * 2;
  if (bytes > 0xFFFC) return STATUS_BUFFER_TOO_SMALL;
  Value->Length = static_cast<USHORT>(bytes);
  if (bytes + 2 > Value->MaximumLength || Value->Buffer == nullptr) return STATUS_BUFFER_TOO_SMALL;
  memcpy(Value->Buffer, found.data(), bytes);
  Value->Buffer[found.size()] = 0;
  return STATUS_SUCCESS;
}

// ---- time

extern "C" NTSTATUS NtQuerySystemTime(PLARGE_INTEGER SystemTime) {
  TW_FAULT("NtQuerySystemTime");
  if (SystemTime == nullptr) return STATUS_INVALID_PARAMETER;
  const State& s = G();
  if (s.loaded && s.machine.hasClock) {
    SystemTime->QuadPart = s.clockBase + (MonotonicNow() - s.monoBase);
    return STATUS_SUCCESS;
  }
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  SystemTime->QuadPart = UnixToFileTime(ts);
  return STATUS_SUCCESS;
}

extern "C" NTSTATUS RtlSystemTimeToLocalTime(const LARGE_INTEGER* SystemTime, PLARGE_INTEGER LocalTime) {
  TW_FAULT("RtlSystemTimeToLocalTime");
  if (SystemTime == nullptr || LocalTime == nullptr) return STATUS_INVALID_PARAMETER;
  int offset = Loaded() ? G().machine.utcOffsetMinutes : 0;
  LocalTime->QuadPart = SystemTime->QuadPart + static_cast<int64_t>(offset) * 600000000LL;
  return STATUS_SUCCESS;
}

namespace {

constexpr int64_t kTicksPerDay = 864000000000LL;
constexpr int64_t kDays1601To1970 = 134774;

bool Leap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysIn(int64_t y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && Leap(y) ? 29 : kDays[m - 1];
}

}  // namespace

extern "C" void RtlTimeToTimeFields(const LARGE_INTEGER* Time, PTIME_FIELDS TimeFields) {
  if (Time == nullptr || TimeFields == nullptr) return;
  int64_t t = Time->QuadPart < 0 ? 0 : Time->QuadPart;
  int64_t days = t / kTicksPerDay;
  int64_t rem = t % kTicksPerDay;
  // Civil date from days since 1970-01-01 (proleptic Gregorian).
  int64_t z = days - kDays1601To1970 + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t d = doy - (153 * mp + 2) / 5 + 1;
  int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  TimeFields->Year = static_cast<SHORT>(y);
  TimeFields->Month = static_cast<SHORT>(m);
  TimeFields->Day = static_cast<SHORT>(d);
  TimeFields->Hour = static_cast<SHORT>(rem / 36000000000LL);
  TimeFields->Minute = static_cast<SHORT>(rem / 600000000 % 60);
  TimeFields->Second = static_cast<SHORT>(rem / 10000000 % 60);
  TimeFields->Milliseconds = static_cast<SHORT>(rem / 10000 % 1000);
  TimeFields->Weekday = static_cast<SHORT>((days + 1) % 7);  // 1601-01-01 was a Monday
}

extern "C" BOOLEAN RtlTimeFieldsToTime(const TIME_FIELDS* f, PLARGE_INTEGER Time) {
  if (f == nullptr || Time == nullptr) return 0;
  if (f->Year < 1601 || f->Month < 1 || f->Month > 12 || f->Day < 1 || f->Day > DaysIn(f->Year, f->Month) ||
      f->Hour < 0 || f->Hour > 23 || f->Minute < 0 || f->Minute > 59 || f->Second < 0 || f->Second > 59 ||
      f->Milliseconds < 0 || f->Milliseconds > 999) {
    return 0;
  }
  int64_t y = f->Year, m = f->Month;
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + f->Day - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  int64_t days = era * 146097 + doe - 719468 + kDays1601To1970;
  Time->QuadPart = days * kTicksPerDay + f->Hour * 36000000000LL + f->Minute * 600000000LL +
                   f->Second * 10000000LL + f->Milliseconds * 10000LL;
  return 1;
}
