// The quarantine manager: layout (458 x 169 dialog units, the list wide
// enough for its seven columns) and commands over the quarantine store.
#include "manager/gui/back_dlg.h"

#include <wx/button.h>

#include <string>

#include "manager/gui/layout.h"
#include "manager/gui/list_ctrl.h"
#include "manager/gui/resource_ids.h"
#include "manager/ops/blacklist.h"
#include "platform/win32/win32.h"

namespace {

struct ButtonSpec {
  int id;
  const char* text;
  int y;
};

const ButtonSpec kButtons[] = {
    {IDC_RESTORE_ONE, "还原单个文件", 18}, {IDC_DELETE_ONE, "删除单个备份", 46},
    {IDC_DELETE_ALL, "删除所有备份", 74},  {IDC_RESTORE_ALL, "还原所有样本", 102},
    {IDC_BACK_EXIT, "退出编辑", 130},
};

wxString FieldText(const char* field, size_t capacity) {
  return wxString::FromUTF8(AnsiToUtf8(std::string(field, strnlen(field, capacity))));
}

}  // namespace

CBackDlg::CBackDlg(wxWindow* parent) {
  Create(parent, IDD_BACK_DIALOG, "Dialog", wxDefaultPosition, wxDefaultSize,
         wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
  SetDialogLayout(this, 458, 169);
  DialogUnits du(this);
  for (const ButtonSpec& spec : kButtons) {
    wxRect r = du.Rect(374, spec.y, 72, 18);
    new wxButton(this, spec.id, wxString::FromUTF8(spec.text), r.GetPosition(), r.GetSize());
  }
  wxRect listRect = du.Rect(12, 12, 350, 144);
  list_ = new CMyListCtrl(this, IDC_BACK_LIST, listRect.GetPosition(), listRect.GetSize());

  Bind(wxEVT_BUTTON, &CBackDlg::OnRestoreOne, this, IDC_RESTORE_ONE);
  Bind(wxEVT_BUTTON, &CBackDlg::OnDeleteOne, this, IDC_DELETE_ONE);
  Bind(wxEVT_BUTTON, &CBackDlg::OnDeleteAll, this, IDC_DELETE_ALL);
  Bind(wxEVT_BUTTON, &CBackDlg::OnRestoreAll, this, IDC_RESTORE_ALL);
  Bind(wxEVT_BUTTON, &CBackDlg::OnExit, this, IDC_BACK_EXIT);
  SetEscapeId(IDC_BACK_EXIT);

  SetTitle(wxString::FromUTF8("隔离区还原文件"));
  list_->AddColumns({{"序号", 20},
                     {"隔离时间", 20},
                     {"病毒名称", 50},
                     {"文件名称", 100},
                     {"创建时间", 20},
                     {"文件大小", 20},
                     {"MD5", 60}});
  if (store_.LoadStore()) FillList();
  CentreOnParent();
}

void CBackDlg::FillList() {
  list_->DeleteAllItems();
  long i = 0;
  for (const QuarantineEntry& entry : store_.Entries()) {
    long row = list_->InsertItem(i, wxString::Format("%ld", i));
    list_->SetItem(row, 1, FieldText(entry.quarantineDate, sizeof entry.quarantineDate));
    list_->SetItem(row, 2, FieldText(entry.virusName, sizeof entry.virusName));
    list_->SetItem(row, 3, FieldText(entry.path, sizeof entry.path));
    list_->SetItem(row, 4, FieldText(entry.creationDate, sizeof entry.creationDate));
    list_->SetItem(row, 5, wxString::Format("%d", static_cast<int>(entry.size)));
    list_->SetItem(row, 6, DigestToHex(entry.contentDigest));
    ++i;
  }
}

void CBackDlg::ActOnSelected(bool restore) {
  long row = list_->LastSelectedRow();
  const std::vector<QuarantineEntry>& entries = store_.Entries();
  if (row < 0 || static_cast<size_t>(row) >= entries.size()) return;
  std::string name = QuarantineStore::RecordName(entries[row]);
  if (restore)
    store_.RestoreRecord(name.c_str());
  else
    store_.DeleteRecord(name.c_str());
  FillList();
}

void CBackDlg::OnRestoreOne(wxCommandEvent&) { ActOnSelected(true); }
void CBackDlg::OnDeleteOne(wxCommandEvent&) { ActOnSelected(false); }

void CBackDlg::OnDeleteAll(wxCommandEvent&) {
  store_.DeleteAll();
  FillList();
}

void CBackDlg::OnRestoreAll(wxCommandEvent&) {
  store_.RestoreAll();
  FillList();
}

void CBackDlg::OnExit(wxCommandEvent&) {
  if (IsModal())
    EndModal(0);
  else
    Hide();
}
