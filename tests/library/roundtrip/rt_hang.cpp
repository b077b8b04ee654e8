// File 2, section 2: a routine that never returns, and one whose frame is
// far larger than its stack (the stack probe reaches the guard region).
#define TW_ROUTINES(R) R(Hang)
#include "library/sdk/tarnwell.h"

TW_CHECK(Hang) {
  volatile unsigned* v = &q->size;
  for (;;) *v = *v + 1;
  return 0;
}
TW_REPAIR(Hang) {
  unsigned char huge[32 << 20];
  huge[q->size & 0xFFFF] = 1;
  // The array escapes to a host service, so the frame is real.
  return TwScanRead(q, huge, 16) + huge[(q->size >> 3) & 0xFFFF];
}
