// CtarnwellUSBDlg: the manager's main dialog. Help text, the maker's link and
// five buttons: install, uninstall, blacklist editor, quarantine, exit.
#pragma once

#include <wx/dialog.h>
#include <wx/iconbndl.h>

class CHyperLink;
class wxStaticText;

class CtarnwellUSBDlg : public wxDialog {
 public:
  explicit CtarnwellUSBDlg(wxWindow* parent = nullptr);

  // The help text as the dialog holds it (with its final line feed), and the
  // link text.
  const wxString& HelpText() const { return helpText_; }
  const wxString& LinkText() const { return linkText_; }
  CHyperLink* Link() const { return link_; }
  wxStaticText* HelpControl() const { return help_; }

  // Draws the program icon centred in a client area of `size`, as the
  // minimised window shows it.
  static void DrawMinimisedIcon(wxDC& dc, const wxSize& size, const wxIcon& icon);

 private:
  void OnInitDialog();
  void OnInstall(wxCommandEvent& event);
  void OnUninstall(wxCommandEvent& event);
  void OnBlacklist(wxCommandEvent& event);
  void OnQuarantine(wxCommandEvent& event);
  void OnExit(wxCommandEvent& event);
  void OnSysCommand(wxCommandEvent& event);
  void OnContextMenu(wxContextMenuEvent& event);
  void OnCharHook(wxKeyEvent& event);
  void OnPaint(wxPaintEvent& event);
  void ShowAbout();
  void UpdateData();

  wxIconBundle icons_;
  wxString helpText_;
  wxString linkText_;
  wxStaticText* help_ = nullptr;
  CHyperLink* link_ = nullptr;
};
