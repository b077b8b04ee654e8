// The native system interface as the scanner sees it: types, status codes
// and calls of ntdll. On Linux these are implemented by platform/nt over POSIX
// and the machine description; the scanner includes only this header.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef int32_t NTSTATUS;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef uint16_t USHORT;
typedef int16_t SHORT;
typedef uint8_t UCHAR;
typedef uint8_t BOOLEAN;
typedef char16_t WCHAR;
typedef uint32_t ACCESS_MASK;
typedef void* HANDLE;
typedef void* PVOID;
typedef uintptr_t ULONG_PTR;
typedef size_t SIZE_T;

#define NT_SUCCESS(s) ((NTSTATUS)(s) >= 0)

// Status codes the stand-in answers and the scanner looks at.
#define STATUS_SUCCESS ((NTSTATUS)0x00000000)
#define STATUS_TIMEOUT ((NTSTATUS)0x00000102)
#define STATUS_PENDING ((NTSTATUS)0x00000103)
#define STATUS_USER_APC ((NTSTATUS)0x000000C0)
#define STATUS_ALERTED ((NTSTATUS)0x00000101)
#define STATUS_BUFFER_OVERFLOW ((NTSTATUS)0x80000005)
#define STATUS_NO_MORE_FILES ((NTSTATUS)0x80000006)
#define STATUS_UNSUCCESSFUL ((NTSTATUS)0xC0000001)
#define STATUS_NOT_IMPLEMENTED ((NTSTATUS)0xC0000002)
#define STATUS_INVALID_INFO_CLASS ((NTSTATUS)0xC0000003)
#define STATUS_INFO_LENGTH_MISMATCH ((NTSTATUS)0xC0000004)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000D)
#define STATUS_NO_SUCH_FILE ((NTSTATUS)0xC000000F)
#define STATUS_END_OF_FILE ((NTSTATUS)0xC0000011)
#define STATUS_NO_MEMORY ((NTSTATUS)0xC0000017)
#define STATUS_ACCESS_DENIED ((NTSTATUS)0xC0000022)
#define STATUS_BUFFER_TOO_SMALL ((NTSTATUS)0xC0000023)
#define STATUS_OBJECT_NAME_INVALID ((NTSTATUS)0xC0000033)
#define STATUS_OBJECT_NAME_NOT_FOUND ((NTSTATUS)0xC0000034)
#define STATUS_OBJECT_NAME_COLLISION ((NTSTATUS)0xC0000035)
#define STATUS_OBJECT_PATH_NOT_FOUND ((NTSTATUS)0xC000003A)
#define STATUS_SHARING_VIOLATION ((NTSTATUS)0xC0000043)
#define STATUS_DELETE_PENDING ((NTSTATUS)0xC0000056)
#define STATUS_DISK_FULL ((NTSTATUS)0xC000007F)
#define STATUS_INSUFFICIENT_RESOURCES ((NTSTATUS)0xC000009A)
#define STATUS_NO_MEDIA_IN_DEVICE ((NTSTATUS)0xC0000013)
#define STATUS_FILE_IS_A_DIRECTORY ((NTSTATUS)0xC00000BA)
#define STATUS_NOT_A_DIRECTORY ((NTSTATUS)0xC0000103)
#define STATUS_DIRECTORY_NOT_EMPTY ((NTSTATUS)0xC0000101)
#define STATUS_CANNOT_DELETE ((NTSTATUS)0xC0000121)
#define STATUS_NAME_TOO_LONG ((NTSTATUS)0xC0000106)

// Access rights.
#define DELETE 0x00010000
#define SYNCHRONIZE 0x00100000
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_ALL 0x10000000u
#define MAXIMUM_ALLOWED 0x02000000u
#define FILE_READ_DATA 0x0001
#define FILE_LIST_DIRECTORY 0x0001
#define FILE_WRITE_DATA 0x0002
#define FILE_APPEND_DATA 0x0004
#define FILE_READ_ATTRIBUTES 0x0080
#define FILE_WRITE_ATTRIBUTES 0x0100
#define EVENT_ALL_ACCESS 0x1F0003
#define SYMBOLIC_LINK_ALL_ACCESS 0xF0001

