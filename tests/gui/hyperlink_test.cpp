// CHyperLink: attach rules, fitting, hover by capture, and opening the URL
// with a success, with failures and with no opener at all.
#include <stdlib.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/settings.h>

#include "manager/gui/hyperlink.h"
#include "manager/gui/layout.h"
#include "manager/gui/main_dlg.h"
#include "tests/gui/gui_fixture.h"

namespace {

// A dialog holding one link, laid out like the main dialog's.
class LinkHost : public wxDialog {
 public:
  LinkHost(const wxString& text, const wxString& url, long style = 0) {
    Create(nullptr, wxID_ANY, "link", wxDefaultPosition, wxDefaultSize, wxCAPTION);
    SetDialogLayout(this, 200, 60);
    // A second control: a dialog stretches a lone child over its whole area.
    new wxButton(this, wxID_OK, "OK", wxPoint(250, 60));
    link = new CHyperLink;
    if (!url.empty()) link->SetURL(url);
    link->Create(this, 1019, text, wxPoint(40, 30), wxSize(300, 40), style);
  }
  CHyperLink* link;
};

// Restores the default opener and the environment after a test.
class HyperlinkTest : public GuiTest {
 protected:
  void TearDown() override {
    CHyperLink::SetOpener(nullptr);
    for (auto saved = saved_.rbegin(); saved != saved_.rend(); ++saved) {
      if (saved->second.empty())
        unsetenv(saved->first.c_str());
      else
        setenv(saved->first.c_str(), saved->second.c_str(), 1);
    }
  }
  void SetEnv(const char* name, const char* value) {
    const char* old = getenv(name);
    saved_.push_back({name, old ? old : ""});
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(HyperlinkTest, DefaultsAndAttachRules) {
  LinkHost host("Corvane", "");
  CHyperLink* link = host.link;
  EXPECT_EQ(wxColour(0, 0, 238), link->GetLinkColour());
  EXPECT_EQ(wxColour(85, 26, 139), link->GetVisitedColour());
  EXPECT_EQ(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT), link->GetHoverColour());
  EXPECT_TRUE(link->GetUnderline());
  EXPECT_TRUE(link->GetFont().GetUnderlined());
  EXPECT_TRUE(link->GetAutoSize());
  EXPECT_FALSE(link->GetVisited());
  // No URL: the text is the URL.
  EXPECT_EQ("Corvane", std::string(link->GetURL().utf8_str()));
  EXPECT_EQ(wxColour(0, 0, 238), link->GetForegroundColour());
  EXPECT_EQ("Corvane", std::string(link->GetToolTipText().utf8_str()));
  EXPECT_TRUE(link->GetCursor().IsOk());

  // No text: the URL is shown.
  LinkHost bare("", "http://u.example/");
  EXPECT_EQ("http://u.example/", std::string(bare.link->GetLabelText().utf8_str()));

  // Underline off rebuilds the font; the tooltip follows the URL.
  link->SetUnderline(false);
  EXPECT_FALSE(link->GetFont().GetUnderlined());
  link->SetURL("http://v.example/");
  EXPECT_EQ("http://v.example/", std::string(link->GetToolTipText().utf8_str()));
}

TEST_F(HyperlinkTest, FitsItsTextByAlignment) {
  LinkHost left("some link text", "");
  wxSize extent = left.link->GetTextExtent("some link text");
  EXPECT_EQ(wxRect(40, 30, extent.x, extent.y), left.link->GetRect());

  LinkHost right("some link text", "", wxALIGN_RIGHT);
  EXPECT_EQ(40 + 300, right.link->GetRect().GetRight() + 1) << "right edge kept";
  EXPECT_EQ(extent.x, right.link->GetRect().width);

  LinkHost centre("some link text", "", wxALIGN_CENTRE_HORIZONTAL);
  EXPECT_EQ(40 + (300 - extent.x) / 2, centre.link->GetRect().x);
}

TEST_F(HyperlinkTest, HoverCapturesTheMouseUntilItLeaves) {
  LinkHost host("hover over me", "http://h.example/");
  ShowAndSettle(&host);
  CHyperLink* link = host.link;
  MoveTo(&host, wxPoint(5, 5));
  EXPECT_FALSE(link->IsOverControl());
  MoveTo(link, wxPoint(4, link->GetClientSize().y / 2));
  MoveTo(link, wxPoint(6, link->GetClientSize().y / 2));
  EXPECT_TRUE(link->IsOverControl());
  EXPECT_TRUE(link->HasCapture());
  EXPECT_EQ(link->GetHoverColour(), link->CurrentTextColour());
  EXPECT_EQ(link->GetHoverColour(), link->GetForegroundColour());
  KeepScreenshot(&host, "link-hover");
  MoveTo(&host, wxPoint(5, 5));
  EXPECT_FALSE(link->IsOverControl());
  EXPECT_FALSE(link->HasCapture());
  EXPECT_EQ(link->GetLinkColour(), link->GetForegroundColour());
}

TEST_F(HyperlinkTest, ClickOpensTheUrlAndTheLinkTurnsVisited) {
  CtarnwellUSBDlg dialog;
  ShowAndSettle(&dialog);
  std::vector<std::string> opened;
  CHyperLink::SetOpener([&](const wxString& url) {
    opened.push_back(std::string(url.utf8_str()));
    return 42;
  });
  ClickOn(dialog.Link());
  ASSERT_EQ(1u, opened.size());
  EXPECT_EQ("http://www.corvane.example/", opened[0]);
  EXPECT_TRUE(dialog.Link()->GetVisited());
  EXPECT_FALSE(dialog.Link()->HasCapture());
  MoveTo(&dialog, wxPoint(2, 2));
  EXPECT_EQ(wxColour(85, 26, 139), dialog.Link()->GetForegroundColour());
  KeepScreenshot(&dialog, "link-visited");
}

TEST_F(HyperlinkTest, FailedOpenBeepsAndShowsTheShellError) {
  CtarnwellUSBDlg dialog;
  ShowAndSettle(&dialog);
  CHyperLink::SetOpener([](const wxString&) { return 26; });
  DialogScript::Get().ExpectMessage("Unable to open hyperlink:\n\nA sharing violation occurred. ",
                                    wxICON_EXCLAMATION);
  ClickOn(dialog.Link());
  EXPECT_EQ(0u, DialogScript::Get().Pending());
  EXPECT_FALSE(dialog.Link()->GetVisited());
  MoveTo(&dialog, wxPoint(2, 2));
  EXPECT_EQ(wxColour(0, 0, 238), dialog.Link()->GetForegroundColour());
}

TEST(HyperlinkErrorText, EveryShellResultHasItsText) {
  EXPECT_EQ("The operating system is out\nof memory or resources.",
            CHyperLink::ErrorText(0));
  EXPECT_EQ("The specified file was not found.", CHyperLink::ErrorText(2));
  EXPECT_EQ("The specified path was not found.", CHyperLink::ErrorText(3));
  EXPECT_EQ("The operating system denied\naccess to the specified file.",
            CHyperLink::ErrorText(5));
  EXPECT_EQ("There was not enough memory to complete the operation.", CHyperLink::ErrorText(8));
  EXPECT_EQ("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).",
            CHyperLink::ErrorText(11));
  EXPECT_EQ("A sharing violation occurred. ", CHyperLink::ErrorText(26));
  EXPECT_EQ("The filename association is\nincomplete or invalid.", CHyperLink::ErrorText(27));
  EXPECT_EQ("The DDE transaction could not\nbe completed because the request timed out.",
            CHyperLink::ErrorText(28));
  EXPECT_EQ("The DDE transaction failed.", CHyperLink::ErrorText(29));
  EXPECT_EQ(
      "The DDE transaction could not\nbe completed because other DDE transactions\nwere being "
      "processed.",
      CHyperLink::ErrorText(30));
  EXPECT_EQ("There is no application associated\nwith the given filename extension.",
            CHyperLink::ErrorText(31));
  EXPECT_EQ("The specified dynamic-link library was not found.", CHyperLink::ErrorText(32));
  EXPECT_EQ("Unknown Error (1) occurred.", CHyperLink::ErrorText(1));
  EXPECT_EQ("Unknown Error (-7) occurred.", CHyperLink::ErrorText(-7));
}

// No xdg-open and no desktop-specific opener. (The toolkit's own lookup of
// registered browsers reads the desktop's data folders once per process;
// the set-up installs no browser.)
void HideEveryOpener(HyperlinkTest* test, const std::string& emptyDir,
                     std::function<void(const char*, const char*)> set) {
  set("PATH", emptyDir.c_str());
  set("XDG_CURRENT_DESKTOP", nullptr);
  set("BROWSER", nullptr);
}

TEST_F(HyperlinkTest, NoOpenerAtAllSaysNoApplicationIsAssociated) {
  std::string empty = machine_.Folder() + "/empty";
  WriteHostFile(empty + "/.keep", "");
  HideEveryOpener(this, empty, [this](const char* n, const char* v) { SetEnv(n, v); });
  CtarnwellUSBDlg dialog;
  ShowAndSettle(&dialog);
  DialogScript::Get().ExpectMessage(
      "Unable to open hyperlink:\n\nThere is no application associated\nwith the given filename "
      "extension.",
      wxICON_EXCLAMATION);
  bool registered = false;
  CHyperLink::SetOpener([&registered](const wxString& url) {
    int result = CHyperLink::DefaultOpener(url);
    registered = result > 32;
    return result;
  });
  ClickOn(dialog.Link());
  if (registered) {
    DialogScript::Get().VerifyAndReset();
    GTEST_SKIP() << "this desktop has a browser registered without xdg-open";
  }
  EXPECT_FALSE(dialog.Link()->GetVisited());
}

TEST_F(HyperlinkTest, TheDesktopOpenerGetsTheUrl) {
  std::string bin = machine_.Folder() + "/bin";
  std::string log = machine_.Folder() + "/opened.txt";
  WriteHostFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + log + "'\n");
  std::string out;
  RunCommand("chmod +x '" + bin + "/xdg-open'", &out);
  HideEveryOpener(this, machine_.Folder() + "/empty",
                  [this](const char* n, const char* v) { SetEnv(n, v); });
  SetEnv("PATH", (bin + ":/bin:/usr/bin").c_str());
  CtarnwellUSBDlg dialog;
  ShowAndSettle(&dialog);
  ClickOn(dialog.Link());
  for (int i = 0; i < 40 && ReadHostFile(log).empty(); ++i) Pump(50);
  EXPECT_EQ("http://www.corvane.example/", ReadHostFile(log));
  EXPECT_TRUE(dialog.Link()->GetVisited());
}

}  // namespace
