// The blacklist editor driven through its buttons and list: adding through
// the file dialog, selection rules, clearing, saving (the same User000.dat as
// the command line), and the bad cases.
#include <sys/stat.h>
#include <wx/filedlg.h>

#include "manager/gui/list_ctrl.h"
#include "manager/gui/user_dlg.h"
#include "manager/ops/folders.h"
#include "platform/win32/win32.h"
#include "tests/gui/gui_fixture.h"

namespace {

// MD5 digests known from RFC 1321's test suite and common use.
const char kAbc[] = "abc";
const char kAbcMd5[] = "900150983cd24fb0d6963f7d28e17f72";
const char kFox[] = "The quick brown fox jumps over the lazy dog";
const char kFoxMd5[] = "9e107d9d372bb6826bd81d3542a419d6";
const char kMessageDigest[] = "message digest";
const char kMessageDigestMd5[] = "f96b697d7cb7938d525a2f31aaf161d0";

std::string TodayUtc() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  char text[32];  // room for any WORD values, so the compiler sees no cut
  snprintf(text, sizeof text, "%.4d-%.2d-%.2d", now.wYear, now.wMonth, now.wDay);
  return text;
}

class BlacklistDialogTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    // Install so that LibraryFolder names the manager's Lib folder.
    ASSERT_TRUE(AddBootEntry() && WriteTargetKey() && CopyScanner());
    ASSERT_TRUE(ReadLibraryFolder());
    WriteHostFile(machine_.Host("F:\\abc.exe"), kAbc);
    WriteHostFile(machine_.Host("F:\\fox.EXE"), kFox);
    WriteHostFile(machine_.Host("F:\\tools\\md.exe"), kMessageDigest);
  }
  std::string UserFile() { return machine_.Host("C:\\Program Files\\tarnwellUSB\\Lib\\User000.dat"); }

  // Adds the file at drive path `drivePath` through the Add button.
  void AddThroughDialog(CUserDlg* editor, const std::string& drivePath) {
    std::string host = machine_.Host(drivePath);
    DialogScript::Get().ExpectFileOpen(wxString::FromUTF8(host));
    ClickOn(Control(editor, 1006));
  }
  // An editor opened, given F:\abc.exe, saved and closed: User000.dat then
  // holds that one sample.
  void SaveOneSample() {
    CUserDlg editor(nullptr);
    ShowAndSettle(&editor);
    AddThroughDialog(&editor, "F:\\abc.exe");
    DialogScript::Get().ExpectMessage(wxString::FromUTF8("保存成功！"));
    ClickOn(Control(&editor, 1009));
  }
};

TEST_F(BlacklistDialogTest, AddShowsRowsAndTheFileDialogMatchesExeInAnyCase) {
  CUserDlg editor(nullptr);
  ShowAndSettle(&editor);
  EXPECT_EQ(0, editor.List()->GetItemCount()) << "no user library file yet";
  DialogScript::Get().ExpectFileOpen(
      wxString::FromUTF8(machine_.Host("F:\\abc.exe")), [](wxDialog* dialog) {
        wxFileDialog* chooser = static_cast<wxFileDialog*>(dialog);
        EXPECT_TRUE(chooser->HasFlag(wxFD_FILE_MUST_EXIST));
        EXPECT_TRUE(chooser->HasFlag(wxFD_OPEN));
        EXPECT_TRUE(chooser->HasFlag(wxFD_SHOW_HIDDEN));
        wxString filter = chooser->GetWildcard();
        wxArrayString parts = wxSplit(filter, '|', 0);
        ASSERT_EQ(4u, parts.size());
        EXPECT_EQ("EXE Files (*.exe)", parts[0]);
        EXPECT_EQ("All Files (*.*)", parts[2]);
        // The patterns find SETUP.EXE and setup.exe, and "All Files" also
        // files without an extension, but the EXE filter nothing else.
        auto matches = [](const wxString& patterns, const wxString& name) {
          for (const wxString& p : wxSplit(patterns, ';', 0))
            if (wxMatchWild(p, name, false)) return true;
          return false;
        };
        for (const char* name : {"setup.exe", "SETUP.EXE", "Setup.Exe", "a.eXe"})
          EXPECT_TRUE(matches(parts[1], name)) << name;
        EXPECT_FALSE(matches(parts[1], "readme.txt"));
        EXPECT_FALSE(matches(parts[1], "exe"));
        EXPECT_TRUE(matches(parts[3], "README"));
        EXPECT_TRUE(matches(parts[3], "notes.txt"));
      });
  ClickOn(Control(&editor, 1006));
  AddThroughDialog(&editor, "F:\\fox.EXE");
  ASSERT_EQ(2, editor.List()->GetItemCount());
  EXPECT_EQ((std::vector<std::string>{"0", TodayUtc(), "F:\\abc.exe", kAbcMd5}),
            RowTexts(editor.List(), 0));
  EXPECT_EQ((std::vector<std::string>{"1", TodayUtc(), "F:\\fox.EXE", kFoxMd5}),
            RowTexts(editor.List(), 1));
  // The same content again (under another name too) is not listed twice.
  WriteHostFile(machine_.Host("F:\\copy.exe"), kAbc);
  AddThroughDialog(&editor, "F:\\abc.exe");
  AddThroughDialog(&editor, "F:\\copy.exe");
  EXPECT_EQ(2, editor.List()->GetItemCount());
  EXPECT_EQ(2, editor.RowCount());
  // An empty file adds nothing.
  WriteHostFile(machine_.Host("F:\\empty.exe"), "");
  AddThroughDialog(&editor, "F:\\empty.exe");
  EXPECT_EQ(2, editor.List()->GetItemCount());
  KeepScreenshot(&editor, "blacklist-added");
}