// File attributes.
#define FILE_ATTRIBUTE_READONLY 0x01
#define FILE_ATTRIBUTE_HIDDEN 0x02
#define FILE_ATTRIBUTE_SYSTEM 0x04
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_ARCHIVE 0x20
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400

// Sharing.
#define FILE_SHARE_READ 1
#define FILE_SHARE_WRITE 2
#define FILE_SHARE_DELETE 4

// Create dispositions (native numbering).
#define FILE_SUPERSEDE 0
#define FILE_OPEN 1
#define FILE_CREATE 2
#define FILE_OPEN_IF 3
#define FILE_OVERWRITE 4
#define FILE_OVERWRITE_IF 5

// Create options.
#define FILE_DIRECTORY_FILE 0x00000001
#define FILE_SYNCHRONOUS_IO_ALERT 0x00000010
#define FILE_SYNCHRONOUS_IO_NONALERT 0x00000020
#define FILE_NON_DIRECTORY_FILE 0x00000040
#define FILE_OPEN_FOR_BACKUP_INTENT 0x00004000

// IO_STATUS_BLOCK.Information values of NtCreateFile.
#define FILE_SUPERSEDED 0
#define FILE_OPENED 1
#define FILE_CREATED 2
#define FILE_OVERWRITTEN 3

// Object attributes.
#define OBJ_INHERIT 0x00000002
#define OBJ_CASE_INSENSITIVE 0x00000040

// Virtual memory.
#define MEM_COMMIT 0x1000
#define MEM_RESERVE 0x2000
#define MEM_DECOMMIT 0x4000
#define MEM_RELEASE 0x8000
#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define PAGE_EXECUTE 0x10
#define PAGE_EXECUTE_READ 0x20
#define PAGE_EXECUTE_READWRITE 0x40

// Heap flags.
#define HEAP_NO_SERIALIZE 0x00000001
#define HEAP_GROWABLE 0x00000002
#define HEAP_ZERO_MEMORY 0x00000008

// Device types and characteristics (FILE_FS_DEVICE_INFORMATION).
#define FILE_DEVICE_CD_ROM 0x02
#define FILE_DEVICE_CD_ROM_FILE_SYSTEM 0x03
#define FILE_DEVICE_DISK 0x07
#define FILE_DEVICE_DISK_FILE_SYSTEM 0x08
#define FILE_DEVICE_NETWORK_FILE_SYSTEM 0x14
#define FILE_DEVICE_VIRTUAL_DISK 0x24
#define FILE_REMOVABLE_MEDIA 0x01
#define FILE_REMOTE_DEVICE 0x10

// Registry value types.
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_RESOURCE_LIST 8
#define REG_FULL_RESOURCE_DESCRIPTOR 9
#define REG_RESOURCE_REQUIREMENTS_LIST 10
#define REG_QWORD 11
#define REG_OPTION_NON_VOLATILE 0

// Keyboard input record flags.
#define KEY_MAKE 0
#define KEY_BREAK 1
#define KEY_E0 2
#define KEY_E1 4

#define NtCurrentProcess() ((HANDLE)(intptr_t)-1)
#define NtCurrentThread() ((HANDLE)(intptr_t)-2)
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

