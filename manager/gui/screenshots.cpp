// Window captures of the manager's dialogs.
#include "manager/gui/screenshots.h"

#include <wx/dcmemory.h>
#include <wx/evtloop.h>
#include <wx/filename.h>
#include <wx/stopwatch.h>
#include <wx/app.h>
#include <wx/utils.h>

#include <memory>
#include <wx/toplevel.h>

#include "manager/gui/back_dlg.h"
#include "manager/gui/layout.h"
#include "manager/gui/main_dlg.h"
#include "manager/gui/program_icon.h"
#include "manager/gui/user_dlg.h"

// After the toolkit's headers: Xlib defines macros that clash with them.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

// Dispatches by hand until the time is up, so that nothing has to end the
// loop from outside: a handler run from here may pump events in turn.
// Inside a running loop (a modal dialog's) its own loop dispatches, so that
// the dialog can still end it.
void PumpEvents(int ms) {
  wxGUIEventLoop own;
  wxEventLoopBase* loop = wxEventLoopBase::GetActive();
  std::unique_ptr<wxEventLoopActivator> activate;
  if (!loop) {
    loop = &own;
    activate.reset(new wxEventLoopActivator(&own));
  }
  wxStopWatch clock;
  while (clock.Time() < ms) {
    if (loop->Pending()) {
      loop->Dispatch();
      continue;
    }
    if (wxTheApp) {
      wxTheApp->ProcessPendingEvents();
      wxTheApp->ProcessIdle();
    }
    wxMilliSleep(2);
  }
}

namespace {

// One 8-bit colour channel of a true-colour pixel.
unsigned char Channel(unsigned long pixel, unsigned long mask) {
  if (mask == 0) return 0;
  unsigned long value = pixel & mask;
  while ((mask & 1) == 0) {
    mask >>= 1;
    value >>= 1;
  }
  return static_cast<unsigned char>(value * 255 / mask);
}

}  // namespace

// Reads the screen through a connection of its own to the X server: the
// toolkit's screen device context keeps the first picture it took.
wxImage CaptureClientArea(wxWindow* window) {
  window->Update();
  wxSize size = window->GetClientSize();
  wxPoint origin = window->ClientToScreen(wxPoint(0, 0));
  wxImage image(size.x > 0 ? size.x : 1, size.y > 0 ? size.y : 1);
  Display* display = XOpenDisplay(nullptr);
  if (!display) return image;
  XImage* shot = XGetImage(display, DefaultRootWindow(display), origin.x, origin.y,
                           image.GetWidth(), image.GetHeight(), AllPlanes, ZPixmap);
  if (shot) {
    for (int y = 0; y < image.GetHeight(); ++y) {
      for (int x = 0; x < image.GetWidth(); ++x) {
        unsigned long pixel = XGetPixel(shot, x, y);
        image.SetRGB(x, y, Channel(pixel, shot->red_mask), Channel(pixel, shot->green_mask),
                     Channel(pixel, shot->blue_mask));
      }
    }
    XDestroyImage(shot);
  }
  XCloseDisplay(display);
  return image;
}

wxImage CaptureDialog(wxTopLevelWindow* window) {
  wxImage client = CaptureClientArea(window);
  const int border = 1, bar = 26;
  int width = client.GetWidth() + 2 * border;
  int height = client.GetHeight() + bar + 2 * border;
  wxBitmap framed(width, height, 24);
  {
    wxMemoryDC dc(framed);
    dc.SetBackground(wxBrush(wxColour(96, 96, 96)));
    dc.Clear();
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(wxColour(44, 62, 92)));
    dc.DrawRectangle(border, border, width - 2 * border, bar);
    dc.DrawBitmap(wxBitmap(ProgramIconImage(16)), border + 6, border + (bar - 16) / 2, true);
    wxFont font = DialogFont();
    font.SetWeight(wxFONTWEIGHT_BOLD);
    dc.SetFont(font);
    dc.SetTextForeground(*wxWHITE);
    int textHeight = dc.GetTextExtent(window->GetTitle()).y;
    dc.DrawText(window->GetTitle(), border + 28, border + (bar - textHeight) / 2);
    dc.DrawBitmap(wxBitmap(client), border, border + bar);
  }
  return framed.ConvertToImage();
}

namespace {

bool SaveShot(wxTopLevelWindow* window, const wxString& folder, const char* name,
              wxString* error) {
  window->Show();
  window->Raise();
  PumpEvents(400);
  wxString path = wxFileName(folder, name).GetFullPath();
  if (!CaptureDialog(window).SaveFile(path, wxBITMAP_TYPE_PNG)) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace

bool SaveDialogScreenshots(const wxString& folder, wxString* error) {
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
  if (!wxFileName::Mkdir(folder, wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL)) {
    *error = "cannot create " + folder;
    return false;
  }
  // The editors are shown over the main dialog, which stays open as it does
  // when they are opened from its buttons.
  CtarnwellUSBDlg main;
  if (!SaveShot(&main, folder, "main.png", error)) return false;
  bool saved;
  {
    CUserDlg editor(&main);
    saved = SaveShot(&editor, folder, "blacklist.png", error);
    editor.Hide();
  }
  if (saved) {
    CBackDlg quarantine(&main);
    saved = SaveShot(&quarantine, folder, "quarantine.png", error);
    quarantine.Hide();
  }
  main.Hide();
  PumpEvents(50);
  return saved;
}
