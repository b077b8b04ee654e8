// Test program of the dialogs: starts the toolkit on the display (under
// xvfb-run when there is none), turns toolkit assertions and unexpected
// dialogs into test failures, and ends a test that hangs.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/filedlg.h>
#include <wx/init.h>
#include <wx/log.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "tests/gui/gui_harness.h"

namespace {

void OnToolkitAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                     const wxString& msg) {
  ADD_FAILURE() << "toolkit assertion at " << file.utf8_str().data() << ":" << line << " in "
                << func.utf8_str().data() << ": " << cond.utf8_str().data() << " "
                << msg.utf8_str().data();
}

// Ends the program when one test runs longer than this.
const int kTestSeconds = 60;
std::atomic<int> g_testSerial{0};
std::string g_currentTest;

class Watchdog : public testing::EmptyTestEventListener {
 public:
  void OnTestStart(const testing::TestInfo& info) override {
    g_currentTest = std::string(info.test_suite_name()) + "." + info.name();
    int serial = ++g_testSerial;
    std::thread([serial] {
      std::this_thread::sleep_for(std::chrono::seconds(kTestSeconds));
      if (g_testSerial == serial) {
        fprintf(stderr, "\n%s has not ended after %d seconds: a dialog waits for input?\n",
                g_currentTest.c_str(), kTestSeconds);
        _exit(3);
      }
    }).detach();
  }
  void OnTestEnd(const testing::TestInfo&) override {
    ++g_testSerial;
    DialogScript::Get().VerifyAndReset();
  }
};

class TestApp : public wxApp {
 public:
  bool OnInit() override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
  if (!getenv("DISPLAY") && !getenv("TW_GUI_NO_XVFB")) {
    // No display: run again under a virtual one.
    setenv("TW_GUI_NO_XVFB", "1", 1);
    std::string self = argv[0];
    char** args = new char*[argc + 6];
    int n = 0;
    args[n++] = const_cast<char*>("xvfb-run");
    args[n++] = const_cast<char*>("-a");
    args[n++] = const_cast<char*>("-s");
    args[n++] = const_cast<char*>("-screen 0 1280x1024x24");
    for (int i = 0; i < argc; ++i) args[n++] = argv[i];
    args[n] = nullptr;
    execvp("xvfb-run", args);
    fprintf(stderr, "no display and no xvfb-run: the dialog tests need a display\n");
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  wxApp::SetInstance(new TestApp);
  bool started;
  {
    wxLogNull quiet;
    started = wxEntryStart(argc, argv);
  }
  if (!started) {
    fprintf(stderr, "cannot open the display %s\n", getenv("DISPLAY"));
    return 1;
  }
  wxTheApp->CallOnInit();
  wxSetAssertHandler(OnToolkitAssert);
  // Errors the toolkit logs go to standard error, never into a log window.
  delete wxLog::SetActiveTarget(new wxLogStderr);
  {
    // Builds the native file chooser once before any test changes the
    // environment: the toolkit reads its data folders (icon themes) once.
    wxFileDialog warmUp(nullptr);
  }
  DialogScript::Get();
  testing::UnitTest::GetInstance()->listeners().Append(new Watchdog);
  int result = RUN_ALL_TESTS();
  wxEntryCleanup();
  return result;
}
