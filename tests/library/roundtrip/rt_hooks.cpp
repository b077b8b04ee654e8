// File 0, section 0: the special entries and a helper.
#include "library/sdk/tarnwell.h"
#include "tests/library/roundtrip/shared.h"

unsigned long long Wide(unsigned x) { return (unsigned long long)x * 0x100000001ull; }

TW_ENTRY(StartHook1) { return 0x51; }
TW_ENTRY(StopHook1) { return 0x52; }
TW_ENTRY(StartHook2) { return 0x53; }
TW_ENTRY(StopHook2) { return 0x54; }
// Counts its calls in the object's free area; no unit after the third.
TW_ENTRY(NextUnit) {
  unsigned* calls = (unsigned*)&q->reserved20[0];
  return ++*calls <= 3 ? 1 : 0;
}
TW_ENTRY(GenericRepair) { return TW_REPAIRED; }
