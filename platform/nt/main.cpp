// main() of a native program on the stand-in: load the machine named by
// TARNWELL_MACHINE, prepare the boot screen, and start the program at
// NtProcessStartup, which ends the process itself.
#include <stdio.h>

#include "platform/nt/internal.h"

extern "C" int TwNtMain(int argc, char** argv) {
  std::string path = tw::MachineFromEnvironment();
  char err[1024];
  if (path.empty()) {
    fprintf(stderr, "%s: TARNWELL_MACHINE is not set (it names the machine.json to run on)\n",
            argc > 0 ? argv[0] : "tarnwell");
    return 2;
  }
  if (!TwNtInit(path.c_str(), err, sizeof err)) {
    fprintf(stderr, "%s\n", err);
    return 2;
  }
  tw::nt::PrepareBootScreen();
  tw::nt::PutBackOnFatalSignals();
  NtProcessStartup(nullptr);
  // A program that returns from its entry point ends with status 0.
  NtTerminateProcess(NtCurrentProcess(), 0);
  return 0;
}

int main(int argc, char** argv) { return TwNtMain(argc, argv); }
