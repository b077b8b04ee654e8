// The main dialog driven as a person drives it: install and uninstall with
// their message boxes, the editors opened from their buttons, the About box,
// the icon, the application's start-up and the missing display.
#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/stattext.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include "manager/gui/about_dlg.h"
#include "manager/gui/app.h"
#include "manager/gui/back_dlg.h"
#include "manager/gui/hyperlink.h"
#include "manager/gui/main_dlg.h"
#include "manager/gui/program_icon.h"
#include "manager/gui/user_dlg.h"
#include "manager/ops/folders.h"
#include "platform/win32/win32.h"
#include "tests/gui/gui_fixture.h"

namespace {

const char kExpectedHelp[] =
    "Tarnwell U盘病毒专杀使用说明：\n"
    "\n"
    "1.安装。如果发现其他程序拦截，请点击允许安装。\n"
    "2.插入U盘。\n"
    "3.下次重启计算机时，将进入tarnwell蓝色界面，如果存在'U'键，则按'U'键查杀即可。\n"
    "4.卸载。\n"
    "\n"
    "其他功能：\n"
    "1.用户可以添加黑名单，重启计算机后即可查杀。\n"
    "2.用户可以进入隔离区，恢复杀毒前的状态。\n"
    "3.C盘根目录会保存扫描日志tarnwell.log和病毒备份目录tarnwell.vir(隐含)。\n"
    "4.更详细的说明参见《使用指南》。\n";

// The boot program list of the open machine, as raw bytes.
std::string BootExecute() {
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                  &key) != ERROR_SUCCESS)
    return "<no key>";
  BYTE data[512];
  DWORD size = sizeof data, type = 0;
  LONG rc = RegQueryValueExA(key, "BootExecute", nullptr, &type, data, &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return "<no value>";
  return std::string(reinterpret_cast<char*>(data), size);
}

using MainDialogTest = GuiTest;

TEST_F(MainDialogTest, StartsWithTitleHelpLinkAndIcons) {
  CtarnwellUSBDlg dialog;
  EXPECT_EQ("Tarnwell U盘病毒专杀(tarnwellUSB v1.0)", std::string(dialog.GetTitle().utf8_str()));
  EXPECT_EQ(kExpectedHelp, std::string(dialog.HelpText().utf8_str()));
  CHyperLink* link = dialog.Link();
  EXPECT_EQ(1019, link->GetId());
  EXPECT_EQ("http://www.corvane.example/", std::string(link->GetURL().utf8_str()));
  EXPECT_EQ(std::string(dialog.LinkText().utf8_str()), std::string(link->GetLabelText().utf8_str()));
  EXPECT_FALSE(link->GetUnderline());
  EXPECT_FALSE(link->GetFont().GetUnderlined());
  const wxIconBundle& icons = dialog.GetIcons();
  EXPECT_TRUE(icons.GetIcon(32, wxIconBundle::FALLBACK_NONE).IsOk());
  EXPECT_TRUE(icons.GetIcon(16, wxIconBundle::FALLBACK_NONE).IsOk());
  EXPECT_TRUE(dialog.HasFlag(wxMINIMIZE_BOX));
  // The library folder is read when the dialog starts: no install yet.
  EXPECT_STREQ("Lib", LibraryFolder);
  ShowAndSettle(&dialog);
  KeepScreenshot(&dialog, "main-dialog");
}

TEST_F(MainDialogTest, InstallLeavesWhatTheCommandLineInstallLeaves) {
  // The same install, run by the command line on a twin machine.
  TestMachine twin;
  twin.InstallManagerProgram(BuiltProgram("tarnwellUSB"));
  std::string out;
  ASSERT_EQ(0, RunCommand("'" + twin.ManagerHostPath() + "' --machine '" + twin.MachineJson() +
                              "' install",
                          &out))
      << out;
  EXPECT_EQ("tarnwell 安装成功!\n", out);

  CtarnwellUSBDlg dialog;
  ShowAndSettle(&dialog);
  DialogScript::Get().ExpectMessage(wxString::FromUTF8("tarnwell 安装成功!\n"));
  ClickOn(Control(&dialog, 1000));
  EXPECT_EQ(0u, DialogScript::Get().Pending()) << "the install message was not shown";

  EXPECT_EQ(ReadHostFile(twin.RegistryFile()), ReadHostFile(machine_.RegistryFile()));
  std::string scanner = ReadHostFile(machine_.Host("C:\\WINDOWS\\system32\\tarnwell.exe"));
  EXPECT_EQ(ReadHostFile(machine_.Host("C:\\Program Files\\tarnwellUSB\\Lib\\tarnwell.exe")),
            scanner);
  EXPECT_EQ(ReadHostFile(twin.Host("C:\\WINDOWS\\system32\\tarnwell.exe")), scanner);
  // "autocheck autochk *", NUL, "tarnwell", NUL, NUL.
  EXPECT_EQ(std::string("autocheck autochk *\0tarnwell\0\0", 30), BootExecute());
  // A successful install reads the library folder again.
  EXPECT_STREQ("C:\\Program Files\\tarnwellUSB\\Lib", LibraryFolder);
  KeepScreenshot(&dialog, "main-after-install");

  // Uninstall from the dialog and from the command line agree as well.
  DialogScript::Get().ExpectMessage(wxString::FromUTF8("tarnwell 卸载成功!\n"));
  ClickOn(Control(&dialog, 1001));
  ASSERT_EQ(0, RunCommand("'" + twin.ManagerHostPath() + "' --machine '" + twin.MachineJson() +
                              "' uninstall",
                          &out))
      << out;
  EXPECT_EQ(ReadHostFile(twin.RegistryFile()), ReadHostFile(machine_.RegistryFile()));
  EXPECT_FALSE(HostExists(machine_.Host("C:\\WINDOWS\\system32\\tarnwell.exe")));
  EXPECT_EQ(std::string("autocheck autochk *\0\0", 21), BootExecute());
  EXPECT_STREQ("Lib", LibraryFolder);
}

