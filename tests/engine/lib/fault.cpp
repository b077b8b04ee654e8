// Test routine: raises an access violation when its check is called.
#define TW_ROUTINES(R) R(Fault)
#include "library/base/base.h"

TW_CHECK(Fault) {
  volatile tw_u32* p = (volatile tw_u32*)(unsigned long)(q->size & 0);
  *p = 1;
  return TW_PRESENT;
}
