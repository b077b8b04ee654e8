// Whole-file reads by drive path.
#include "manager/ops/files.h"

#include <stdio.h>

#include "platform/win32/win32.h"

bool ReadWholeFile(const char* path, std::vector<uint8_t>* data, uint64_t limit) {
  data->clear();
  FILE* file = Win32OpenFile(path, "rb");
  if (file == nullptr) return false;
  bool ok = fseek(file, 0, SEEK_END) == 0;
  long size = ok ? ftell(file) : -1;
  ok = ok && size >= 0 && (uint64_t)size <= limit && fseek(file, 0, SEEK_SET) == 0;
  if (ok) {
    data->resize((size_t)size);
    ok = size == 0 || fread(data->data(), 1, (size_t)size, file) == (size_t)size;
  }
  fclose(file);
  if (!ok) data->clear();
  return ok;
}
