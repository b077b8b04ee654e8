// The application's start-up.
#include "manager/gui/app.h"

#include <stdio.h>

#include <string>

#include "manager/gui/main_dlg.h"
#include "manager/gui/message_box.h"
#include "manager/gui/product.h"
#include "manager/ops/folders.h"

bool CtarnwellUSBApp::OnInit() {
  SetAppName(kAppName);
  if (ProgramFolder[0] == '\0') {
    std::string error;
    if (!InitManagerFolders(nullptr, &error)) {
      fprintf(stderr, "%s: %s\n", kAppName, error.c_str());
      ShowMessage(nullptr, wxString::FromUTF8(error), wxString(), wxICON_ERROR);
      exitStatus_ = 1;
      return false;
    }
  }
  CtarnwellUSBDlg dialog;
  SetTopWindow(&dialog);
  dialog.ShowModal();
  SetTopWindow(nullptr);
  // The dialog was the whole program: report that no message loop follows.
  return false;
}
