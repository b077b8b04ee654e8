// Test harness for the dialogs: scripted modal dialogs, simulated input,
// artifacts.
#include "tests/gui/gui_harness.h"

#include <stdlib.h>
#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/listctrl.h>
#include <wx/toplevel.h>
#include <wx/uiaction.h>

#include "manager/gui/screenshots.h"

DialogScript& DialogScript::Get() {
  static DialogScript* script = [] {
    DialogScript* s = new DialogScript;
    s->Register();
    return s;
  }();
  return *script;
}

void DialogScript::Push(const std::string& what, Handler handler) {
  expected_.push_back({what, std::move(handler)});
}

int DialogScript::Enter(wxDialog* dialog) {
  ++shown_;
  if (expected_.empty()) {
    wxString what = dialog->GetTitle();
    if (wxMessageDialog* box = dynamic_cast<wxMessageDialog*>(dialog)) what = box->GetMessage();
    ADD_FAILURE() << "unexpected dialog " << typeid(*dialog).name() << ": \""
                  << what.utf8_str().data() << "\"";
    return wxID_CANCEL;
  }
  Expected next = std::move(expected_.front());
  expected_.pop_front();
  int result = next.handler(dialog);
  // wxID_NONE would let the dialog run for real and wait for a person.
  return result == wxID_NONE ? wxID_CANCEL : result;
}

void DialogScript::ExpectMessage(const wxString& text, long icon) {
  Expect<wxMessageDialog>([text, icon](wxMessageDialog* box) {
    EXPECT_EQ(std::string(text.utf8_str()), std::string(box->GetMessage().utf8_str()));
    EXPECT_EQ("tarnwellUSB", std::string(box->GetCaption().utf8_str()));
    EXPECT_EQ("确定", std::string(box->GetOKLabel().utf8_str()));
    long style = box->GetMessageDialogStyle();
    EXPECT_TRUE(style & wxOK);
    EXPECT_FALSE(style & (wxCANCEL | wxYES_NO | wxHELP)) << "only an OK button";
    if (icon != 0)
      EXPECT_TRUE(style & icon) << "icon style " << icon;
    else
      EXPECT_TRUE(style & wxICON_NONE) << "a plain OK box shows no icon";
    return wxID_OK;
  });
}

void DialogScript::ExpectFileOpen(const wxString& hostPath,
                                  std::function<void(wxDialog*)> before) {
  Expect<wxFileDialog>([hostPath, before](wxFileDialog* chooser) {
    if (before) before(chooser);
    chooser->SetPath(hostPath);
    return wxID_OK;
  });
}

void DialogScript::VerifyAndReset() {
  for (const Expected& e : expected_) ADD_FAILURE() << "expected dialog not shown: " << e.what;
  expected_.clear();
}

void Pump(int ms) { PumpEvents(ms); }

void MoveTo(wxWindow* window, const wxPoint& at) {
  wxUIActionSimulator sim;
  wxPoint screen = window->ClientToScreen(at);
  sim.MouseMove(screen);
  Pump(40);
}

void ClickAt(wxWindow* window, const wxPoint& at, bool control, bool right) {
  wxUIActionSimulator sim;
  MoveTo(window, at);
  if (control) sim.KeyDown(WXK_CONTROL);
  sim.MouseClick(right ? wxMOUSE_BTN_RIGHT : wxMOUSE_BTN_LEFT);
  if (control) sim.KeyUp(WXK_CONTROL);
  Pump(80);
}

void ClickOn(wxWindow* window) {
  wxSize size = window->GetClientSize();
  ClickAt(window, wxPoint(size.x / 2, size.y / 2));
}

void PressKey(wxWindow* window, int keyCode) {
  wxSize size = window->GetClientSize();
  MoveTo(window, wxPoint(size.x / 2, size.y / 2));
  window->SetFocus();
  Pump(40);
  wxUIActionSimulator sim;
  sim.Char(keyCode);
  Pump(80);
}

void ClickRow(wxListCtrl* list, long row, bool control) {
  wxRect rect;
  ASSERT_TRUE(list->GetItemRect(row, rect, wxLIST_RECT_BOUNDS)) << "row " << row;
  ClickAt(list, wxPoint(rect.x + 8, rect.y + rect.height / 2), control);
}

wxWindow* Control(wxWindow* parent, int id) {
  wxWindow* control = parent->FindWindow(id);
  EXPECT_NE(nullptr, control) << "no control " << id;
  return control;
}

void ShowAndSettle(wxTopLevelWindow* window) {
  window->Show();
  window->Raise();
  Pump(250);
}

void KeepScreenshot(wxTopLevelWindow* window, const std::string& name) {
  const char* binary = getenv("TW_BINARY_DIR");
  wxString folder = wxString::FromUTF8(binary ? binary : ".") + "/artifacts/gui";
  wxFileName::Mkdir(folder, wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
  Pump(60);
  CaptureDialog(window).SaveFile(folder + "/" + wxString::FromUTF8(name) + ".png",
                                 wxBITMAP_TYPE_PNG);
}

std::vector<std::string> RowTexts(wxListCtrl* list, long row) {
  std::vector<std::string> texts;
  for (int column = 0; column < list->GetColumnCount(); ++column)
    texts.push_back(std::string(list->GetItemText(row, column).utf8_str()));
  return texts;
}

std::string BuiltProgram(const char* name) {
  const char* binary = getenv("TW_BINARY_DIR");
  return std::string(binary ? binary : ".") + "/bin/" + name;
}
