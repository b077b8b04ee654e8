// Steering a CRC-32 to a chosen value by appending four chosen bytes: the
// library tool names special entries and host-service references so that
// the CRC-32 of the name is the scanner's key.
#pragma once

#include <cstdint>
#include <string>

// The four bytes that, appended to `prefix`, make Crc32(prefix + bytes) ==
// target.
std::string ForgeCrcTail(const std::string& prefix, uint32_t target);
// A name starting with `prefix` whose CRC-32 is target, free of NUL bytes
// and of the text "@CQEL" (which would cut it short in the loader). Tries
// prefix + bytes, then prefix + "$" + counter + bytes.
std::string ForgeName(const std::string& prefix, uint32_t target);
