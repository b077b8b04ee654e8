// File 2, section 2: routines that fault.
#define TW_ROUTINES(R) R(Faults)
#include "library/sdk/tarnwell.h"

TW_CHECK(Faults) {
  volatile unsigned* p = (volatile unsigned*)(unsigned long)(q->size & 0x10000);  // null for small sizes
  return *p;
}
TW_REPAIR(Faults) {
  __builtin_trap();
  return 0;
}
