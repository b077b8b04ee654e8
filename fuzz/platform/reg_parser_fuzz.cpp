// The .reg parser on arbitrary bytes; whatever it accepts must serialize and
// parse again to the same text (values keep their exact bytes).
#include <stdlib.h>

#include "platform/registry/registry_store.h"

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
