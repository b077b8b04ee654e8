// Test routine: opens two side files and then faults, leaving both handles
// to the engine. Files open without sharing, so a handle left open would make
// the next open of the same file fail.
#define TW_ROUTINES(R) R(OpenFault)
#include "library/base/base.h"

TW_CHECK(OpenFault) {
  if (!TwFileOpen(q, "C:\\f\\side1.txt", TW_ACCESS_READ, TW_OPEN_EXISTING)) return TW_UNDECIDED;
  if (!TwFileOpen(q, "C:\\f\\side2.txt", TW_ACCESS_READ, TW_OPEN_EXISTING)) return TW_UNDECIDED;
  volatile tw_u32* p = (volatile tw_u32*)(unsigned long)(q->size & 0);
  *p = 1;
  return TW_PRESENT;
}
