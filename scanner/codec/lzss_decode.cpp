// LZSS decoding: the whole stream into a buffer, or one line of it.
#include "scanner/codec/codec.h"
#include "scanner/codec/lzss_internal.h"

namespace {

struct BufferSink {
  uint8_t* dst;
  uint32_t capacity;
  uint32_t written;
  bool operator()(uint8_t c) {
    if (written == capacity) return false;  // the byte is dropped and decoding ends
    dst[written++] = c;
    return true;
  }
};

// Keeps the bytes of line `index` (cut to capacity - 1) and stops at its LF.
struct LineSink {
  char* text;
  uint32_t capacity;
  uint32_t index;
  uint32_t line;
  uint32_t used;
  bool complete;
  bool operator()(uint8_t c) {
    if (c == '\n') {
      if (line == index) {
        complete = true;
        return false;
      }
      ++line;
      return true;
    }
    if (line == index && used + 1 < capacity) text[used++] = (char)c;
    return true;
  }
};

}  // namespace

uint32_t LzssDecode(const uint8_t* src, uint32_t length, uint8_t* dst, uint32_t capacity) {
  uint8_t ring[lzss::kRingSize];
  BufferSink sink = {dst, capacity, 0};
  lzss::Decode(src, length, ring, sink);
  return sink.written;
}

void LzssFindLine(const uint8_t* src, uint32_t length, uint32_t index, char* text, uint32_t capacity) {
  if (capacity == 0) return;
  uint8_t ring[lzss::kRingSize];
  LineSink sink = {text, capacity, index, 0, 0, false};
  lzss::Decode(src, length, ring, sink);
  text[sink.complete ? sink.used : 0] = '\0';
}
