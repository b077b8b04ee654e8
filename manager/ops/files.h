// Whole-file reads by drive path, shared by the manager's operations.
#pragma once

#include <stdint.h>

#include <vector>

// Reads the whole file at drive path `path`. False when it cannot be opened
// or read in full, or when it holds more than `limit` bytes (every file the
// manager reads has 32-bit lengths; a larger one is refused before reading).
bool ReadWholeFile(const char* path, std::vector<uint8_t>* data,
                   uint64_t limit = 0xFFFFFFFFu);
