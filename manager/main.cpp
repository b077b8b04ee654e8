// tarnwellUSB: the manager of the boot-time scanner.
#include "manager/command_line.h"

#ifdef TARNWELL_HAVE_GUI
#include "manager/gui/run_gui.h"
#endif

int main(int argc, char** argv) {
#ifdef TARNWELL_HAVE_GUI
  return RunCommandLine(argc, argv, RunManagerGui);
#else
  return RunCommandLine(argc, argv, nullptr);
#endif
}
