// Test packer: recognised, writes one layer, then faults when asked for the
// next one (after the layer's pass ended with 10 through its END-like unit).
#define TW_ROUTINES(R) R(UnpackFault)
#include "library/base/base.h"

TW_CHECK(UnpackFault) {
  LibLevel* level = CurrentLevel(q);
  level->unpacker = 7;
  level->archiveSize = q->size;
  level->step = 0;
  return TW_PACKER;
}

TW_UNPACK(UnpackFault) {
  LibLevel* level = FindUnpackLevel(q, 7, LayerFileSize(q));
  if (level && level->step == 0) {
    level->step = 1;
    static const char text[] = "a harmless layer of the unpack-fault test\r\n";
    WriteLayer(q, text, sizeof(text) - 1);
    LayerWritten(q, kLevelMember);  // its END unit answers 10, so this entry is called again
    return TW_UNPACKED;
  }
  volatile tw_u32* p = 0;
  *p = 2;
  return 0;
}
