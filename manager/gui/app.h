// CtarnwellUSBApp: the manager's application object. Its start-up records the
// folders, shows the main dialog modally and ends the program when the dialog
// closes; no message loop follows.
#pragma once

#include <wx/app.h>

class CtarnwellUSBApp : public wxApp {
 public:
  bool OnInit() override;
  // The program's exit status: 0, or 1 when the start-up failed.
  int ExitStatus() const { return exitStatus_; }

 private:
  int exitStatus_ = 0;
};
