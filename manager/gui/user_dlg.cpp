// The blacklist editor: layout (346 x 169 dialog units) and commands. The
// sample list and its file live in the manager's operations.
#include "manager/gui/user_dlg.h"

#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/filename.h>

#include <string>

#include "manager/gui/layout.h"
#include "manager/gui/list_ctrl.h"
#include "manager/gui/message_box.h"
#include "manager/gui/resource_ids.h"
#include "platform/win32/win32.h"

// GTK matches patterns case-sensitively, while on the system the editor was
// made for "*.exe" also finds "SETUP.EXE": every case of the extension is
// listed. "*" also shows files without an extension, as "*.*" did there.
const char CUserDlg::kExeFilter[] =
    "EXE Files (*.exe)|*.exe;*.exE;*.eXe;*.eXE;*.Exe;*.ExE;*.EXe;*.EXE|All Files (*.*)|*";

namespace {

struct ButtonSpec {
  int id;
  const char* text;
  int y;
};

const ButtonSpec kButtons[] = {
    {IDC_ADD_SAMPLE, "添加样本", 18},    {IDC_DELETE_SAMPLE, "删除样本", 46},
    {IDC_CLEAR_SAMPLES, "清空样本", 74}, {IDC_SAVE_SAMPLES, "保存样本", 102},
    {IDC_EXIT, "退出编辑", 130},
};

}  // namespace

CUserDlg::CUserDlg(wxWindow* parent) {
  Create(parent, IDD_USER_DIALOG, "Dialog", wxDefaultPosition, wxDefaultSize,
         wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
  SetDialogLayout(this, 346, 169);
  DialogUnits du(this);
  for (const ButtonSpec& spec : kButtons) {
    wxRect r = du.Rect(264, spec.y, 72, 18);
    new wxButton(this, spec.id, wxString::FromUTF8(spec.text), r.GetPosition(), r.GetSize());
  }
  wxRect listRect = du.Rect(12, 12, 240, 144);
  list_ = new CMyListCtrl(this, IDC_USER_LIST, listRect.GetPosition(), listRect.GetSize());

  Bind(wxEVT_BUTTON, &CUserDlg::OnAddSample, this, IDC_ADD_SAMPLE);
  Bind(wxEVT_BUTTON, &CUserDlg::OnDeleteSample, this, IDC_DELETE_SAMPLE);
  Bind(wxEVT_BUTTON, &CUserDlg::OnClearSamples, this, IDC_CLEAR_SAMPLES);
  Bind(wxEVT_BUTTON, &CUserDlg::OnSaveSamples, this, IDC_SAVE_SAMPLES);
  Bind(wxEVT_BUTTON, &CUserDlg::OnExitEditor, this, IDC_EXIT);
  SetEscapeId(IDC_EXIT);

  SetTitle(wxString::FromUTF8("黑名单样本"));
  list_->AddColumns({{"序号", 20}, {"添加时间", 20}, {"文件名称", 100}, {"MD5", 60}});
  loaded_ = LoadUserLibrary(&samples_);
  if (loaded_) RefreshList();
  CentreOnParent();
}

void CUserDlg::RefreshList() {
  rowCount_ = 0;
  list_->DeleteAllItems();
  for (const BlacklistEntry& entry : samples_) {
    long row = list_->InsertItem(rowCount_, wxString::Format("%d", rowCount_));
    list_->SetItem(row, 1, wxString::FromUTF8(std::string(entry.addedDate, strnlen(entry.addedDate, sizeof entry.addedDate))));
    list_->SetItem(row, 2, wxString::FromUTF8(AnsiToUtf8(std::string(entry.path, strnlen(entry.path, sizeof entry.path)))));
    list_->SetItem(row, 3, DigestToHex(entry.digest));
    ++rowCount_;
  }
}

void CUserDlg::OnAddSample(wxCommandEvent&) {
  // Hidden files are listed too: a virus on a USB disk often hides itself.
  std::string startHost;
  Win32HostPath("C:\\", &startHost);
  wxFileDialog chooser(this, wxFileSelectorPromptStr, wxString::FromUTF8(startHost), wxString(),
                       kExeFilter, wxFD_OPEN | wxFD_FILE_MUST_EXIST | wxFD_SHOW_HIDDEN);
  if (chooser.ShowModal() != wxID_OK) return;
  wxString path = chooser.GetPath();
  // The native chooser takes a name given to it asynchronously; the name
  // the dialog was answered with is kept by the common part as well.
  if (path.empty()) path = chooser.wxFileDialogBase::GetPath();
  if (path.empty()) return;
  AddChosenFile(path);
}

void CUserDlg::AddChosenFile(const wxString& hostPath) {
  // A file gone since it was chosen cannot be read: not added, as any
  // unreadable sample.
  if (!wxFileName::FileExists(hostPath)) {
    RefreshList();
    return;
  }
  std::string drivePath;
  if (!Win32DrivePath(hostPath.utf8_str().data(), &drivePath)) {
    ShowMessage(this, wxString::FromUTF8("只能添加本机驱动器上的文件：\n") + hostPath);
    return;
  }
  // A path longer than the dialog's buffer is refused rather than cut: a cut
  // path would name another file.
  if (drivePath.size() > 1023) return;
  AddSample(&samples_, drivePath.c_str());
  RefreshList();
}

void CUserDlg::OnDeleteSample(wxCommandEvent&) {
  long row = list_->LastSelectedRow();
  if (row < 0) return;
  wxString md5 = list_->GetItemText(row, 3).Left(255);
  RemoveSampleByMd5(&samples_, md5.utf8_str().data());
  RefreshList();
}

void CUserDlg::OnClearSamples(wxCommandEvent&) {
  samples_.clear();
  rowCount_ = 0;
  list_->DeleteAllItems();
}

void CUserDlg::OnSaveSamples(wxCommandEvent&) {
  BlacklistSamples copy = samples_;
  bool saved = SaveUserLibrary(copy, loaded_);
  // User000.dat now holds exactly these samples: a later save loses nothing.
  if (saved) loaded_ = true;
  ShowMessage(this, FromUtf8(saved ? kSaveSucceeded : kSaveFailed));
}

void CUserDlg::OnExitEditor(wxCommandEvent&) {
  if (IsModal())
    EndModal(0);
  else
    Hide();
}