typedef union _LARGE_INTEGER {
  struct {
    uint32_t LowPart;
    int32_t HighPart;
  } u;
  int64_t QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef struct _UNICODE_STRING {
  USHORT Length;         // bytes, without terminator
  USHORT MaximumLength;  // bytes
  WCHAR* Buffer;
} UNICODE_STRING, *PUNICODE_STRING;

typedef struct _ANSI_STRING {
  USHORT Length;
  USHORT MaximumLength;
  char* Buffer;
} ANSI_STRING, *PANSI_STRING;

typedef struct _OBJECT_ATTRIBUTES {
  ULONG Length;
  HANDLE RootDirectory;
  PUNICODE_STRING ObjectName;
  ULONG Attributes;
  PVOID SecurityDescriptor;
  PVOID SecurityQualityOfService;
} OBJECT_ATTRIBUTES, *POBJECT_ATTRIBUTES;

#define InitializeObjectAttributes(p, n, a, r, s) \
  do {                                            \
    (p)->Length = sizeof(OBJECT_ATTRIBUTES);      \
    (p)->RootDirectory = (r);                     \
    (p)->Attributes = (a);                        \
    (p)->ObjectName = (n);                        \
    (p)->SecurityDescriptor = (s);                \
    (p)->SecurityQualityOfService = 0;            \
  } while (0)

typedef struct _IO_STATUS_BLOCK {
  union {
    NTSTATUS Status;
    PVOID Pointer;
  };
  ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

typedef void (*PIO_APC_ROUTINE)(PVOID ApcContext, PIO_STATUS_BLOCK IoStatusBlock, ULONG Reserved);

typedef struct _CLIENT_ID {
  HANDLE UniqueProcess;
  HANDLE UniqueThread;
} CLIENT_ID, *PCLIENT_ID;

typedef struct _TIME_FIELDS {
  SHORT Year;
  SHORT Month;
  SHORT Day;
  SHORT Hour;
  SHORT Minute;
  SHORT Second;
  SHORT Milliseconds;
  SHORT Weekday;  // 0 = Sunday
} TIME_FIELDS, *PTIME_FIELDS;

typedef struct _RTL_HEAP_PARAMETERS {
  ULONG Length;
  SIZE_T SegmentReserve;
  SIZE_T SegmentCommit;
  SIZE_T DeCommitFreeBlockThreshold;
  SIZE_T DeCommitTotalFreeThreshold;
  SIZE_T MaximumAllocationSize;
  SIZE_T VirtualMemoryThreshold;
  SIZE_T InitialCommit;
  SIZE_T InitialReserve;
  PVOID CommitRoutine;
  SIZE_T Reserved[2];
} RTL_HEAP_PARAMETERS, *PRTL_HEAP_PARAMETERS;

// Critical section: opaque storage large enough for the stand-in's lock.
typedef struct _RTL_CRITICAL_SECTION {
  PVOID DebugInfo;
  LONG LockCount;
  LONG RecursionCount;
  HANDLE OwningThread;
  HANDLE LockSemaphore;
  ULONG_PTR SpinCount;
  uint8_t Storage[48];
} RTL_CRITICAL_SECTION, *PRTL_CRITICAL_SECTION;

// Information classes.
typedef enum _FILE_INFORMATION_CLASS {
  FileDirectoryInformation = 1,
  FileFullDirectoryInformation = 2,
  FileBothDirectoryInformation = 3,
  FileBasicInformation = 4,
  FileStandardInformation = 5,
  FileInternalInformation = 6,
  FileNameInformation = 9,
  FileRenameInformation = 10,
  FileNamesInformation = 12,
  FileDispositionInformation = 13,
  FilePositionInformation = 14,
  FileAllocationInformation = 19,
  FileEndOfFileInformation = 20,
  FileNetworkOpenInformation = 34,
} FILE_INFORMATION_CLASS;

typedef enum _FS_INFORMATION_CLASS {
  FileFsVolumeInformation = 1,
  FileFsSizeInformation = 3,
  FileFsDeviceInformation = 4,
  FileFsAttributeInformation = 5,
} FS_INFORMATION_CLASS;

typedef enum _KEY_VALUE_INFORMATION_CLASS {
  KeyValueBasicInformation = 0,
  KeyValueFullInformation = 1,
  KeyValuePartialInformation = 2,
} KEY_VALUE_INFORMATION_CLASS;

typedef enum _EVENT_TYPE { NotificationEvent = 0, SynchronizationEvent = 1 } EVENT_TYPE;

typedef struct _FILE_BASIC_INFORMATION {
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  ULONG FileAttributes;
} FILE_BASIC_INFORMATION, *PFILE_BASIC_INFORMATION;

typedef struct _FILE_STANDARD_INFORMATION {
  LARGE_INTEGER AllocationSize;
  LARGE_INTEGER EndOfFile;
  ULONG NumberOfLinks;
  BOOLEAN DeletePending;
  BOOLEAN Directory;
} FILE_STANDARD_INFORMATION, *PFILE_STANDARD_INFORMATION;

typedef struct _FILE_POSITION_INFORMATION {
  LARGE_INTEGER CurrentByteOffset;
} FILE_POSITION_INFORMATION;

typedef struct _FILE_END_OF_FILE_INFORMATION {
  LARGE_INTEGER EndOfFile;
} FILE_END_OF_FILE_INFORMATION;

typedef struct _FILE_ALLOCATION_INFORMATION {
  LARGE_INTEGER AllocationSize;
} FILE_ALLOCATION_INFORMATION;

typedef struct _FILE_DISPOSITION_INFORMATION {
  BOOLEAN DeleteFile;
} FILE_DISPOSITION_INFORMATION;

typedef struct _FILE_NETWORK_OPEN_INFORMATION {
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  LARGE_INTEGER AllocationSize;
  LARGE_INTEGER EndOfFile;
  ULONG FileAttributes;
} FILE_NETWORK_OPEN_INFORMATION, *PFILE_NETWORK_OPEN_INFORMATION;

typedef struct _FILE_BOTH_DIR_INFORMATION {
  ULONG NextEntryOffset;
  ULONG FileIndex;
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  LARGE_INTEGER EndOfFile;
  LARGE_INTEGER AllocationSize;
  ULONG FileAttributes;
  ULONG FileNameLength;  // bytes
  ULONG EaSize;
  char ShortNameLength;  // bytes
  WCHAR ShortName[12];
  WCHAR FileName[1];
} FILE_BOTH_DIR_INFORMATION, *PFILE_BOTH_DIR_INFORMATION;

typedef struct _FILE_FS_DEVICE_INFORMATION {
  ULONG DeviceType;
  ULONG Characteristics;
} FILE_FS_DEVICE_INFORMATION;

typedef struct _FILE_FS_SIZE_INFORMATION {
  LARGE_INTEGER TotalAllocationUnits;
  LARGE_INTEGER AvailableAllocationUnits;
  ULONG SectorsPerAllocationUnit;
  ULONG BytesPerSector;
} FILE_FS_SIZE_INFORMATION;

typedef struct _KEY_VALUE_PARTIAL_INFORMATION {
  ULONG TitleIndex;
  ULONG Type;
  ULONG DataLength;
  UCHAR Data[1];
} KEY_VALUE_PARTIAL_INFORMATION, *PKEY_VALUE_PARTIAL_INFORMATION;

typedef struct _KEYBOARD_INPUT_DATA {
  USHORT UnitId;
  USHORT MakeCode;
  USHORT Flags;
  USHORT Reserved;
  ULONG ExtraInformation;
} KEYBOARD_INPUT_DATA, *PKEYBOARD_INPUT_DATA;

static_assert(sizeof(KEYBOARD_INPUT_DATA) == 12, "keyboard record is 12 bytes");
static_assert(offsetof(FILE_BOTH_DIR_INFORMATION, FileName) == 94, "both-directory record layout");

typedef NTSTATUS (*PUSER_THREAD_START_ROUTINE)(PVOID ThreadParameter);

#ifdef __cplusplus
extern "C" {
#endif

// Entry point of a native program; the stand-in's main() calls it with a
// dummy parameter block after the machine has been loaded.
void NtProcessStartup(PVOID StartupArgument);

// Files and devices.
NTSTATUS NtCreateFile(HANDLE* FileHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                      PIO_STATUS_BLOCK IoStatusBlock, PLARGE_INTEGER AllocationSize, ULONG FileAttributes,
                      ULONG ShareAccess, ULONG CreateDisposition, ULONG CreateOptions, PVOID EaBuffer,
                      ULONG EaLength);
NTSTATUS NtOpenFile(HANDLE* FileHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                    PIO_STATUS_BLOCK IoStatusBlock, ULONG ShareAccess, ULONG OpenOptions);
NTSTATUS NtReadFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                    PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer, ULONG Length, PLARGE_INTEGER ByteOffset,
                    ULONG* Key);
NTSTATUS NtWriteFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                     PIO_STATUS_BLOCK IoStatusBlock, const void* Buffer, ULONG Length,
                     PLARGE_INTEGER ByteOffset, ULONG* Key);
NTSTATUS NtClose(HANDLE Handle);
NTSTATUS NtQueryInformationFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock, PVOID FileInformation,
                                ULONG Length, FILE_INFORMATION_CLASS FileInformationClass);
