// Test routine: present, but its repair declines and the record's parameters
// give GenericRepair nothing to do.
#define TW_ROUTINES(R) R(NoFix)
#include "library/base/base.h"

TW_CHECK(NoFix) { return TW_PRESENT; }
TW_REPAIR(NoFix) { return TW_GENERIC; }
