// Driving the real dialogs under a display: modal boxes answered by a script
// of expected dialogs (anything else fails the test instead of hanging it),
// mouse clicks and keys through the toolkit's input simulator, pictures of
// the windows kept as test artifacts.
#pragma once

#include <gtest/gtest.h>
#include <wx/dialog.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>

#include <deque>
#include <functional>
#include <string>

class wxListCtrl;
class wxTopLevelWindow;

// Answers modal dialogs in the order the test expects them. Installed for the
// whole test program; a dialog nobody expects is reported as a failure and
// dismissed with Cancel, so it can never block.
class DialogScript : public wxModalDialogHook {
 public:
  using Handler = std::function<int(wxDialog*)>;

  static DialogScript& Get();

  // Expects a dialog of class T; `handler` checks it and returns its result.
  template <class T>
  void Expect(std::function<int(T*)> handler) {
    Push(typeid(T).name(), [handler](wxDialog* dialog) -> int {
      T* typed = dynamic_cast<T*>(dialog);
      if (!typed) {
        ADD_FAILURE() << "expected a " << typeid(T).name() << ", got a "
                      << typeid(*dialog).name() << " titled \""
                      << dialog->GetTitle().utf8_str().data() << "\"";
        return wxID_CANCEL;
      }
      return handler(typed);
    });
  }
  // Expects a message box with exactly `text`, the application's name as
  // caption, only an OK button labelled "确定", and the given icon style (none when 0).
  void ExpectMessage(const wxString& text, long icon = 0);
  // Expects the file-open dialog and answers it with `hostPath`; `before`
  // runs first (to check the dialog or change the disk).
  void ExpectFileOpen(const wxString& hostPath,
                      std::function<void(wxDialog*)> before = nullptr);

  // Reports every expected dialog that was not shown, then forgets them.
  void VerifyAndReset();
  size_t Pending() const { return expected_.size(); }
  int Shown() const { return shown_; }

 protected:
  int Enter(wxDialog* dialog) override;
  void Exit(wxDialog*) override {}

 private:
  void Push(const std::string& what, Handler handler);
  struct Expected {
    std::string what;
    Handler handler;
  };
  std::deque<Expected> expected_;
  int shown_ = 0;
};

// Processes events for `ms` milliseconds.
void Pump(int ms = 60);

// Left click at the centre of `window` (or at `at` in its client
// coordinates), as a person does: the pointer moves there first.
void ClickOn(wxWindow* window);
void ClickAt(wxWindow* window, const wxPoint& at, bool control = false, bool right = false);
// Moves the pointer to `at` in `window`'s client coordinates.
void MoveTo(wxWindow* window, const wxPoint& at);
// Presses and releases a key with the pointer over `window`.
void PressKey(wxWindow* window, int keyCode);

// Clicks the list row `row` (in its first column), with Ctrl held to add it
// to the selection.
void ClickRow(wxListCtrl* list, long row, bool control);

// The button with the given id, failing the test when it is missing.
wxWindow* Control(wxWindow* parent, int id);

// Shows a dialog without a modal loop and lets it paint.
void ShowAndSettle(wxTopLevelWindow* window);

// Saves a picture of the window under <build>/artifacts/gui/<name>.png.
void KeepScreenshot(wxTopLevelWindow* window, const std::string& name);

// The texts of one list row.
std::vector<std::string> RowTexts(wxListCtrl* list, long row);

// Path of a program built into <build>/bin.
std::string BuiltProgram(const char* name);
