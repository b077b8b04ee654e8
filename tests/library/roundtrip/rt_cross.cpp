// File 2, section 2: calls the helper exported by file 1's section 0.
#define TW_ROUTINES(R) R(Cross)
#include "library/sdk/tarnwell.h"
#include "tests/library/roundtrip/shared.h"

TW_CHECK(Cross) { return SharedMix(q->size); }
TW_REPAIR(Cross) { return q->unitWindow[0] == 'M' ? TW_REPAIRED : TW_GENERIC; }
