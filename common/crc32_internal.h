// CRC-32 internals exposed for tests: the portable table path, which a
// processor with carry-less multiplication would otherwise never take.
#pragma once

#include <stdint.h>

uint32_t Crc32UpdateTables(uint32_t crc, const void* data, uint32_t length);
