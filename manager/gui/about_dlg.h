// CAboutDlg: the About box (program icon, name and version, copyright, OK).
#pragma once

#include <wx/dialog.h>

class CAboutDlg : public wxDialog {
 public:
  explicit CAboutDlg(wxWindow* parent);
};
