// The END unit of a ZIP member layer: answering "packer present" without
// writing a layer ends the member's pass with 10, which lets the scanner ask
// the archive's unpack entry for the next member.
#define TW_ROUTINES(R) R(ZipNext)
#include "library/base/base.h"

TW_CHECK(ZipNext) {
  return q->unitType == kUnitEnd && CurrentLevel(q)->kind == kLevelMember ? TW_PACKER : TW_UNDECIDED;
}

TW_UNPACK(ZipNext) { return TW_PACKER; }