TEST_F(MainDialogTest, InstallWithoutTheScannerReportsTheProgramStep) {
  std::string out;
  RunCommand("rm '" + machine_.Host("C:\\Program Files\\tarnwellUSB\\Lib\\tarnwell.exe") + "'",
             &out);
  CtarnwellUSBDlg dialog;
  ShowAndSettle(&dialog);
  DialogScript::Get().ExpectMessage(wxString::FromUTF8("tarnwell 安装失败, 程序安装失败。\n"));
  ClickOn(Control(&dialog, 1000));
  // The earlier steps stay done.
  EXPECT_EQ(std::string("autocheck autochk *\0tarnwell\0\0", 30), BootExecute());
}

TEST_F(MainDialogTest, EditorButtonsOpenTheEditorsModally) {
  CtarnwellUSBDlg dialog;
  ShowAndSettle(&dialog);
  bool editorShown = false;
  DialogScript::Get().Expect<CUserDlg>([&](CUserDlg* editor) {
    editorShown = true;
    EXPECT_EQ(&dialog, editor->GetParent());
    EXPECT_EQ("黑名单样本", std::string(editor->GetTitle().utf8_str()));
    ShowAndSettle(editor);
    ClickOn(Control(editor, 1004));  // 退出编辑
    EXPECT_FALSE(editor->IsShown());
    return 0;
  });
  ClickOn(Control(&dialog, 1002));
  EXPECT_TRUE(editorShown);

  bool quarantineShown = false;
  DialogScript::Get().Expect<CBackDlg>([&](CBackDlg* manager) {
    quarantineShown = true;
    EXPECT_EQ("隔离区还原文件", std::string(manager->GetTitle().utf8_str()));
    ShowAndSettle(manager);
    ClickOn(Control(manager, 1016));
    EXPECT_FALSE(manager->IsShown());
    return 0;
  });
  ClickOn(Control(&dialog, 1003));
  EXPECT_TRUE(quarantineShown);
}

// A one-shot timer that runs a step inside whatever loop is running then
// (a modal dialog's, a popup menu's).
class Later : public wxTimer {
 public:
  explicit Later(std::function<void()> step) : step_(std::move(step)) {}
  void Notify() override { step_(); }

 private:
  std::function<void()> step_;
};

TEST_F(MainDialogTest, ExitEndsTheModalDialog) {
  CtarnwellUSBDlg dialog;
  // Let the dialog run its real modal loop; Exit is clicked from inside it.
  DialogScript::Get().Unregister();
  Later click([&] { ClickOn(Control(&dialog, 1004)); });
  click.StartOnce(400);
  int result = dialog.ShowModal();
  DialogScript::Get().Register();
  EXPECT_EQ(0, result);
  EXPECT_FALSE(dialog.IsShown());
}

void ExpectAboutBox(bool* shown) {
  DialogScript::Get().Expect<CAboutDlg>([shown](CAboutDlg* about) {
    *shown = true;
    EXPECT_EQ("About tarnwellUSB", std::string(about->GetTitle().utf8_str()));
    wxWindow* ok = about->FindWindow(1);
    EXPECT_NE(nullptr, ok);
    if (ok) {
      EXPECT_EQ("OK", std::string(ok->GetLabel().utf8_str()));
    }
    bool version = false;
    for (wxWindow* child : about->GetChildren())
      if (child->GetLabel() == "tarnwellUSB Version 1.0") version = true;
    EXPECT_TRUE(version);
    ShowAndSettle(about);
    KeepScreenshot(about, "about-box");
    ClickOn(ok);
    EXPECT_FALSE(about->IsShown());
    return wxID_OK;
  });
}

