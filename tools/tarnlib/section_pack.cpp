// Packed section container writer over zlib's raw DEFLATE encoder.
#include "tools/tarnlib/section_pack.h"

#include <zlib.h>

#include "common/crc32.h"

namespace {

void PutLe32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back((uint8_t)(v >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> PackSection(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  if (size > 0xFFFFFFFFu) return out;
  z_stream z = {};
  // Negative window bits: a raw DEFLATE stream, no zlib header or trailer.
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return out;
  const uLong bound = deflateBound(&z, (uLong)size);
  out.resize(3 + bound);
  out[0] = 0x1F;
  out[1] = 0x8B;
  out[2] = 8;
  static const uint8_t kEmpty = 0;
  z.next_in = const_cast<Bytef*>(size ? data : &kEmpty);
  z.avail_in = (uInt)size;  // size < 4 GiB fits uInt
  z.next_out = out.data() + 3;
  int rc;
  do {
    // avail_out is 32 bits; hand the room over in pieces.
    const size_t room = out.size() - 3 - z.total_out;
    z.avail_out = (uInt)(room < (1u << 30) ? room : (1u << 30));
    rc = deflate(&z, Z_FINISH);
  } while (rc == Z_OK && z.avail_out == 0);
  const size_t packed = z.total_out;
  deflateEnd(&z);
  if (rc != Z_STREAM_END) return std::vector<uint8_t>();
  out.resize(3 + packed);
  PutLe32(&out, Crc32(size ? data : &kEmpty, (uint32_t)size));
  PutLe32(&out, (uint32_t)size);
  return out;
}
