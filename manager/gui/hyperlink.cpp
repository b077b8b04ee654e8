// CHyperLink: hover by mouse capture, colours, font, fitting and opening.
#include "manager/gui/hyperlink.h"

#include <wx/cursor.h>
#include <wx/filefn.h>
#include <wx/log.h>
#include <wx/settings.h>
#include <wx/utils.h>

#include "manager/gui/message_box.h"

namespace {

CHyperLink::Opener& CurrentOpener() {
  static CHyperLink::Opener opener;
  return opener;
}

// A value above 32: what the shell answers when it has opened the URL.
const int kOpened = 42;
// The shell's "no application associated" answer.
const int kNoAssociation = 31;

}  // namespace

CHyperLink::CHyperLink()
    : linkColour_(0, 0, 238),
      visitedColour_(85, 26, 139),
      hoverColour_(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT)) {}

CHyperLink::~CHyperLink() {
  if (HasCapture()) ReleaseMouse();
}

bool CHyperLink::Create(wxWindow* parent, wxWindowID id, const wxString& label,
                        const wxPoint& pos, const wxSize& size, long style) {
  if (!wxGenericStaticText::Create(parent, id, label, pos, size, style | wxST_NO_AUTORESIZE))
    return false;
  if (url_.empty()) url_ = GetLabelText();
  if (GetLabelText().empty()) SetLabelText(url_);
  ApplyLinkFont();
  PositionWindow();
  SetCursor(wxCursor(wxCURSOR_HAND));
  SetToolTip(url_);
  ApplyColour();
  Bind(wxEVT_MOTION, &CHyperLink::OnMotion, this);
  Bind(wxEVT_LEFT_UP, &CHyperLink::OnLeftUp, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, &CHyperLink::OnCaptureLost, this);
  return true;
}

void CHyperLink::SetURL(const wxString& url) {
  url_ = url;
  if (GetHandle()) {
    PositionWindow();
    SetToolTip(url_);
  }
}

void CHyperLink::SetUnderline(bool underline) {
  underline_ = underline;
  if (GetHandle()) {
    ApplyLinkFont();
    PositionWindow();
    Refresh();
  }
}

void CHyperLink::SetAutoSize(bool adjustToFit) {
  adjustToFit_ = adjustToFit;
  if (GetHandle()) PositionWindow();
}

void CHyperLink::SetColours(const wxColour& link, const wxColour& visited, const wxColour& hover) {
  linkColour_ = link;
  visitedColour_ = visited;
  hoverColour_ = hover;
  if (GetHandle()) ApplyColour();
}

void CHyperLink::SetVisited(bool visited) {
  visited_ = visited;
  if (GetHandle()) ApplyColour();
}

wxColour CHyperLink::CurrentTextColour() const {
  if (overControl_) return hoverColour_;
  return visited_ ? visitedColour_ : linkColour_;
}

void CHyperLink::ApplyColour() {
  SetForegroundColour(CurrentTextColour());
  Refresh();
}

void CHyperLink::ApplyLinkFont() {
  wxFont font = GetParent() ? GetParent()->GetFont() : GetFont();
  font.SetUnderlined(underline_);
  SetFont(font);
}

// Fits the control to its text: horizontally by its alignment style (centred
// shrinks evenly, right-aligned keeps the right edge, otherwise the left edge
// stays), vertically the top stays.
void CHyperLink::PositionWindow() {
  if (!adjustToFit_ || !GetHandle()) return;
  wxRect rect = GetRect();
  wxSize extent = GetTextExtent(GetLabelText());
  long style = GetWindowStyle();
  int dx = rect.width - extent.x;
  if (style & wxALIGN_CENTRE_HORIZONTAL)
    rect.x += dx / 2;
  else if (style & wxALIGN_RIGHT)
    rect.x += dx;
  rect.width = extent.x;
  rect.height = extent.y;
  SetSize(rect);
}

// Where the pointer is, asked of the pointer itself: while the mouse is
// captured the toolkit may report positions relative to another window.
bool CHyperLink::PointerInside() const {
  return GetClientRect().Contains(ScreenToClient(wxGetMousePosition()));
}

void CHyperLink::OnMotion(wxMouseEvent& event) {
  event.Skip();
  if (overControl_) {
    if (!PointerInside()) LeaveHover();
  } else {
    overControl_ = true;
    ApplyColour();
    Update();
    if (!HasCapture()) CaptureMouse();
  }
}

void CHyperLink::LeaveHover() {
  overControl_ = false;
  if (HasCapture()) ReleaseMouse();
  ApplyColour();
  Update();
}

void CHyperLink::OnCaptureLost(wxMouseCaptureLostEvent&) {
  // Another window took the mouse (a menu, a dialog): the pointer is no
  // longer ours to track.
  overControl_ = false;
  ApplyColour();
}

void CHyperLink::OnLeftUp(wxMouseEvent& event) {
  event.Skip();
  if (!PointerInside()) return;
  OpenLink();
}

void CHyperLink::OpenLink() {
  // The browser or the error box takes the pointer next.
  if (overControl_) LeaveHover();
  const Opener& custom = CurrentOpener();
  int result = custom ? custom(url_) : DefaultOpener(url_);
  visited_ = result > 32;
  ApplyColour();
  if (visited_) return;
  wxBell();
  ShowMessage(wxGetTopLevelParent(this), "Unable to open hyperlink:\n\n" + ErrorText(result),
              wxString(), wxICON_EXCLAMATION);
}

void CHyperLink::SetOpener(Opener opener) { CurrentOpener() = std::move(opener); }

int CHyperLink::DefaultOpener(const wxString& url) {
  {
    wxLogNull quiet;  // the error box below says it in the link's words
    if (wxLaunchDefaultBrowser(url)) return kOpened;
  }
  wxString path, opener;
  if (!wxGetEnv("PATH", &path) || !wxFindFileInPath(&opener, path, "xdg-open"))
    return kNoAssociation;
  return 0;  // the opener exists but could not be started
}

wxString CHyperLink::ErrorText(int result) {
  switch (result) {
    case 0: return "The operating system is out\nof memory or resources.";
    case 2: return "The specified file was not found.";
    case 3: return "The specified path was not found.";
    case 5: return "The operating system denied\naccess to the specified file.";
    case 8: return "There was not enough memory to complete the operation.";
    case 11: return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case 26: return "A sharing violation occurred. ";
    case 27: return "The filename association is\nincomplete or invalid.";
    case 28: return "The DDE transaction could not\nbe completed because the request timed out.";
    case 29: return "The DDE transaction failed.";
    case 30:
      return "The DDE transaction could not\nbe completed because other DDE transactions\n"
             "were being processed.";
    case 31: return "There is no application associated\nwith the given filename extension.";
    case 32: return "The specified dynamic-link library was not found.";
    default: return wxString::Format("Unknown Error (%d) occurred.", result);
  }
}
