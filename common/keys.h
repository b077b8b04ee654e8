// The fixed non-zero key byte used when a data-derived XOR key would be 0:
// the content key of quarantine records and the area key of user library
// files. The scanner and the manager must agree on it.
#pragma once

#include <stdint.h>

const uint8_t kFallbackKeyByte = 0xA7;
