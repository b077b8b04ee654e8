// Test and start-up controls of the native-interface stand-in (tw_ntdll32):
// loading a machine in-process, capturing the boot screen, failing chosen
// calls, feeding keys. Not part of the native interface the scanner sees.
#pragma once

#include "platform/nt/ntdll.h"

#ifdef __cplusplus
extern "C" {
#endif

// Loads the machine (a machine.json or its folder) and its registry and makes
// it the machine of every later call. May be called again to switch machines:
// handles of the previous machine become invalid. Returns 1 on success; on
// failure returns 0 and writes one line (naming the file and the problem)
// into err.
int TwNtInit(const char* machinePath, char* err, unsigned errLen);

// Receives every NtDisplayString text as UTF-8 instead of standard output;
// a null sink restores standard output.
typedef void (*TwDisplaySink)(const char* utf8, size_t length, void* context);
void TwNtSetDisplaySink(TwDisplaySink sink, void* context);

// Makes the nth next call (1 = the very next) of the named function fail
// with `status` (functions without a status result just fail: a null heap
// block, FALSE). Names are the exported names, e.g. "NtCreateFile",
// "RtlAllocateHeap". Each armed fault fires once.
void TwNtFailCall(const char* function, unsigned nth, NTSTATUS status);
void TwNtClearFaults(void);

// Queues one keyboard record as if a key had been pressed (tests).
void TwNtPushKey(USHORT makeCode, USHORT flags);

// Number of open handles (for leak checks in tests).
unsigned TwNtHandleCount(void);

// Makes `value` the next handle value to be handed out (tests of the wrap of
// handle values after a billion handles). Values still open are skipped.
void TwNtSetNextHandleValue(unsigned value);

// The stand-in's main(): loads TARNWELL_MACHINE, prepares the boot screen and
// calls NtProcessStartup. Exposed for programs that provide their own main.
int TwNtMain(int argc, char** argv);

#ifdef __cplusplus
}
#endif
