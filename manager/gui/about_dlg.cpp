// The About box, laid out in dialog units (235 x 55).
#include "manager/gui/about_dlg.h"

#include <wx/button.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "manager/gui/layout.h"
#include "manager/gui/product.h"
#include "manager/gui/program_icon.h"
#include "manager/gui/resource_ids.h"

CAboutDlg::CAboutDlg(wxWindow* parent) {
  Create(parent, IDD_ABOUTBOX, kAboutTitle, wxDefaultPosition, wxDefaultSize,
         wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
  SetDialogLayout(this, 235, 55);
  DialogUnits du(this);

  wxRect iconRect = du.Rect(11, 17, 0, 0);
  new wxStaticBitmap(this, wxID_ANY, wxBitmap(ProgramIconImage(32)), iconRect.GetPosition(),
                     wxSize(32, 32));
  wxRect version = du.Rect(40, 10, 119, 8);
  new wxStaticText(this, wxID_ANY, kAboutVersion, version.GetPosition(), version.GetSize(),
                   wxST_NO_AUTORESIZE);
  wxRect copyright = du.Rect(40, 25, 188, 8);
  new wxStaticText(this, wxID_ANY, kAboutCopyright, copyright.GetPosition(), copyright.GetSize(),
                   wxST_NO_AUTORESIZE);
  wxRect ok = du.Rect(178, 7, 50, 16);
  wxButton* button = new wxButton(this, IDC_ABOUT_OK, "OK", ok.GetPosition(), ok.GetSize());
  button->SetDefault();
  // Button 1 is the dialog's OK: Enter and Escape end the box through it.
  SetAffirmativeId(IDC_ABOUT_OK);
  SetEscapeId(IDC_ABOUT_OK);
  CentreOnParent();
}
