// CHyperLink: a static text that behaves as a web link. It shows its text in
// the link colour (visited colour once opened, hover colour under the mouse),
// optionally underlined, sized to its text, with a hand cursor and the URL as
// tooltip; a click opens the URL with the desktop's opener.
#pragma once

#include <wx/colour.h>
#include <wx/generic/stattextg.h>

#include <functional>

class CHyperLink : public wxGenericStaticText {
 public:
  // Opens a URL; answers as the shell does: above 32 for success, otherwise
  // an error code (see ErrorText).
  using Opener = std::function<int(const wxString& url)>;

  CHyperLink();
  ~CHyperLink() override;

  // Creates the control and attaches the link behaviour to it: an empty URL
  // is taken from the text, an empty text shows the URL.
  bool Create(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
              const wxSize& size, long style = 0);

  void SetURL(const wxString& url);
  wxString GetURL() const { return url_; }
  void SetUnderline(bool underline);
  bool GetUnderline() const { return underline_; }
  void SetAutoSize(bool adjustToFit);
  bool GetAutoSize() const { return adjustToFit_; }
  void SetColours(const wxColour& link, const wxColour& visited, const wxColour& hover);
  wxColour GetLinkColour() const { return linkColour_; }
  wxColour GetVisitedColour() const { return visitedColour_; }
  wxColour GetHoverColour() const { return hoverColour_; }
  void SetVisited(bool visited);
  bool GetVisited() const { return visited_; }
  bool IsOverControl() const { return overControl_; }

  // The colour the text is drawn in now.
  wxColour CurrentTextColour() const;

  // Opens the URL as a click does: on success the link turns visited; on
  // failure a beep and the error box.
  void OpenLink();

  // The opener used by every link; tests put their own. Null restores the
  // default (the desktop's browser through wxLaunchDefaultBrowser).
  static void SetOpener(Opener opener);
  static int DefaultOpener(const wxString& url);
  // The error text for an opener result (the message box shows it after
  // "Unable to open hyperlink:\n\n").
  static wxString ErrorText(int result);

 private:
  void PositionWindow();
  void ApplyLinkFont();
  void ApplyColour();
  void LeaveHover();
  bool PointerInside() const;
  void OnMotion(wxMouseEvent& event);
  void OnLeftUp(wxMouseEvent& event);
  void OnCaptureLost(wxMouseCaptureLostEvent& event);

  wxColour linkColour_;
  wxColour visitedColour_;
  wxColour hoverColour_;
  bool overControl_ = false;
  bool visited_ = false;
  bool underline_ = true;
  bool adjustToFit_ = true;
  wxString url_;
};
