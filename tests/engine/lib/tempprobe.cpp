// Test routine: present only while both temporary files of a doubly packed
// file exist under their names (the scanner's "Temp" is C:\WINDOWS\Temp on
// the test machines).
#define TW_ROUTINES(R) R(TempProbe)
#include "library/base/base.h"

static int Exists(CQEL* q, const char* path) {
  TwHandle h = TwFileOpen(q, path, TW_ACCESS_READ, TW_OPEN_EXISTING);
  if (!h || h == (TwHandle)-1) return 0;
  TwFileClose(q, h);
  return 1;
}

TW_CHECK(TempProbe) {
  return Exists(q, "C:\\WINDOWS\\Temp\\Ftmp000.upk") && Exists(q, "C:\\WINDOWS\\Temp\\Ftmp001.upk") ? TW_PRESENT
                                                                                                      : TW_UNDECIDED;
}
