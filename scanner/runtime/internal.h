// Helpers shared by the runtime's source files: checked counted strings,
// path conversion into native paths, object attributes and the native
// record layouts the runtime reads out of its buffers.
#pragma once

#include <string.h>

#include "scanner/runtime/runtime.h"

namespace rt {

// The longest path the fixed conversion buffer takes, in UTF-16 units.
const uint32_t kFixedPathChars = 260;

// Counted strings over terminated texts; false when the text is too long for
// the 16-bit length fields.
bool MakeAnsiString(ANSI_STRING* s, const char* text);
bool MakeUnicodeString(UNICODE_STRING* s, const WCHAR* text);

// ANSI text to UTF-16 into `buf` (kFixedPathChars + 1 units); fails on
// texts of more than kFixedPathChars characters. The result is terminated.
bool AnsiToUnicodeFixed(const char* text, WCHAR* buf);
// ANSI text to a newly allocated, terminated UTF-16 string; release it with
// RtlFreeUnicodeString.
bool AnsiToUnicodeAlloc(const char* text, UNICODE_STRING* out);

// Drive-letter path to native path ("\??\C:\..."); release with
// RtlFreeUnicodeString.
bool DosToNtPath(const WCHAR* dosPath, UNICODE_STRING* ntPath);
// The same for ANSI paths, through the fixed buffer or an allocated string.
bool AnsiPathToNtFixed(const char* path, UNICODE_STRING* ntPath);
bool AnsiPathToNtAlloc(const char* path, UNICODE_STRING* ntPath);

inline void InitAttributes(OBJECT_ATTRIBUTES* oa, UNICODE_STRING* name, ULONG attributes, HANDLE root) {
  InitializeObjectAttributes(oa, name, attributes, root, nullptr);
}

// Position and size queries on an open file.
bool QueryPosition(HANDLE h, int64_t* position);
bool QueryEndOfFile(HANDLE h, int64_t* endOfFile);
bool SetPosition(HANDLE h, int64_t position);

// Windows error code of a native status.
inline uint32_t ToError(NTSTATUS status) { return RtlNtStatusToDosError(status); }

}  // namespace rt

namespace rt {

// Windows error codes the registry operations answer themselves.
const uint32_t kErrorSuccess = 0;
const uint32_t kErrorInvalidHandle = 6;
const uint32_t kErrorNotEnoughMemory = 8;
const uint32_t kErrorOutOfMemory = 14;
const uint32_t kErrorInvalidParameter = 87;
const uint32_t kErrorMoreData = 234;

// The native key handle of a key value: an ordinary handle, or a predefined
// root opened on first use. Answers a Windows error code.
uint32_t MapKey(HKEY key, HANDLE* handle);

inline bool IsStringType(uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

}  // namespace rt
