// Example section-0 object: the special entries and a helper that routines
// of later objects (of this or later files) can call.
#include "library/sdk/tarnwell.h"

// Exported helper: a C++ name starting with "?" is exported by the loader.
unsigned int ExampleSum(const unsigned char* p, unsigned int n) {
  unsigned int s = 0;
  for (unsigned int i = 0; i < n; ++i) s += p[i];
  return s;
}

TW_ENTRY(StartHook1) { return 1; }

// One unit per file: the first 64 bytes of the file, unit type 1.
TW_ENTRY(NextUnit) {
  if (q->reserved20[0] != 0) return 0;  // already delivered
  q->reserved20[0] = 1;
  TwScanSeek(q, 0);
  unsigned int n = TwScanRead(q, q->unitWindow, 64);
  q->unitType = 1;
  return n != 0;
}
