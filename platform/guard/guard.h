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

// What ended the last guarded call that did not return normally.
enum {
  kTwFaultNone = 0,
  kTwFaultAccess = 1,    // SIGSEGV: access violation, stack overflow
  kTwFaultBus = 2,       // SIGBUS
  kTwFaultIllegal = 3,   // SIGILL: illegal instruction
  kTwFaultArith = 4,     // SIGFPE: division by zero, overflow
  kTwFaultWatchdog = 5,  // a routine ran past the watchdog bound
};
int TwLastFault(void);
// Faults contained on this thread so far.
uint32_t TwFaultCount(void);

// Watchdog bound for one routine call (outermost TwCallRoutine), in
// milliseconds; 5000 by default. Process-wide.
void TwSetWatchdogMillis(uint32_t ms);

// Host services bracket their work with these: the watchdog never stops a
// routine inside a host service (it may hold a lock or state that must stay
// consistent); it stops it when the service returns to library code.
void TwEnterHost(void);
void TwLeaveHost(void);

#ifdef __cplusplus
}
#endif