TEST_F(BlacklistDialogTest, DeleteRemovesOnlyTheHighestSelectedRow) {
  CUserDlg editor(nullptr);
  ShowAndSettle(&editor);
  AddThroughDialog(&editor, "F:\\abc.exe");
  AddThroughDialog(&editor, "F:\\fox.EXE");
  AddThroughDialog(&editor, "F:\\tools\\md.exe");
  ASSERT_EQ(3, editor.List()->GetItemCount());
  ClickRow(editor.List(), 0, false);
  ClickRow(editor.List(), 2, true);
  ClickRow(editor.List(), 1, true);
  EXPECT_EQ(3, editor.List()->GetSelectedItemCount());
  KeepScreenshot(&editor, "blacklist-three-selected");
  ClickOn(Control(&editor, 1007));
  ASSERT_EQ(2, editor.List()->GetItemCount());
  EXPECT_EQ((std::vector<std::string>{"0", TodayUtc(), "F:\\abc.exe", kAbcMd5}),
            RowTexts(editor.List(), 0));
  EXPECT_EQ((std::vector<std::string>{"1", TodayUtc(), "F:\\fox.EXE", kFoxMd5}),
            RowTexts(editor.List(), 1));
  // Nothing selected: Delete does nothing.
  for (long row = 0; row < editor.List()->GetItemCount(); ++row)
    editor.List()->SetItemState(row, 0, wxLIST_STATE_SELECTED);
  ClickOn(Control(&editor, 1007));
  EXPECT_EQ(2, editor.List()->GetItemCount());
}

TEST_F(BlacklistDialogTest, SaveWritesWhatTheCommandLineWrites) {
  // The command line's save on a twin machine with the same samples.
  TestMachine twin;
  twin.InstallManagerProgram(BuiltProgram("tarnwellUSB"));
  WriteHostFile(twin.Host("F:\\abc.exe"), kAbc);
  WriteHostFile(twin.Host("F:\\fox.EXE"), kFox);
  std::string program = "'" + twin.ManagerHostPath() + "' --machine '" + twin.MachineJson() + "' ";
  std::string out;
  ASSERT_EQ(0, RunCommand(program + "install", &out)) << out;
  ASSERT_EQ(0, RunCommand(program + "blacklist add 'F:\\abc.exe' 'F:\\fox.EXE'", &out)) << out;

  CUserDlg editor(nullptr);
  ShowAndSettle(&editor);
  AddThroughDialog(&editor, "F:\\abc.exe");
  AddThroughDialog(&editor, "F:\\fox.EXE");
  DialogScript::Get().ExpectMessage(wxString::FromUTF8("保存成功！"));
  ClickOn(Control(&editor, 1009));
  std::string saved = ReadHostFile(UserFile());
  ASSERT_FALSE(saved.empty());
  EXPECT_EQ(ReadHostFile(twin.Host("C:\\Program Files\\tarnwellUSB\\Lib\\User000.dat")), saved);
  EXPECT_EQ(2, editor.List()->GetItemCount()) << "the editor keeps its samples";

  // Reopened, the editor lists them in the saved order.
  CUserDlg again(nullptr);
  ASSERT_EQ(2, again.List()->GetItemCount());
  EXPECT_EQ(RowTexts(editor.List(), 0), RowTexts(again.List(), 0));
  EXPECT_EQ(RowTexts(editor.List(), 1), RowTexts(again.List(), 1));
}

TEST_F(BlacklistDialogTest, ClearThenSaveLeavesAnEmptyList) {
  SaveOneSample();
  CUserDlg editor(nullptr);
  ShowAndSettle(&editor);
  ASSERT_EQ(1, editor.List()->GetItemCount());
  ClickOn(Control(&editor, 1008));
  EXPECT_EQ(0, editor.List()->GetItemCount());
  EXPECT_EQ(0, editor.RowCount());
  DialogScript::Get().ExpectMessage(wxString::FromUTF8("保存成功！"));
  ClickOn(Control(&editor, 1009));
  CUserDlg reopened(nullptr);
  EXPECT_EQ(0, reopened.List()->GetItemCount());
}

