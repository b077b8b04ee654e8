// The manager's message boxes: OK only, the OK button labelled "确定" as the
// Chinese interface has it.
#pragma once

#include <wx/string.h>
#include <wx/window.h>

// Shows `text` in a modal message box owned by `owner`, with `caption`
// (the application's name when empty) and the icon given in `iconStyle`
// (wxICON_*, or 0 for none: the install, uninstall and save messages are plain
// OK boxes without an icon).
int ShowMessage(wxWindow* owner, const wxString& text, const wxString& caption = wxString(),
                long iconStyle = 0);

// Text of a UTF-8 byte string; the operations return UTF-8 messages.
wxString FromUtf8(const char* text);
