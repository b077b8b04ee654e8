// Message boxes of the manager.
#include "manager/gui/message_box.h"

#include <wx/msgdlg.h>

#include "manager/gui/product.h"

int ShowMessage(wxWindow* owner, const wxString& text, const wxString& caption, long iconStyle) {
  wxMessageDialog box(owner, text, caption.empty() ? wxString(kAppName) : caption,
                      wxOK | (iconStyle != 0 ? iconStyle : wxICON_NONE));
  box.SetOKLabel(wxString::FromUTF8("确定"));
  return box.ShowModal();
}

wxString FromUtf8(const char* text) { return wxString::FromUTF8(text ? text : ""); }