TEST_F(BlacklistDialogTest, SavingAfterAFailedLoadKeepsTheUnshownFileOnce) {
  SaveOneSample();
  std::string lib = machine_.Host("C:\\Program Files\\tarnwellUSB\\Lib");
  std::string withAbc = ReadHostFile(UserFile());
  WriteHostFile(lib + "/User009.dat", "");  // the last user file read is empty
  CUserDlg editor(nullptr);
  ShowAndSettle(&editor);
  EXPECT_EQ(0, editor.List()->GetItemCount()) << "the editor opens empty";
  AddThroughDialog(&editor, "F:\\fox.EXE");
  DialogScript::Get().ExpectMessage(wxString::FromUTF8("保存成功！"));
  ClickOn(Control(&editor, 1009));
  EXPECT_EQ(withAbc, ReadHostFile(UserFile() + ".old"));
  // Saved once, User000.dat holds what the editor shows: saving again keeps
  // no second backup.
  DialogScript::Get().ExpectMessage(wxString::FromUTF8("保存成功！"));
  ClickOn(Control(&editor, 1009));
  struct stat st;
  EXPECT_NE(0, stat((UserFile() + ".old1").c_str(), &st));
  remove((lib + "/User009.dat").c_str());
  CUserDlg reopened(nullptr);
  ASSERT_EQ(1, reopened.List()->GetItemCount());
  EXPECT_EQ(kFoxMd5, RowTexts(reopened.List(), 0)[3]);
}

TEST_F(BlacklistDialogTest, SaveFailsForAMissingOrReadOnlyLibraryFolder) {
  std::string out;
  RunCommand("rm -rf '" + machine_.Host("C:\\Program Files\\tarnwellUSB\\Lib") + "'", &out);
  CUserDlg editor(nullptr);
  ShowAndSettle(&editor);
  EXPECT_EQ(0, editor.List()->GetItemCount());
  AddThroughDialog(&editor, "F:\\abc.exe");
  DialogScript::Get().ExpectMessage(wxString::FromUTF8("保存失败！"));
  ClickOn(Control(&editor, 1009));
  EXPECT_EQ(1, editor.List()->GetItemCount()) << "the samples stay";

  // A library folder that cannot be written: a read-only folder for a normal
  // user, and a read-only User000.dat, which even an administrator's save
  // must not replace.
  std::string lib = machine_.Host("C:\\Program Files\\tarnwellUSB\\Lib");
  RunCommand("mkdir -p '" + lib + "'", &out);
  WriteHostFile(lib + "/User000.dat", "old");
  ASSERT_TRUE(SetFileAttributesA("C:\\Program Files\\tarnwellUSB\\Lib\\User000.dat",
                                 FILE_ATTRIBUTE_READONLY));
  chmod(lib.c_str(), 0555);
  DialogScript::Get().ExpectMessage(wxString::FromUTF8("保存失败！"));
  ClickOn(Control(&editor, 1009));
  chmod(lib.c_str(), 0755);
  EXPECT_EQ("old", ReadHostFile(lib + "/User000.dat"));
  EXPECT_EQ(1, editor.List()->GetItemCount());
}

TEST_F(BlacklistDialogTest, ASampleThatVanishesAfterChoosingIsNotAdded) {
  CUserDlg editor(nullptr);
  ShowAndSettle(&editor);
  std::string host = machine_.Host("F:\\abc.exe");
  DialogScript::Get().ExpectFileOpen(wxString::FromUTF8(host),
                                     [host](wxDialog*) { remove(host.c_str()); });
  ClickOn(Control(&editor, 1006));
  EXPECT_EQ(0, editor.List()->GetItemCount());
  // No message: the only dialog was the file dialog.
  EXPECT_EQ(0u, DialogScript::Get().Pending());
}

TEST_F(BlacklistDialogTest, FilesOutsideTheMachineAreRefusedWithAMessage) {
  CUserDlg editor(nullptr);
  ShowAndSettle(&editor);
  std::string outside = machine_.Folder() + "/outside.exe";
  WriteHostFile(outside, kAbc);
  DialogScript::Get().ExpectFileOpen(wxString::FromUTF8(outside));
  DialogScript::Get().ExpectMessage(wxString::FromUTF8("只能添加本机驱动器上的文件：\n") +
                                    wxString::FromUTF8(outside));
  ClickOn(Control(&editor, 1006));
  EXPECT_EQ(0, editor.List()->GetItemCount());
}

TEST_F(BlacklistDialogTest, DamagedUserLibraryFilesDoNotStopTheOthers) {
  SaveOneSample();
  std::string lib = machine_.Host("C:\\Program Files\\tarnwellUSB\\Lib");
  std::string good = ReadHostFile(lib + "/User000.dat");
  // A truncated copy and a file of noise beside the good one.
  WriteHostFile(lib + "/User001.dat", good.substr(0, good.size() / 2));
  std::string noise(700, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 37 + 11);
  WriteHostFile(lib + "/User002.dat", noise);
  CUserDlg editor(nullptr);
  ShowAndSettle(&editor);
  ASSERT_GE(editor.List()->GetItemCount(), 1);
  EXPECT_EQ((std::vector<std::string>{"0", TodayUtc(), "F:\\abc.exe", kAbcMd5}),
            RowTexts(editor.List(), 0));
}

}  // namespace
