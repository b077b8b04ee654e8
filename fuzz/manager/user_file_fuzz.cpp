// The user library file reader on arbitrary files, as the manager's
// blacklist loader uses it.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "common/userlib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x100000) return 0;
  uint32_t length = (uint32_t)size;
  UserFileHeader header;
  UserFileReadHeader(data, length, &header);
  if (header.payloadSize == 0 || header.payloadSize > 0x400000) return 0;
  uint8_t* file = (uint8_t*)malloc(length ? length : 1);
  memcpy(file, data, length);
  uint8_t* payload = (uint8_t*)malloc(header.payloadSize);
  uint32_t payloadLength = 0;
  if (UserFileUnpack(file, length, payload, header.payloadSize, &payloadLength) == kUfOk) {
    UserPayloadIndex index;
    if (UserPayloadOpen(payload, payloadLength, &index) == kUfOk) {
      uint32_t cursor = 0;
      for (uint32_t k = 0; k < index.count; ++k) {
        UserRecord record;
        UserPayloadRecord(payload, &index, k, &record);
        const char* line;
        uint32_t lineLength;
        if (UserPayloadNextPath(payload, &index, &cursor, &line, &lineLength)) {
          if (line < (const char*)payload ||
              line + lineLength > (const char*)payload + payloadLength)
            abort();
        }
      }
    }
  }
  free(payload);
  free(file);
  return 0;
}