TEST_F(MainDialogTest, AboutBoxOpensOnF1AndFromTheContextMenu) {
  CtarnwellUSBDlg dialog;
  ShowAndSettle(&dialog);
  bool shown = false;
  ExpectAboutBox(&shown);
  PressKey(&dialog, WXK_F1);
  EXPECT_TRUE(shown) << "F1";

  shown = false;
  ExpectAboutBox(&shown);
  // The context menu opens on a right click; its only item is chosen with
  // the keyboard from inside the menu's own loop.
  Later choose([] {
    wxUIActionSimulator sim;
    sim.Char(WXK_DOWN);
    sim.Char(WXK_RETURN);
  });
  choose.StartOnce(500);
  ClickAt(&dialog, wxPoint(dialog.GetClientSize().x / 3, 4), false, true);
  Pump(800);
  EXPECT_TRUE(shown) << "context menu";
}

TEST_F(MainDialogTest, AboutCommandIdsMatchOnTheirHighBits) {
  CtarnwellUSBDlg dialog;
  bool shown = false;
  ExpectAboutBox(&shown);
  wxCommandEvent about(wxEVT_MENU, 16);
  dialog.GetEventHandler()->ProcessEvent(about);
  EXPECT_TRUE(shown);
}

TEST(MinimisedIconTest, IsDrawnCentred) {
  wxIcon icon;
  icon.CopyFromBitmap(wxBitmap(ProgramIconImage(32)));
  wxBitmap canvas(101, 80, 24);
  {
    wxMemoryDC dc(canvas);
    dc.SetBackground(wxBrush(wxColour(10, 200, 10)));
    dc.Clear();
    CtarnwellUSBDlg::DrawMinimisedIcon(dc, wxSize(101, 80), icon);
  }
  wxImage shot = canvas.ConvertToImage();
  wxImage expected = ProgramIconImage(32);
  // x = (101 - 32 + 1) / 2 = 35, y = (80 - 32 + 1) / 2 = 24.
  const int x0 = 35, y0 = 24;
  // The shield's body (opaque) lands on the icon's own pixels.
  for (int y : {10, 16, 24}) {
    EXPECT_EQ(255, expected.GetAlpha(16, y));
    EXPECT_EQ(expected.GetRed(16, y), shot.GetRed(x0 + 16, y0 + y));
    EXPECT_EQ(expected.GetBlue(16, y), shot.GetBlue(x0 + 16, y0 + y));
  }
  // Outside the icon the background stays.
  EXPECT_EQ(200, shot.GetGreen(x0 - 1, y0 + 16));
  EXPECT_EQ(200, shot.GetGreen(x0 + 32, y0 + 16));
  EXPECT_EQ(200, shot.GetGreen(x0 + 16, y0 - 1));
}

TEST_F(MainDialogTest, ApplicationShowsTheMainDialogModallyAndEnds) {
  // Building an application object makes it the toolkit's current one: the
  // test program's own is put back afterwards.
  wxAppConsole* testApp = wxApp::GetInstance();
  struct Restore {
    wxAppConsole* app;
    ~Restore() { wxApp::SetInstance(app); }
  } restore{testApp};
  CtarnwellUSBApp app;
  bool shown = false;
  DialogScript::Get().Expect<CtarnwellUSBDlg>([&](CtarnwellUSBDlg* dialog) {
    shown = true;
    EXPECT_EQ("Tarnwell U盘病毒专杀(tarnwellUSB v1.0)",
              std::string(dialog->GetTitle().utf8_str()));
    return 0;
  });
  EXPECT_FALSE(app.OnInit()) << "no message loop follows the dialog";
  EXPECT_TRUE(shown);
  EXPECT_EQ(0, app.ExitStatus());
  EXPECT_EQ("C:\\Program Files\\tarnwellUSB\\", std::string(ProgramFolder));
  EXPECT_EQ("C:\\WINDOWS", std::string(WindowsFolder));
}

TEST_F(MainDialogTest, WithoutADisplayTheProgramPointsToTheCommandLine) {
  machine_.InstallManagerProgram(BuiltProgram("tarnwellUSB"));
  std::string out;
  int status = RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY '" + machine_.ManagerHostPath() +
                              "' --machine '" + machine_.MachineJson() + "' </dev/null",
                          &out);
  EXPECT_EQ(1, status) << out;
  EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << out;
  EXPECT_NE(std::string::npos, out.find("no display")) << out;
  EXPECT_NE(std::string::npos, out.find("command line")) << out;
}

}  // namespace
