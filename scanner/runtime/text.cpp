// Lengths and bounded copies of terminated texts (no C runtime).
#include "scanner/runtime/runtime.h"

uint32_t TextLen(const char* s) {
  if (s == nullptr) return 0;
  uint32_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

uint32_t TextLenW(const WCHAR* s) {
  if (s == nullptr) return 0;
  uint32_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

namespace {

template <typename C>
int CopyText(C* dst, uint32_t cap, const C* src) {
  if (dst == nullptr || cap == 0) return 0;
  uint32_t i = 0;
  if (src != nullptr) {
    for (; src[i] != 0; ++i) {
      if (i + 1 >= cap) {
        dst[0] = 0;
        return 0;
      }
      dst[i] = src[i];
    }
  }
  dst[i] = 0;
  return 1;
}

}  // namespace

int TextCopy(char* dst, uint32_t cap, const char* src) { return CopyText(dst, cap, src); }
int TextCopyW(WCHAR* dst, uint32_t cap, const WCHAR* src) { return CopyText(dst, cap, src); }
