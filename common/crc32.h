// The standard CRC-32 of zip and gzip (reflected, polynomial 0xEDB88320,
// initial value all ones, final complement). Freestanding.
#pragma once

#include <stdint.h>

uint32_t Crc32(const void* data, uint32_t length);
// Running form: crc starts at 0 and is the previous result.
uint32_t Crc32Update(uint32_t crc, const void* data, uint32_t length);
