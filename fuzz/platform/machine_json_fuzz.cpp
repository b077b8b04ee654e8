// machine.json on arbitrary text (drive folders are not looked at).
#include "platform/machine/machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tw::Machine m;
  std::string err;
  std::string text(reinterpret_cast<const char*>(data), size);
  if (tw::ParseMachine(text, "/fuzz/machine.json", &m, &err, false)) {
    for (const tw::Drive& d : m.drives) {
      if (d.hasMedium && d.root.empty()) __builtin_trap();
    }
  } else if (err.empty()) {
    __builtin_trap();
  }
  return 0;
}
