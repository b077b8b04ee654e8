// machine.json on arbitrary text (drive folders are not looked at).
#include "platform/machine/machine.h"

// Runs as a 32-bit program under qemu-i386 here: LeakSanitizer cannot stop
// the world there, and the sanitizer's allocator fails its own checks once
// its quarantine has taken a few hundred MiB of the address space.
extern "C" const char* __asan_default_options() { return "detect_leaks=0:quarantine_size_mb=8"; }

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
