// CUserDlg: the blacklist editor. Lists the samples of the user library
// files, adds samples chosen as files, deletes one, clears all, saves them to
// User000.dat.
#pragma once

#include <wx/dialog.h>

#include "manager/ops/blacklist.h"

class CMyListCtrl;

class CUserDlg : public wxDialog {
 public:
  explicit CUserDlg(wxWindow* parent);

  CMyListCtrl* List() const { return list_; }
  const BlacklistSamples& Samples() const { return samples_; }
  int RowCount() const { return rowCount_; }

  // The file-open dialog's filter: ".exe" in any case, and every file.
  static const char kExeFilter[];

  // Adds the sample at host path `hostPath` (what the file dialog gives) as
  // the Add command does after its dialog: refuses, with a message, a file
  // outside the machine's drives.
  void AddChosenFile(const wxString& hostPath);

 private:
  void RefreshList();
  void OnAddSample(wxCommandEvent& event);
  void OnDeleteSample(wxCommandEvent& event);
  void OnClearSamples(wxCommandEvent& event);
  void OnSaveSamples(wxCommandEvent& event);
  void OnExitEditor(wxCommandEvent& event);

  BlacklistSamples samples_;
  // Whether the samples began as a load of the user library files; a save
  // over a User000.dat that could not be loaded keeps a backup of it.
  bool loaded_ = false;
  CMyListCtrl* list_ = nullptr;
  int rowCount_ = 0;
};
