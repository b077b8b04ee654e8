// File 0, section 2: 64-bit arithmetic (the runtime helpers), memory
// helpers, a host service.
#define TW_ROUTINES(R) R(Math)
#include "library/sdk/tarnwell.h"
#include "tests/library/roundtrip/shared.h"

struct Block {
  unsigned char bytes[300];
};

static Block Fill(unsigned char v) {
  Block b;
  for (int i = 0; i < 300; ++i) b.bytes[i] = (unsigned char)(v + i);
  return b;
}

// size = q->size; answers a mix of signed and unsigned 64-bit division,
// remainder, multiplication and shifts, and a copied structure.
TW_CHECK(Math) {
  volatile unsigned size = q->size;
  unsigned long long w = Wide(size);
  long long s = -(long long)w;
  unsigned long long r = w / (size | 1) + w % 1000003 + (unsigned long long)(s / 7) + (unsigned long long)(s % 11);
  r += (w << (size & 31)) + (w >> (size & 15)) + (unsigned long long)(s >> (size & 7));
  r += w * (unsigned long long)(size + 3);
  Block a = Fill((unsigned char)size);
  volatile Block b = a;
  Block c;
  memset(&c, 0, sizeof c);
  return (unsigned long)(r ^ (r >> 32)) + b.bytes[299] + c.bytes[7];
}

// Host service 19 with code 5 answers 4; with 1 it asks for the sweep.
TW_REPAIR(Math) { return TwRequestSweep(q, 5) + TwRequestSweep(q, 1) * 100; }
