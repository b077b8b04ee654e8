// The main dialog: layout (320 x 162 dialog units), start-up and commands.
#include "manager/gui/main_dlg.h"

#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/menu.h>
#include <wx/stattext.h>

#include "manager/gui/about_dlg.h"
#include "manager/gui/back_dlg.h"
#include "manager/gui/help_text.h"
#include "manager/gui/hyperlink.h"
#include "manager/gui/layout.h"
#include "manager/gui/message_box.h"
#include "manager/gui/product.h"
#include "manager/gui/program_icon.h"
#include "manager/gui/resource_ids.h"
#include "manager/gui/user_dlg.h"
#include "manager/ops/install.h"

namespace {

struct ButtonSpec {
  int id;
  const char* text;
  int y;
};

const ButtonSpec kButtons[] = {
    {IDC_INSTALL, "安装", 12},     {IDC_UNINSTALL, "卸载", 42}, {IDC_BLACKLIST, "黑名单", 71},
    {IDC_QUARANTINE, "隔离区", 100}, {IDC_EXIT, "退出", 129},
};

}  // namespace

CtarnwellUSBDlg::CtarnwellUSBDlg(wxWindow* parent)
    : icons_(ProgramIcons()), linkText_(wxString::FromUTF8(kLinkText)) {
  // A window that can be minimised, so that the icon has somewhere to show.
  Create(parent, IDD_TARNWELLUSB_DIALOG, "tarnwellUSB v1.0", wxDefaultPosition, wxDefaultSize,
         wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX);
  SetDialogLayout(this, 320, 162);
  DialogUnits du(this);

  for (const ButtonSpec& spec : kButtons) {
    wxRect r = du.Rect(240, spec.y, 66, 21);
    new wxButton(this, spec.id, wxString::FromUTF8(spec.text), r.GetPosition(), r.GetSize());
  }
  wxRect helpRect = du.Rect(12, 12, 210, 114);
  help_ = new wxStaticText(this, IDC_HELP_TEXT, wxString(), helpRect.GetPosition(),
                           helpRect.GetSize(), wxST_NO_AUTORESIZE);
  wxRect linkRect = du.Rect(12, 138, 96, 8);
  link_ = new CHyperLink;
  link_->Create(this, IDC_LINK, linkText_, linkRect.GetPosition(), linkRect.GetSize());

  Bind(wxEVT_BUTTON, &CtarnwellUSBDlg::OnInstall, this, IDC_INSTALL);
  Bind(wxEVT_BUTTON, &CtarnwellUSBDlg::OnUninstall, this, IDC_UNINSTALL);
  Bind(wxEVT_BUTTON, &CtarnwellUSBDlg::OnBlacklist, this, IDC_BLACKLIST);
  Bind(wxEVT_BUTTON, &CtarnwellUSBDlg::OnQuarantine, this, IDC_QUARANTINE);
  Bind(wxEVT_BUTTON, &CtarnwellUSBDlg::OnExit, this, IDC_EXIT);
  Bind(wxEVT_MENU, &CtarnwellUSBDlg::OnSysCommand, this, IDM_ABOUTBOX);
  Bind(wxEVT_CONTEXT_MENU, &CtarnwellUSBDlg::OnContextMenu, this);
  Bind(wxEVT_CHAR_HOOK, &CtarnwellUSBDlg::OnCharHook, this);
  Bind(wxEVT_PAINT, &CtarnwellUSBDlg::OnPaint, this);
  // Closing the window ends the dialog like Exit.
  SetEscapeId(IDC_EXIT);

  OnInitDialog();
  Centre();
}

void CtarnwellUSBDlg::OnInitDialog() {
  UpdateData();
  SetIcons(icons_);
  ReadLibraryFolder();
  SetTitle(wxString::FromUTF8(kDisplayName) + kTitleSuffix);
  helpText_ = ManagerHelpText();
  link_->SetURL(kMakerUrl);
  link_->SetUnderline(false);
  UpdateData();
}

// Moves the member strings into their controls.
void CtarnwellUSBDlg::UpdateData() {
  help_->SetLabelText(WrapText(helpText_, help_->GetFont(), help_->GetSize().x));
  if (link_->GetLabelText() != linkText_) link_->SetLabelText(linkText_);
}

void CtarnwellUSBDlg::OnInstall(wxCommandEvent&) { ShowMessage(this, FromUtf8(::OnInstall())); }

void CtarnwellUSBDlg::OnUninstall(wxCommandEvent&) {
  ShowMessage(this, FromUtf8(::OnUninstall()));
}

void CtarnwellUSBDlg::OnBlacklist(wxCommandEvent&) {
  CUserDlg editor(this);
  editor.ShowModal();
}

void CtarnwellUSBDlg::OnQuarantine(wxCommandEvent&) {
  CBackDlg quarantine(this);
  quarantine.ShowModal();
}

void CtarnwellUSBDlg::OnExit(wxCommandEvent&) {
  if (IsModal())
    EndModal(0);
  else
    Hide();
}

// The About command; other ids of this family would go to the default.
void CtarnwellUSBDlg::OnSysCommand(wxCommandEvent& event) {
  if ((event.GetId() & 0xFFF0) == IDM_ABOUTBOX)
    ShowAbout();
  else
    event.Skip();
}

void CtarnwellUSBDlg::ShowAbout() {
  CAboutDlg about(this);
  about.ShowModal();
}

// This desktop lets no program extend the title bar's window menu, so the
// About item is offered in the window's context menu (and on F1).
void CtarnwellUSBDlg::OnContextMenu(wxContextMenuEvent&) {
  wxMenu menu;
  menu.Append(IDM_ABOUTBOX, kAboutMenuItem);
  PopupMenu(&menu);
}

void CtarnwellUSBDlg::OnCharHook(wxKeyEvent& event) {
  if (event.GetKeyCode() == WXK_F1 && !event.HasAnyModifiers()) {
    ShowAbout();
    return;
  }
  event.Skip();
}

void CtarnwellUSBDlg::DrawMinimisedIcon(wxDC& dc, const wxSize& size, const wxIcon& icon) {
  int x = (size.x - icon.GetWidth() + 1) / 2;
  int y = (size.y - icon.GetHeight() + 1) / 2;
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(dc.GetBackground().IsOk() ? dc.GetBackground().GetColour()
                                                 : wxColour(*wxWHITE)));
  dc.DrawRectangle(x, y, icon.GetWidth(), icon.GetHeight());
  dc.DrawIcon(icon, x, y);
}

void CtarnwellUSBDlg::OnPaint(wxPaintEvent& event) {
  if (!IsIconized()) {
    event.Skip();
    return;
  }
  wxPaintDC dc(this);
  dc.SetBackground(wxBrush(GetBackgroundColour()));
  DrawMinimisedIcon(dc, GetClientSize(), icons_.GetIcon(32));
}
