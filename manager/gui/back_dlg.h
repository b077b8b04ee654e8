// CBackDlg: the quarantine manager. Lists the records in the backup store and
// restores or deletes one or all of them.
#pragma once

#include <wx/dialog.h>

#include "manager/ops/quarantine_store.h"

class CMyListCtrl;

class CBackDlg : public wxDialog {
 public:
  explicit CBackDlg(wxWindow* parent);

  CMyListCtrl* List() const { return list_; }
  const QuarantineStore& Store() const { return store_; }

 private:
  void FillList();
  void ActOnSelected(bool restore);
  void OnRestoreOne(wxCommandEvent& event);
  void OnDeleteOne(wxCommandEvent& event);
  void OnDeleteAll(wxCommandEvent& event);
  void OnRestoreAll(wxCommandEvent& event);
  void OnExit(wxCommandEvent& event);

  QuarantineStore store_;
  CMyListCtrl* list_ = nullptr;
};
