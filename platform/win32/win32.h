// The manager's Win32 stand-in: the 8-bit (ANSI) registry, file and folder
// services the manager uses, over a simulated PC (platform/machine) whose
// registry and drives it shares with the boot-time scanner.
//
// Paths are drive paths ("C:\WINDOWS\system32\tarnwell.exe") in the machine's
// ANSI code page; names inside a drive match case-insensitively. Results
// follow Win32: registry calls return Windows error codes, the others
// TRUE/FALSE (or a count, or INVALID_*) with the reason in GetLastError().
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef uint8_t BYTE;
typedef unsigned int UINT;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef char16_t WCHAR;
typedef const WCHAR* LPCWSTR;
typedef struct Win32Key* HKEY;
typedef void* HANDLE;
typedef void* HMODULE;
typedef DWORD REGSAM;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define HKEY_USERS ((HKEY)(uintptr_t)0x80000003u)

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u

#define REG_OPTION_NON_VOLATILE 0u
#define KEY_ALL_ACCESS 0xF003Fu
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_WRITE_FAULT 29L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_DIRECTORY 267L
#define ERROR_BADKEY 1010L
#define ERROR_CANTWRITE 1013L
#define ERROR_REGISTRY_CORRUPT 1015L
#define ERROR_REGISTRY_IO_FAILED 1016L
#define ERROR_KEY_DELETED 1018L
#define ERROR_NOT_READY 21L

#define MAX_PATH 260

#define FILE_ATTRIBUTE_READONLY 0x1u
#define FILE_ATTRIBUTE_HIDDEN 0x2u
#define FILE_ATTRIBUTE_SYSTEM 0x4u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_ARCHIVE 0x20u
#define FILE_ATTRIBUTE_NORMAL 0x80u
// A host symbolic link (the stand-in's junction): walkers do not descend.
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct SYSTEMTIME {
  uint16_t wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[MAX_PATH];
  char cAlternateFileName[14];
};

// --- The machine -----------------------------------------------------------

// Opens the simulated PC described by `machineJson` (the path of its
// machine.json); null means the environment variable TARNWELL_MACHINE.
// False with a message for people in *error.
bool Win32OpenMachine(const char* machineJson, std::string* error);
// Closes it (tests open several machines one after another).
void Win32CloseMachine();

// Drive path -> host path (folders and the file itself matched
// case-insensitively; a missing last component keeps its given name).
bool Win32HostPath(const char* drivePath, std::string* hostPath);
// Host path -> drive path of the machine (ANSI); false outside every drive.
bool Win32DrivePath(const char* hostPath, std::string* drivePath);

// Offset of the last '\\' or '/' of an ANSI path (double-byte characters
// skipped whole: a GBK trail byte may equal '\\'), or npos.
size_t AnsiLastSeparator(const std::string& ansi);

// ANSI (the machine's code page) <-> UTF-8.
std::string AnsiToUtf8(const std::string& ansi);
std::string Utf8ToAnsi(const std::string& utf8);

// Test hook: when set, GetModuleFileNameA reports this host path instead of
// the running executable's (null restores the real one).
void Win32SetModuleHostPath(const char* hostPath);

// --- Errors ------------------------------------------------------------------

DWORD GetLastError();
void SetLastError(DWORD error);

// --- Registry ------------------------------------------------------------------

LONG RegOpenKeyA(HKEY key, LPCSTR subKey, HKEY* result);
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className,
                     DWORD options, REGSAM access, void* security, HKEY* result,
                     DWORD* disposition);
// As Win32: with `data` null only the size is reported; a buffer too small
// gives ERROR_MORE_DATA with the needed size in *size.
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* reserved, DWORD* type,
                      BYTE* data, DWORD* size);
// The same with the data as stored: string types in UTF-16LE, unconverted.
LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type,
                      BYTE* data, DWORD* size);
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                    const BYTE* data, DWORD size);
LONG RegDeleteValueA(HKEY key, LPCSTR valueName);
// Deletes a key that has no subkeys.
LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);
LONG RegCloseKey(HKEY key);

// --- Folders and the program ---------------------------------------------------

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
// The drive path of the running program. 0 (ERROR_PATH_NOT_FOUND) when it
// does not lie on one of the machine's drives.
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);

void GetLocalTime(SYSTEMTIME* time);
void GetSystemTime(SYSTEMTIME* time);

// --- Files ---------------------------------------------------------------------

BOOL CopyFileA(LPCSTR existing, LPCSTR target, BOOL failIfExists);
BOOL DeleteFileA(LPCSTR path);
#define MOVEFILE_REPLACE_EXISTING 0x1u
// Renames a file (atomically on the host); replaces an existing target only
// with MOVEFILE_REPLACE_EXISTING, never a read-only one or a folder. A link
// as the target is replaced itself; the file it names is not touched.
BOOL MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags);
BOOL CreateDirectoryA(LPCSTR path, void* security);
// Removes an empty folder, or a reparse point (the link, never its target).
BOOL RemoveDirectoryA(LPCSTR path);
DWORD GetFileAttributesA(LPCSTR path);
BOOL SetFileAttributesA(LPCSTR path, DWORD attributes);
// Sets the times of the file at `path` (any time may be null: unchanged).
// Windows sets times through a handle; the manager only ever needs it by path.
BOOL SetFileTimeA(LPCSTR path, const FILETIME* creation, const FILETIME* lastAccess,
                  const FILETIME* lastWrite);

// "*.*" / "*" / "name" patterns in one folder ("C:\dir\*.*").
HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data);
BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data);
BOOL FindClose(HANDLE find);

// fopen by drive path ("rb", "wb+", ...); null with GetLastError() set.
FILE* Win32OpenFile(LPCSTR path, const char* mode);
