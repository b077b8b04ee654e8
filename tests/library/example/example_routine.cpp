// Example section-2 routine: present when the unit starts with "MZ" and its
// byte sum (computed by the section-0 helper) is even; the repair entry
// writes "OK" over the first two bytes of the scanned file.
#define TW_ROUTINES(R) R(Example)
#include "library/sdk/tarnwell.h"

unsigned int ExampleSum(const unsigned char* p, unsigned int n);

TW_CHECK(Example) {
  if (q->unitWindow[0] != 'M' || q->unitWindow[1] != 'Z') return TW_UNDECIDED;
  return ExampleSum(q->unitWindow, 64) % 2 == 0 ? TW_PRESENT : TW_UNDECIDED;
}

TW_REPAIR(Example) {
  TwScanSeek(q, 0);
  return TwScanWrite(q, "OK", 2) == 2 ? TW_REPAIRED : TW_GENERIC;
}
