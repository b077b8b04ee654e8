// Running foreign library code: a fault guard that turns processor faults
// (access violation, bus error, illegal instruction, division by zero, stack
// overflow) and hangs (watchdog) of library code into an ordinary return, and
// a call thunk that enters a routine on a stack of its own.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Runs fn(arg). Answers 1 when fn returned normally, 0 when a fault or the
// watchdog ended it. Guards nest: a fault ends the innermost guarded call.
int TwGuardedRun(void (*fn)(void* arg), void* arg);

// Calls a stdcall member routine: pushes obj twice (this, then the argument)
// and answers its 32-bit result. Runs on the library stack with the direction
// flag cleared; must be called inside TwGuardedRun.
uint32_t TwCallRoutine(uint32_t entry, void* obj);

#ifdef __cplusplus
}
#endif
