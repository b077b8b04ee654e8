// File 1, section 0: a helper for routines of later files.
#include "library/sdk/tarnwell.h"
#include "tests/library/roundtrip/shared.h"

unsigned SharedMix(unsigned x) { return x * 2654435761u ^ (x >> 7); }
