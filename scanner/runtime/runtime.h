// The scanner's native runtime layer: a small Win32-like service set (heap,
// files, attributes, times, free space, environment, local time, threads,
// directory enumeration, registry) built on the native interface only.
// Results follow Win32 conventions: a handle or 0, a count, 1 or 0, or
// 0xFFFFFFFF for a failed position, size or attribute query. Registry
// operations return Windows error codes.
#pragma once

#include "platform/nt/ntdll.h"

typedef uint32_t DWORD;
typedef int BOOL;

// One per scanner process; handed to every runtime, console and registry call.
struct RuntimeContext {
  HANDLE heap;         // private heap (RtlCreateHeap)
  uint32_t driveMask;  // bit i: drive letter 'A' + i exists
};

// Local time, in the Win32 SYSTEMTIME order.
struct LocalTime {
  uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};

// Access values and dispositions of FileOpen (Win32 numbering).
enum : uint32_t {
  kAccessRead = 0x80000000u,
  kAccessWrite = 0x40000000u,
  kCreateNew = 1,
  kCreateAlways = 2,
  kOpenExisting = 3,
  kOpenAlways = 4,
  kTruncateExisting = 5,
};
const uint32_t kInvalid32 = 0xFFFFFFFFu;
#define RT_INVALID_HANDLE ((HANDLE)(intptr_t)-1)

// Memory.
int RuntimeInit(RuntimeContext* ctx);  // always 1
void* MemAlloc(RuntimeContext* ctx, uint32_t size);
void* MemAlloc0(RuntimeContext* ctx, uint32_t size);  // zero-filled
void* MemRealloc(RuntimeContext* ctx, void* p, uint32_t size);
void MemFree(RuntimeContext* ctx, void* p);
void* VmAlloc(RuntimeContext* ctx, void* address, uint32_t size, uint32_t allocationType, uint32_t protection);
int VmFree(RuntimeContext* ctx, void* address, uint32_t size, uint32_t freeType);

// Files.
HANDLE FileOpen(RuntimeContext* ctx, const char* path, uint32_t access, uint32_t disposition);
uint32_t FileSeek(RuntimeContext* ctx, HANDLE h, int32_t offset, uint32_t origin);
uint32_t FileRead(RuntimeContext* ctx, HANDLE h, void* buffer, uint32_t count);
uint32_t FileWrite(RuntimeContext* ctx, HANDLE h, const void* buffer, uint32_t count);
void FileClose(RuntimeContext* ctx, HANDLE h);
uint32_t FileSize(RuntimeContext* ctx, HANDLE h);
int FileTruncate(RuntimeContext* ctx, HANDLE h, int32_t count);
int FileSetEnd(RuntimeContext* ctx, HANDLE h);
int FileDelete(RuntimeContext* ctx, const char* path);
int FileSetAttributes(RuntimeContext* ctx, const char* path, uint32_t attributes);
int FileSetAttributesW(RuntimeContext* ctx, const WCHAR* path, uint32_t attributes);
uint32_t FileGetAttributes(RuntimeContext* ctx, const char* path);
int FileGetTimes(RuntimeContext* ctx, HANDLE h, int64_t* creation, int64_t* lastAccess, int64_t* lastWrite);
int FileSetTimes(RuntimeContext* ctx, HANDLE h, const int64_t* creation, const int64_t* lastAccess,
                 const int64_t* lastWrite);
int DirCreate(RuntimeContext* ctx, const char* path);
int DiskFreeSpace(RuntimeContext* ctx, const char* root, uint32_t* sectorsPerCluster, uint32_t* bytesPerSector,
                  uint32_t* freeClusters, uint32_t* totalClusters);

// Process and time.
uint32_t GetEnvVar(RuntimeContext* ctx, const char* name, char* buffer, uint32_t size);
void ReadLocalTime(RuntimeContext* ctx, LocalTime* out);
uint32_t StartThread(RuntimeContext* ctx, HANDLE process, int suspended, PUSER_THREAD_START_ROUTINE proc,
                     void* parameter);  // 0 or 0xFFFFFFFF
void EndProcess(RuntimeContext* ctx, HANDLE process, uint32_t status);

// Directory enumeration (WIN32_FIND_DATAW / WIN32_FIND_DATAA layouts).
struct FindDataW {
  uint32_t attributes;
  int64_t creationTime;
  int64_t lastAccessTime;
  int64_t lastWriteTime;
  uint32_t sizeHigh;
  uint32_t sizeLow;
  uint32_t reserved0;
  uint32_t reserved1;
  WCHAR name[260];
  WCHAR shortName[14];
};
struct FindDataA {
  uint32_t attributes;
  int64_t creationTime;
  int64_t lastAccessTime;
  int64_t lastWriteTime;
  uint32_t sizeHigh;
  uint32_t sizeLow;
  uint32_t reserved0;
  uint32_t reserved1;
  char name[260];
  char shortName[14];
};
typedef void* FindHandle;  // RT_INVALID_HANDLE when nothing was opened
FindHandle DirFindFirst(RuntimeContext* ctx, const WCHAR* searchPath, FindDataW* out);
FindHandle DirFindFirstAnsi(RuntimeContext* ctx, const char* searchPath, FindDataA* out);
int DirFindNext(RuntimeContext* ctx, FindHandle h, void* out);  // FindDataW or FindDataA, as opened
int DirFindClose(RuntimeContext* ctx, FindHandle h);
int IsDirectory(RuntimeContext* ctx, const char* path);

// Registry (Windows error codes).
typedef uint32_t HKEY;
const HKEY kHkeyClassesRoot = 0x80000000u;
const HKEY kHkeyCurrentUser = 0x80000001u;
const HKEY kHkeyLocalMachine = 0x80000002u;
const HKEY kHkeyUsers = 0x80000003u;
const HKEY kHkeyCurrentConfig = 0x80000005u;
uint32_t RegOpen(RuntimeContext* ctx, HKEY key, const char* subkey, HKEY* result);
uint32_t RegOpenW(RuntimeContext* ctx, HKEY key, const WCHAR* subkey, HKEY* result);
uint32_t RegClose(RuntimeContext* ctx, HKEY key);
uint32_t RegQueryValueW(RuntimeContext* ctx, HKEY key, const WCHAR* name, uint32_t* reserved, uint32_t* type,
                        void* data, uint32_t* size);
uint32_t RegQueryValue(RuntimeContext* ctx, HKEY key, const char* name, uint32_t* reserved, uint32_t* type,
                       void* data, uint32_t* size);
uint32_t RegSetValueW(RuntimeContext* ctx, HKEY key, const WCHAR* name, uint32_t reserved, uint32_t type,
                      const void* data, uint32_t size);
uint32_t RegSetValue(RuntimeContext* ctx, HKEY key, const char* name, uint32_t reserved, uint32_t type,
                     const void* data, uint32_t size);
uint32_t RegDeleteValue(RuntimeContext* ctx, HKEY key, const char* name);
int ReadWinTarget(RuntimeContext* ctx, WCHAR* buffer, uint32_t size);
int ReadLibTarget(RuntimeContext* ctx, char* buffer, uint32_t size);

// Small freestanding helpers (no C runtime): lengths and copies of
// terminated texts, bounded so they never run past the destination.
uint32_t TextLen(const char* s);
uint32_t TextLenW(const WCHAR* s);
// Copy src into dst of capacity cap (bytes/units incl. terminator). Returns 0
// and leaves dst as an empty text when src does not fit.
int TextCopy(char* dst, uint32_t cap, const char* src);
int TextCopyW(WCHAR* dst, uint32_t cap, const WCHAR* src);