NTSTATUS NtSetInformationFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock, PVOID FileInformation,
                              ULONG Length, FILE_INFORMATION_CLASS FileInformationClass);
NTSTATUS NtQueryVolumeInformationFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock, PVOID FsInformation,
                                      ULONG Length, FS_INFORMATION_CLASS FsInformationClass);
NTSTATUS NtQueryDirectoryFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                              PIO_STATUS_BLOCK IoStatusBlock, PVOID FileInformation, ULONG Length,
                              FILE_INFORMATION_CLASS FileInformationClass, BOOLEAN ReturnSingleEntry,
                              PUNICODE_STRING FileName, BOOLEAN RestartScan);
NTSTATUS NtQueryFullAttributesFile(POBJECT_ATTRIBUTES ObjectAttributes,
                                   PFILE_NETWORK_OPEN_INFORMATION FileInformation);

// Symbolic links (drive letters under "\??\").
NTSTATUS NtOpenSymbolicLinkObject(HANDLE* LinkHandle, ACCESS_MASK DesiredAccess,
                                  POBJECT_ATTRIBUTES ObjectAttributes);
NTSTATUS NtQuerySymbolicLinkObject(HANDLE LinkHandle, PUNICODE_STRING LinkTarget, ULONG* ReturnedLength);

