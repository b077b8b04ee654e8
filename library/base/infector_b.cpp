// Test infector B: recognised here, repaired by GenericRepair from the
// record's parameters (restore the saved head, cut the block).
#define TW_ROUTINES(R) R(InfectorB)
#include "library/base/infector.h"

TW_CHECK(InfectorB) { return BlockFits(q, kInfectorBBlock) ? TW_PRESENT : TW_UNDECIDED; }

TW_REPAIR(InfectorB) { return TW_GENERIC; }
