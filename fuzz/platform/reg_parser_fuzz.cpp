// The .reg parser on arbitrary bytes; whatever it accepts must serialize and
// parse again to the same text (values keep their exact bytes).
#include <stdlib.h>

#include "platform/registry/registry_store.h"

// Runs as a 32-bit program under qemu-i386 here: LeakSanitizer cannot stop
// the world there, and the sanitizer's allocator fails its own checks once
// its quarantine has taken a few hundred MiB of the address space.
extern "C" const char* __asan_default_options() { return "detect_leaks=0:quarantine_size_mb=8"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tw::RegistryStore store;
  std::string err;
  if (!store.Parse(data, size, &err)) return 0;
  std::string text = store.Serialize();
  tw::RegistryStore again;
  if (!again.Parse(text.data(), text.size(), &err)) abort();
  if (again.Serialize() != text) abort();
  return 0;
}
