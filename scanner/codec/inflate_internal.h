// Inflater internals shared by its stages: the decoder state (input buffer,
// sliding window, bit buffer), the Huffman table entries, and the stage entry
// points (table builder, fast loop, block decoder).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace inflate {

constexpr uint32_t kInputSize = 32768;
constexpr uint32_t kWindowSize = 32768;
constexpr uint32_t kMaxMatch = 258;
constexpr uint32_t kLenRootBits = 9;
constexpr uint32_t kDistRootBits = 6;
constexpr uint32_t kCodeLenRootBits = 7;  // the code-length code is at most 7 bits long

// Largest tables a complete (or permitted incomplete) code can need with the
// root sizes above: 286 literal/length symbols, 9-bit root, 15-bit codes ->
// 852 entries; 30 distance symbols, 6-bit root -> 592 entries. These are the
// known maxima for these parameters; the builder still checks every sub-table
// against the room it is given, so a wrong bound could only reject a stream.
constexpr uint32_t kLenTableSize = 852;
constexpr uint32_t kDistTableSize = 592;
constexpr uint32_t kCodeLenTableSize = 1u << kCodeLenRootBits;

// One table entry. `op` says what it is:
//   kOpLiteral          val is the literal byte
//   kOpBase | extra     val is a length or distance base, `extra` more bits follow
//   kOpLink | subBits   val is the index of a sub-table of 2^subBits entries
//   kOpEnd              end of block
//   kOpBad              a code that is not in use
// `bits` is the number of bits the entry consumes (for a link: the root bits).
struct Entry {
  uint8_t op;
  uint8_t bits;
  uint16_t val;
};
static_assert(sizeof(Entry) == 4, "table entries are 4 bytes");

enum : uint8_t {
  kOpLiteral = 0x00,
  kOpBase = 0x10,
  kOpEnd = 0x20,
  kOpLink = 0x40,
  kOpBad = 0x60,
  kOpLowMask = 0x0F,
};

enum class CodeKind { kCodeLengths, kLengths, kDistances };

// Builds the decoding table of a canonical Huffman code from its code lengths
// (0 = unused symbol). Rejects over-subscribed codes and incomplete ones, except
// the single one-bit code that DEFLATE permits for lengths and distances, and
// the empty distance code. Returns false for a bad code or if the table would
// exceed `capacity` entries.
bool BuildTable(CodeKind kind, const uint8_t* lengths, uint32_t count, Entry* table,
                uint32_t rootBits, uint32_t capacity);

// The bit buffer is as wide as a machine word: the 32-bit scanner keeps 32
// bits, the 64-bit tools 64.
typedef uintptr_t BitBuffer;
constexpr uint32_t kBitBufferBits = sizeof(BitBuffer) * 8;

struct State {
  const uint8_t* src;
  uint32_t srcLength;
  uint32_t srcPos;  // source bytes already moved into `in`

  uint8_t* dst;
  uint32_t capacity;
  uint32_t stored;    // bytes copied to dst (never more than capacity)
  uint64_t produced;  // bytes flushed from the window, stored or not

  bool inputExhausted;
  bool outputOverflow;

  uint32_t inPos;  // next unread byte of `in`
  uint32_t inEnd;  // bytes valid in `in`

  uint32_t wpos;     // bytes in the window not yet flushed
  bool windowFull;   // the window has been filled at least once: all 32 KiB are history
  uint32_t crc;      // running CRC-32 of flushed bytes

  BitBuffer hold;  // unread bits, least significant first; bits above `bits` are 0
  uint32_t bits;

  bool fixedBuilt;
  Entry fixedLen[512];  // 288 symbols of at most 9 bits: one root table
  Entry fixedDist[64];  // 32 symbols of 5 bits in a 6-bit root
  Entry lenTable[kLenTableSize];
  Entry distTable[kDistTableSize];
  Entry codeLenTable[kCodeLenTableSize];

  // Slack after each buffer so that word-sized loads near the end stay inside
  // the allocation; the decoder never uses the slack's contents.
  uint8_t in[kInputSize + 16];
  uint8_t window[kWindowSize + 16];
};

// Result of the fast loop.
enum class FastResult { kEndOfBlock, kBad, kNeedSlow };

// Bytes of input the fast loop keeps in reserve: it may read a word ahead and
// refills at most three times per symbol.
constexpr uint32_t kFastInputMargin = 32;

// Decodes symbols while at least kFastInputMargin input bytes and kMaxMatch
// window bytes are available. Updates the state's cursors and bit buffer.
FastResult InflateFast(State* s, const Entry* lenTable, const Entry* distTable);

// Moves unread input to the front of `in` and tops it up from the source.
void TopUpInput(State* s);
// Flushes the window to the destination; false once more bytes were produced
// than the capacity holds (the stream is then bad anyway).
bool FlushWindow(State* s);

// Runs the DEFLATE decoder over the input: true when the last block ended.
// The whole bytes left in the bit buffer go back to the input and the window
// is flushed.
bool InflateStream(State* s);

// Reads one byte through the input buffer (for the container fields); false
// when the source is exhausted.
bool ReadByte(State* s, uint8_t* out);

}  // namespace inflate
