// The quarantine manager driven through its buttons and list: the seven
// columns, restoring and deleting the selected record, all records, and a
// store with damaged records.
#include "manager/gui/back_dlg.h"
#include "manager/gui/list_ctrl.h"
#include "tests/gui/gui_fixture.h"

namespace {

const char kAbcMd5[] = "900150983cd24fb0d6963f7d28e17f72";
const char kFoxMd5[] = "9e107d9d372bb6826bd81d3542a419d6";

class QuarantineDialogTest : public GuiTest {
 protected:
  std::string StoreRoot() { return machine_.Folder() + "/c/tarnwell.bak"; }
  size_t RecordFiles() {
    std::string out;
    RunCommand("find '" + StoreRoot() + "' -type f 2>/dev/null | wc -l", &out);
    return static_cast<size_t>(atoi(out.c_str()));
  }
};

TEST_F(QuarantineDialogTest, ListsEveryRecordWithItsSevenColumns) {
  machine_.AddQuarantineRecord("F:\\autorun.exe", "Virus.USB.Heur", "abc");
  CBackDlg dialog(nullptr);
  ShowAndSettle(&dialog);
  ASSERT_EQ(1, dialog.List()->GetItemCount());
  EXPECT_EQ((std::vector<std::string>{"0", "2026-12-07", "Virus.USB.Heur", "F:\\autorun.exe",
                                      "2025-01-02", "3", kAbcMd5}),
            RowTexts(dialog.List(), 0));
  KeepScreenshot(&dialog, "quarantine-one-record");
}

TEST_F(QuarantineDialogTest, RestoreWritesTheFileBackAndDropsItsRow) {
  machine_.AddQuarantineRecord("F:\\autorun.exe", "Virus.USB.Heur", "abc");
  machine_.AddQuarantineRecord("F:\\docs\\fox.exe", "Virus.Fox",
                               "The quick brown fox jumps over the lazy dog");
  WriteHostFile(machine_.Host("F:\\docs\\.keep"), "");
  CBackDlg dialog(nullptr);
  ShowAndSettle(&dialog);
  ASSERT_EQ(2, dialog.List()->GetItemCount());
  long fox = RowTexts(dialog.List(), 0)[3] == "F:\\docs\\fox.exe" ? 0 : 1;
  ClickRow(dialog.List(), fox, false);
  ClickOn(Control(&dialog, 1012));  // 还原单个文件
  EXPECT_EQ("The quick brown fox jumps over the lazy dog",
            ReadHostFile(machine_.Host("F:\\docs\\fox.exe")));
  ASSERT_EQ(1, dialog.List()->GetItemCount());
  EXPECT_EQ((std::vector<std::string>{"0", "2026-12-07", "Virus.USB.Heur", "F:\\autorun.exe",
                                      "2025-01-02", "3", kAbcMd5}),
            RowTexts(dialog.List(), 0));
  EXPECT_EQ(1u, RecordFiles());
  EXPECT_FALSE(HostExists(machine_.Host("F:\\autorun.exe")));
}

TEST_F(QuarantineDialogTest, OnlyTheLastSelectedRowIsActedOn) {
  machine_.AddQuarantineRecord("F:\\a.exe", "Virus.A", "abc");
  machine_.AddQuarantineRecord("F:\\b.exe", "Virus.B", "The quick brown fox jumps over the lazy dog");
  machine_.AddQuarantineRecord("F:\\c.exe", "Virus.C", "message digest");
  CBackDlg dialog(nullptr);
  ShowAndSettle(&dialog);
  ASSERT_EQ(3, dialog.List()->GetItemCount());
  std::string last = RowTexts(dialog.List(), 2)[3];
  ClickRow(dialog.List(), 2, false);
  ClickRow(dialog.List(), 0, true);
  EXPECT_EQ(2, dialog.List()->GetSelectedItemCount());
  ClickOn(Control(&dialog, 1013));  // 删除单个备份
  ASSERT_EQ(2, dialog.List()->GetItemCount());
  for (long row = 0; row < 2; ++row) EXPECT_NE(last, RowTexts(dialog.List(), row)[3]);
  EXPECT_EQ("0", RowTexts(dialog.List(), 0)[0]);
  EXPECT_EQ("1", RowTexts(dialog.List(), 1)[0]);
  EXPECT_EQ(2u, RecordFiles());
  // A deleted record restores nothing.
  EXPECT_FALSE(HostExists(machine_.Host(last)));
  // No selection: nothing happens.
  for (long row = 0; row < 2; ++row) dialog.List()->SetItemState(row, 0, wxLIST_STATE_SELECTED);
  ClickOn(Control(&dialog, 1012));
  EXPECT_EQ(2, dialog.List()->GetItemCount());
}

TEST_F(QuarantineDialogTest, RestoreAllAndDeleteAll) {
  machine_.AddQuarantineRecord("F:\\a.exe", "Virus.A", "abc");
  machine_.AddQuarantineRecord("F:\\b.exe", "Virus.B", "The quick brown fox jumps over the lazy dog");
  {
    CBackDlg dialog(nullptr);
    ShowAndSettle(&dialog);
    ClickOn(Control(&dialog, 1015));  // 还原所有样本
    EXPECT_EQ(0, dialog.List()->GetItemCount());
  }
  EXPECT_EQ("abc", ReadHostFile(machine_.Host("F:\\a.exe")));
  EXPECT_EQ("The quick brown fox jumps over the lazy dog", ReadHostFile(machine_.Host("F:\\b.exe")));
  EXPECT_EQ(0u, RecordFiles());

  machine_.AddQuarantineRecord("F:\\c.exe", "Virus.C", "message digest");
  CBackDlg dialog(nullptr);
  ShowAndSettle(&dialog);
  ASSERT_EQ(1, dialog.List()->GetItemCount());
  ClickOn(Control(&dialog, 1014));  // 删除所有备份
  EXPECT_EQ(0, dialog.List()->GetItemCount());
  EXPECT_FALSE(HostExists(StoreRoot()));
  EXPECT_FALSE(HostExists(machine_.Host("F:\\c.exe")));
  CBackDlg reopened(nullptr);
  EXPECT_EQ(0, reopened.List()->GetItemCount());
}

TEST_F(QuarantineDialogTest, DamagedRecordsAreLeftOutAndFailedRestoresKeepTheList) {
  std::string good = machine_.AddQuarantineRecord("F:\\fox.exe", "Virus.Fox",
                                                  "The quick brown fox jumps over the lazy dog");
  std::string other = machine_.AddQuarantineRecord("F:\\abc.exe", "Virus.Abc", "abc");
  // Not a record at all, and a record cut short after its header.
  WriteHostFile(StoreRoot() + "/3/notes.txt", "not a record");
  std::string otherHost = StoreRoot() + "/" + other.substr(0, 1) + "/" + other;
  std::string bytes = ReadHostFile(otherHost);
  WriteHostFile(otherHost, bytes.substr(0, bytes.size() - 2));
  CBackDlg dialog(nullptr);
  ShowAndSettle(&dialog);
  // The cut record is still listed from its header; restoring it fails and
  // leaves everything as it was.
  ASSERT_EQ(2, dialog.List()->GetItemCount());
  long cut = RowTexts(dialog.List(), 0)[3] == "F:\\abc.exe" ? 0 : 1;
  EXPECT_EQ(kFoxMd5, RowTexts(dialog.List(), 1 - cut)[6]);
  ClickRow(dialog.List(), cut, false);
  ClickOn(Control(&dialog, 1012));
  EXPECT_EQ(2, dialog.List()->GetItemCount());
  EXPECT_FALSE(HostExists(machine_.Host("F:\\abc.exe")));
  KeepScreenshot(&dialog, "quarantine-damaged");
}

TEST_F(QuarantineDialogTest, NoStoreMeansAnEmptyListAndButtonsThatChangeNothing) {
  CBackDlg dialog(nullptr);
  ShowAndSettle(&dialog);
  EXPECT_EQ(0, dialog.List()->GetItemCount());
  for (int id : {1012, 1013, 1014, 1015}) ClickOn(Control(&dialog, id));
  EXPECT_EQ(0, dialog.List()->GetItemCount());
  EXPECT_FALSE(HostExists(StoreRoot()));
}

}  // namespace