// Events, waits and delays. Relative time-outs are negative 100-ns counts.
NTSTATUS NtCreateEvent(HANDLE* EventHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                       EVENT_TYPE EventType, BOOLEAN InitialState);
NTSTATUS NtSetEvent(HANDLE EventHandle, LONG* PreviousState);
NTSTATUS NtClearEvent(HANDLE EventHandle);
NTSTATUS NtWaitForSingleObject(HANDLE Handle, BOOLEAN Alertable, PLARGE_INTEGER Timeout);
NTSTATUS NtDelayExecution(BOOLEAN Alertable, PLARGE_INTEGER DelayInterval);

// Registry.
NTSTATUS NtOpenKey(HANDLE* KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes);
NTSTATUS NtCreateKey(HANDLE* KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                     ULONG TitleIndex, PUNICODE_STRING Class, ULONG CreateOptions, ULONG* Disposition);
NTSTATUS NtDeleteKey(HANDLE KeyHandle);
NTSTATUS NtQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName,
                         KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass, PVOID KeyValueInformation,
                         ULONG Length, ULONG* ResultLength);
NTSTATUS NtSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG TitleIndex, ULONG Type,
                       const void* Data, ULONG DataSize);
NTSTATUS NtDeleteValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName);
NTSTATUS RtlOpenCurrentUser(ACCESS_MASK DesiredAccess, HANDLE* KeyHandle);
ULONG RtlNtStatusToDosError(NTSTATUS Status);

// Heaps and virtual memory.
PVOID RtlCreateHeap(ULONG Flags, PVOID HeapBase, SIZE_T ReserveSize, SIZE_T CommitSize, PVOID Lock,
                    PRTL_HEAP_PARAMETERS Parameters);
PVOID RtlDestroyHeap(PVOID HeapHandle);
PVOID RtlAllocateHeap(PVOID HeapHandle, ULONG Flags, SIZE_T Size);
PVOID RtlReAllocateHeap(PVOID HeapHandle, ULONG Flags, PVOID Address, SIZE_T Size);
BOOLEAN RtlFreeHeap(PVOID HeapHandle, ULONG Flags, PVOID Address);
PVOID RtlProcessHeap(void);
NTSTATUS NtAllocateVirtualMemory(HANDLE ProcessHandle, PVOID* BaseAddress, ULONG_PTR ZeroBits,
                                 SIZE_T* RegionSize, ULONG AllocationType, ULONG Protect);
