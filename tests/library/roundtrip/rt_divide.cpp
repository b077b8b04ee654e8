// File 2, section 2: division by zero and endless recursion.
#define TW_ROUTINES(R) R(Divide)
#include "library/sdk/tarnwell.h"

static unsigned Deep(volatile unsigned* n) {
  volatile char frame[256];
  frame[0] = (char)*n;
  *n = *n + 1;
  return Deep(n) + frame[0];
}

TW_CHECK(Divide) {
  volatile unsigned zero = q->size - q->size;
  return 100 / zero;
}
TW_REPAIR(Divide) {
  volatile unsigned n = 0;
  return Deep(&n);
}
