// Entry into wxWidgets for the manager, after making sure there is a display.
#include "manager/gui/run_gui.h"

#include <stdio.h>
#include <wx/init.h>
#include <wx/log.h>

#include "manager/gui/app.h"

int RunManagerGui(int argc, char** argv) {
  CtarnwellUSBApp* app = new CtarnwellUSBApp;
  wxApp::SetInstance(app);
  bool started;
  {
    // Without a display the toolkit refuses to start; that is said below in
    // one line instead of the toolkit's own log message.
    wxLogNull quiet;
    started = wxEntryStart(argc, argv);
  }
  if (!started) {
    fprintf(stderr,
            "tarnwellUSB: no display to show the dialogs on; use the command line instead "
            "(tarnwellUSB --help).\n");
    return 1;
  }
  app->CallOnInit();
  int status = app->ExitStatus();
  wxEntryCleanup();
  return status;
}
