// The inflater's hot loop: decodes literal/length and distance codes straight
// from the input buffer into the window while enough input and window room
// remain that no per-bit or per-byte bounds checks are needed. Distances are
// still checked against the history actually produced.
#include "scanner/codec/inflate_internal.h"

namespace inflate {
namespace {

inline BitBuffer LoadWord(const uint8_t* p) {
  BitBuffer v;
  __builtin_memcpy(&v, p, sizeof v);  // x86 is little-endian, as DEFLATE's bit order wants
  return v;
}

// Copies `length` bytes from `from` to `out`. Either `from` lies ahead of
// `out` in the window (history from the previous lap) or `from` is `out`
// minus the distance; copying forward reproduces overlapping matches.
inline uint8_t* CopyBytes(uint8_t* out, const uint8_t* from, uint32_t length) {
  if (from > out || out - from >= 8) {
    while (length >= 8) {
      uint64_t chunk;
      __builtin_memcpy(&chunk, from, 8);
      __builtin_memcpy(out, &chunk, 8);
      out += 8;
      from += 8;
      length -= 8;
    }
  }
  while (length--) *out++ = *from++;
  return out;
}

}  // namespace

FastResult InflateFast(State* s, const Entry* lenTable, const Entry* distTable) {
  const uint8_t* in = s->in + s->inPos;
  const uint8_t* const inLast = s->in + s->inEnd - kFastInputMargin;
  uint8_t* const window = s->window;
  uint8_t* out = window + s->wpos;
  uint8_t* const outLast = window + kWindowSize - kMaxMatch;
  const bool windowFull = s->windowFull;
  BitBuffer hold = s->hold;
  uint32_t bits = s->bits;
  FastResult result = FastResult::kNeedSlow;

  // Tops the bit buffer up to at least kBitBufferBits - 8 bits with one word
  // load. The bits loaded above the count are the following input bytes, so
  // loading them again later ORs in the same values.
#define REFILL()                                    \
  do {                                              \
    hold |= LoadWord(in) << bits;                   \
    in += (kBitBufferBits - 1 - bits) >> 3;         \
    bits |= kBitBufferBits - 8;                     \
  } while (0)

  do {
    REFILL();
    Entry e = lenTable[hold & ((1u << kLenRootBits) - 1)];
    if ((e.op & 0xF0) == kOpLink) {
      hold >>= e.bits;
      bits -= e.bits;
      e = lenTable[e.val + (hold & ((1u << (e.op & kOpLowMask)) - 1))];
    }
    hold >>= e.bits;
    bits -= e.bits;
    if (e.op == kOpLiteral) {
      *out++ = (uint8_t)e.val;
      continue;
    }
    if ((e.op & 0xF0) != kOpBase) {
      result = e.op == kOpEnd ? FastResult::kEndOfBlock : FastResult::kBad;
      break;
    }
    // Length: at most 15 code bits plus 5 extra bits, within one refill.
    uint32_t extra = e.op & kOpLowMask;
    const uint32_t length = e.val + (uint32_t)(hold & ((1u << extra) - 1));
    hold >>= extra;
    bits -= extra;

    if (bits < 15) REFILL();
    Entry d = distTable[hold & ((1u << kDistRootBits) - 1)];
    if ((d.op & 0xF0) == kOpLink) {
      hold >>= d.bits;
      bits -= d.bits;
      d = distTable[d.val + (hold & ((1u << (d.op & kOpLowMask)) - 1))];
    }
    hold >>= d.bits;
    bits -= d.bits;
    if ((d.op & 0xF0) != kOpBase) {
      result = FastResult::kBad;
      break;
    }
    extra = d.op & kOpLowMask;
    if (bits < extra) REFILL();
    const uint32_t distance = d.val + (uint32_t)(hold & ((1u << extra) - 1));
    hold >>= extra;
    bits -= extra;

    const uint32_t position = (uint32_t)(out - window);
    if (distance <= position) {
      out = CopyBytes(out, out - distance, length);
      continue;
    }
    if (!windowFull) {
      result = FastResult::kBad;  // reaches before the first byte produced
      break;
    }
    // The match starts in the previous lap of the window.
    const uint32_t back = distance - position;
    const uint8_t* from = window + kWindowSize - back;
    if (back >= length) {
      out = CopyBytes(out, from, length);
    } else {
      out = CopyBytes(out, from, back);
      out = CopyBytes(out, window, length - back);
    }
  } while (in < inLast && out < outLast);
#undef REFILL

  // Give back the whole bytes not consumed and clear the bits above the count.
  in -= bits >> 3;
  bits &= 7;
  hold &= ((BitBuffer)1 << bits) - 1;
  s->inPos = (uint32_t)(in - s->in);
  s->wpos = (uint32_t)(out - window);
  s->hold = hold;
  s->bits = bits;
  return result;
}

}  // namespace inflate
