// Test routine: opens a side file and keeps the handle, as a routine may
// from file to file.
#define TW_ROUTINES(R) R(KeepOpen)
#include "library/base/base.h"

TW_CHECK(KeepOpen) {
  TwFileOpen(q, "C:\\f\\kept.txt", TW_ACCESS_READ, TW_OPEN_EXISTING);
  return TW_UNDECIDED;
}
