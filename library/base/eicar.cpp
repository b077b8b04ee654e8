// EICAR anti-virus test file: the record's check covers the 68-byte string
// at the start of the file; this routine accepts only what the convention
// allows after it: white space (space, tab, CR, LF, Ctrl-Z) up to 128 bytes
// in all. No repair: the record's parameters let GenericRepair delete it.
#define TW_ROUTINES(R) R(Eicar)
#include "library/base/base.h"

TW_CHECK(Eicar) {
  if (q->size < 68 || q->size > 128 || q->unitType != kUnitHead) return TW_UNDECIDED;
  for (tw_u32 i = 68; i < q->size; i++) {
    tw_u8 c = q->unitWindow[i];
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != 0x1A) return TW_UNDECIDED;
  }
  return TW_PRESENT;
}
