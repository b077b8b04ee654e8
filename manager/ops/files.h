// Whole-file reads by drive path, shared by the manager's operations.
#pragma once

#include <stdint.h>

#include <vector>

// Reads the whole file at drive path `path`. False when it cannot be opened
// or read in full.
bool ReadWholeFile(const char* path, std::vector<uint8_t>* data);