NTSTATUS NtFreeVirtualMemory(HANDLE ProcessHandle, PVOID* BaseAddress, SIZE_T* RegionSize, ULONG FreeType);
NTSTATUS NtProtectVirtualMemory(HANDLE ProcessHandle, PVOID* BaseAddress, SIZE_T* RegionSize,
                                ULONG NewProtect, ULONG* OldProtect);

// Threads and processes.
NTSTATUS RtlCreateUserThread(HANDLE Process, PVOID SecurityDescriptor, BOOLEAN CreateSuspended,
                             ULONG StackZeroBits, SIZE_T StackReserve, SIZE_T StackCommit,
                             PUSER_THREAD_START_ROUTINE StartAddress, PVOID Parameter, HANDLE* ThreadHandle,
                             PCLIENT_ID ClientId);
NTSTATUS NtTerminateProcess(HANDLE ProcessHandle, NTSTATUS ExitStatus);
NTSTATUS NtTerminateThread(HANDLE ThreadHandle, NTSTATUS ExitStatus);
// Starts a thread created suspended.
NTSTATUS NtResumeThread(HANDLE ThreadHandle, ULONG* SuspendCount);

// Critical sections.
NTSTATUS RtlInitializeCriticalSection(PRTL_CRITICAL_SECTION CriticalSection);
NTSTATUS RtlEnterCriticalSection(PRTL_CRITICAL_SECTION CriticalSection);
NTSTATUS RtlLeaveCriticalSection(PRTL_CRITICAL_SECTION CriticalSection);
NTSTATUS RtlDeleteCriticalSection(PRTL_CRITICAL_SECTION CriticalSection);

// Environment, time and time zone.
NTSTATUS RtlQueryEnvironmentVariable_U(PVOID Environment, PUNICODE_STRING Name, PUNICODE_STRING Value);
NTSTATUS NtQuerySystemTime(PLARGE_INTEGER SystemTime);
NTSTATUS RtlSystemTimeToLocalTime(const LARGE_INTEGER* SystemTime, PLARGE_INTEGER LocalTime);
void RtlTimeToTimeFields(const LARGE_INTEGER* Time, PTIME_FIELDS TimeFields);
BOOLEAN RtlTimeFieldsToTime(const TIME_FIELDS* TimeFields, PLARGE_INTEGER Time);

// Boot screen.
NTSTATUS NtDisplayString(PUNICODE_STRING String);

// Strings, paths and code pages.
void RtlInitUnicodeString(PUNICODE_STRING Destination, const WCHAR* Source);
void RtlInitAnsiString(PANSI_STRING Destination, const char* Source);
void RtlFreeUnicodeString(PUNICODE_STRING String);
void RtlFreeAnsiString(PANSI_STRING String);
NTSTATUS RtlAnsiStringToUnicodeString(PUNICODE_STRING Destination, const ANSI_STRING* Source,
                                      BOOLEAN AllocateDestination);
NTSTATUS RtlUnicodeStringToAnsiString(PANSI_STRING Destination, const UNICODE_STRING* Source,
                                      BOOLEAN AllocateDestination);
NTSTATUS RtlMultiByteToUnicodeN(WCHAR* UnicodeString, ULONG MaxBytesInUnicodeString, ULONG* BytesInUnicodeString,
                                const char* MultiByteString, ULONG BytesInMultiByteString);
NTSTATUS RtlUnicodeToMultiByteN(char* MultiByteString, ULONG MaxBytesInMultiByteString,
                                ULONG* BytesInMultiByteString, const WCHAR* UnicodeString,
                                ULONG BytesInUnicodeString);
// Turns "C:\dir\name" into "\??\C:\dir\name" (allocated; free with RtlFreeUnicodeString).
BOOLEAN RtlDosPathNameToNtPathName_U(const WCHAR* DosName, PUNICODE_STRING NtName, const WCHAR** FilePart,
                                     PVOID RelativeName);
// Non-zero (offset << 16 | length in bytes) when the path names a DOS device such as CON or NUL.
ULONG RtlIsDosDeviceName_U(const WCHAR* DosFileName);

#ifdef __cplusplus
}
#endif
