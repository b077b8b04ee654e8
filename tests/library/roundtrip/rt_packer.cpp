// File 0, section 3: a packer routine.
#define TW_ROUTINES(R) R(Packer)
#include "library/sdk/tarnwell.h"

TW_CHECK(Packer) { return TW_PACKER; }
TW_UNPACK(Packer) { return TW_UNPACKED; }
