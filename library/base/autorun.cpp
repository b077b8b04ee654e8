// USB autorun worm: reports the autorun.inf that starts a program on a
// removable drive (the record's check matches the NAME unit "autorun.inf").
#define TW_ROUTINES(R) R(Autorun)
#include "library/base/autorun.h"

TW_CHECK(Autorun) {
  if (q->unitType != kUnitName || q->size > kMaxInfBytes) return TW_UNDECIDED;
  char* text = (char*)TwTrackedAlloc(q, q->size + 1);
  if (!text) return TW_UNDECIDED;
  tw_u32 got = ReadScanned(q, 0, text, q->size);
  int found = AnalyzeAutorun(q, q->path, text, got);
  TwTrackedFree(q, text);
  return found ? TW_PRESENT : TW_UNDECIDED;
}
