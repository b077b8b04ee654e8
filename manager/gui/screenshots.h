// Pictures of the manager's dialogs, for the documentation and as test
// artifacts: the window's client area as shown on the display, framed with a
// drawn title bar (the test display has no window manager to draw one).
#pragma once

#include <wx/image.h>
#include <wx/string.h>

class wxTopLevelWindow;
class wxWindow;

// Processes events for about `ms` milliseconds (in a nested loop, so it may
// be called from inside an event handler).
void PumpEvents(int ms);

// The client area of a shown window, as the display shows it.
wxImage CaptureClientArea(wxWindow* window);

// The client area under a title bar carrying the window's icon and title.
wxImage CaptureDialog(wxTopLevelWindow* window);

// Shows the main dialog, the blacklist editor and the quarantine manager of
// the current machine one after another and writes main.png, blacklist.png
// and quarantine.png into `folder`. False with *error on failure.
bool SaveDialogScreenshots(const wxString& folder, wxString* error);
