// The boot-time session's own state and operations: the key prompt and the
// key reader, the drive tables and menu, the directory walk, and the run.
#pragma once

// Only the memory helpers of <string.h> are used (no C runtime otherwise).
#include <string.h>

#include "scanner/engine/engine.h"
#include "scanner/runtime/runtime.h"
#include "scanner/session/drives.h"
#include "scanner/session/scan_record.h"

// ---- process-wide state of the run (main thread only, except gLastKey) ----

extern RuntimeContext gContext;
extern ScanRecord gScanRecord;
extern ScanEngine* gEngine;  // null until the library is loaded
extern uint32_t gLibraryMode;

const uint32_t kDriveTableSize = 32;
const uint32_t kDriveEntryUnits = 32;
struct DriveTable {
  WCHAR entries[kDriveTableSize][kDriveEntryUnits];  // "C:\" ...; first unit upper case
  uint32_t count;
};
extern DriveTable gFixedDrives;
extern DriveTable gRemovableDrives;
extern char gFixedLetters[64];      // "C:D:" ...
extern char gRemovableLetters[64];

// ---- keyboard ----

const uint8_t kKeyEsc = 0x1B;
// Neither a menu key, a drive letter nor Esc.
const uint32_t kNoKey = 0xFF;

uint32_t PromptForKey(RuntimeContext* ctx);  // a character, 0, or kNoKey
int OpenKeyReader(RuntimeContext* ctx);
uint32_t ReadKey(RuntimeContext* ctx);  // virtual-key code, 'X' on time-out, kNoKey
// Starts KeyReaderThread; 0 on success, 0xFFFFFFFF on failure.
uint32_t StartKeyReader(RuntimeContext* ctx);
NTSTATUS KeyReaderThread(PVOID parameter);
// Stops the reader thread from touching the reader handles, then closes
// them. Handles that the thread might still use are left to the end of the
// process instead.
int CloseKeyReader(RuntimeContext* ctx);
uint8_t LastKey();
// The two key tables: make code to prompt character (0 for none), and make
// code (low 7 bits) to virtual-key code.
char PromptKeyChar(uint16_t makeCode);
uint8_t ReaderKeyCode(uint16_t makeCode);

// ---- drives and menu ----

uint32_t BuildDriveMenu(void* workBuffer1024);

// ---- directory walk ----

const uint32_t kPathUnits = 1024;     // walk path buffer, terminator included
const uint32_t kAnsiPathBytes = 1024;  // 1023 bytes and a terminator
const uint32_t kMaxWalkDepth = 256;    // directory levels below a target

void ScanTree(const WCHAR* directory, int usbFlag);
void ScanDirectoryFiles(const WCHAR* directory);
int ScanOneFile(const WCHAR* path);
void ShowProgress(const char* ansiPath);
void ShowVerdict();

// ---- the run ----

void RunSession(PVOID startupArgument);
void LoadVirusLibrary(uint32_t mode);
void PrintSummary(const LocalTime* start, const LocalTime* end);
// Whole seconds from start to end, using the full dates; 0 when the end lies
// before the start (clock set back).
uint32_t ElapsedSeconds(const LocalTime* start, const LocalTime* end);
[[noreturn]] void EndSession();

// ---- the scan engine, as the session sees it ----
// A scanner built without an engine answers success with a null engine, so
// the walk shows every file and scans none.
int SessionCreateEngine(RuntimeContext* ctx, const EngineSettings* settings, ScanEngine** engine);
void SessionScanFile(ScanEngine* engine, ScanRecord* record);
void SessionDestroyEngine(ScanEngine* engine);
