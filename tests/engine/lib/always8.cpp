// Test routine: present, and its repair answers "repaired" without changing
// anything, so the virus is still there after every repair.
#define TW_ROUTINES(R) R(Always8)
#include "library/base/base.h"

TW_CHECK(Always8) { return TW_PRESENT; }
TW_REPAIR(Always8) { return TW_REPAIRED; }
