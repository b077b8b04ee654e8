// Writer of the packed section container (1F 8B 08, raw DEFLATE, CRC-32,
// length), used by pack-section and by the library file builder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The container of data[0..size) compressed with zlib at level 9. Empty when
// the data cannot be packed (4 GiB or more: the length field has 32 bits).
std::vector<uint8_t> PackSection(const uint8_t* data, size_t size);
