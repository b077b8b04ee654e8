// Layout of the dialogs: dialog units, ids, texts, and every text fitting its
// control in the set-up's font.
#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>

#include "manager/gui/about_dlg.h"
#include "manager/gui/back_dlg.h"
#include "manager/gui/help_text.h"
#include "manager/gui/layout.h"
#include "manager/gui/list_ctrl.h"
#include "manager/gui/main_dlg.h"
#include "manager/gui/user_dlg.h"
#include "tests/gui/gui_fixture.h"

namespace {

wxSize MultiLineExtent(const wxString& text, const wxFont& font) {
  wxMemoryDC dc;
  dc.SetFont(font);
  wxCoord w = 0, h = 0;
  dc.GetMultiLineTextExtent(text, &w, &h);
  return wxSize(w, h);
}

// Every button and static text of `dialog` shows its whole text.
void ExpectTextsFit(wxWindow* dialog, const char* name) {
  for (wxWindow* child : dialog->GetChildren()) {
    wxSize size = child->GetSize();
    wxString label = child->GetLabel();
    if (wxButton* button = dynamic_cast<wxButton*>(child)) {
      // The label with the room the button's frame and focus ring take.
      wxSize need = MultiLineExtent(button->GetLabelText(), button->GetFont());
      EXPECT_LE(need.x + 16, size.x) << name << " button \"" << label.utf8_str().data() << "\"";
      EXPECT_LE(need.y + 8, size.y) << name << " button \"" << label.utf8_str().data() << "\"";
    } else if (wxStaticText* text = dynamic_cast<wxStaticText*>(child)) {
      wxSize need = MultiLineExtent(text->GetLabelText(), text->GetFont());
      EXPECT_LE(need.x, size.x) << name << " text \"" << label.utf8_str().data() << "\"";
      EXPECT_LE(need.y, size.y) << name << " text \"" << label.utf8_str().data() << "\"";
      wxSize best = text->GetBestSize();
      EXPECT_LE(best.y, size.y) << name << " text \"" << label.utf8_str().data() << "\"";
    }
  }
}

// Each heading of the list is readable: its column is at least as wide as
// the heading's text in the header's own font and the header's margins.
void ExpectHeadingsReadable(wxListCtrl* list, const std::vector<std::string>& headings) {
  ASSERT_EQ(static_cast<int>(headings.size()), list->GetColumnCount());
  // The header is the list's shorter child, above the rows' area.
  wxWindow* header = nullptr;
  for (wxWindow* child : list->GetChildren())
    if (!header || child->GetSize().y < header->GetSize().y) header = child;
  ASSERT_NE(nullptr, header);
  wxFont headerFont = header->GetFont();
  wxMemoryDC dc;
  dc.SetFont(headerFont);
  const int kHeaderMargins = 2 * 5;
  for (size_t i = 0; i < headings.size(); ++i) {
    wxListItem item;
    item.SetMask(wxLIST_MASK_TEXT | wxLIST_MASK_FORMAT);
    ASSERT_TRUE(list->GetColumn(static_cast<int>(i), item));
    EXPECT_EQ(headings[i], std::string(item.GetText().utf8_str()));
    EXPECT_EQ(wxLIST_FORMAT_LEFT, item.GetAlign());
    int need = dc.GetTextExtent(wxString::FromUTF8(headings[i])).x + kHeaderMargins;
    EXPECT_GE(list->GetColumnWidth(static_cast<int>(i)), need) << headings[i];
  }
}

using LayoutTest = GuiTest;

TEST_F(LayoutTest, DialogUnitsFollowTheDialogFont) {
  CtarnwellUSBDlg dialog;
  DialogUnits du(&dialog);
  // The base units come from the font: a quarter of the average letter width
  // and an eighth of the height make 4 x 8 units one average character.
  wxMemoryDC dc;
  dc.SetFont(dialog.GetFont());
  wxSize letters = dc.GetTextExtent("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ((letters.x / 26 + 1) / 2, du.Base().x);
  EXPECT_EQ(letters.y, du.Base().y);
  EXPECT_EQ(du.Size(320, 162), dialog.GetClientSize());
  EXPECT_EQ("WenQuanYi Micro Hei", std::string(dialog.GetFont().GetFaceName().utf8_str()));
  // Adjacent rectangles share their edge: no rounding gap or overlap.
  EXPECT_EQ(du.Rect(0, 0, 7, 3).GetRight() + 1, du.Rect(7, 3, 5, 5).GetLeft());
}

TEST_F(LayoutTest, MainDialogControlsStandWhereTheTemplatePutsThem) {
  CtarnwellUSBDlg dialog;
  DialogUnits du(&dialog);
  struct {
    int id;
    const char* text;
    int x, y, w, h;
  } expected[] = {
      {1000, "安装", 240, 12, 66, 21},   {1001, "卸载", 240, 42, 66, 21},
      {1002, "黑名单", 240, 71, 66, 21}, {1003, "隔离区", 240, 100, 66, 21},
      {1004, "退出", 240, 129, 66, 21},
  };
  for (const auto& e : expected) {
    wxWindow* control = Control(&dialog, e.id);
    ASSERT_NE(nullptr, control);
    EXPECT_EQ(e.text, std::string(control->GetLabel().utf8_str()));
    EXPECT_EQ(du.Rect(e.x, e.y, e.w, e.h), control->GetRect()) << e.text;
  }
  EXPECT_EQ(du.Rect(12, 12, 210, 114), Control(&dialog, 1018)->GetRect());
  // The link is fitted to its text from the template's top-left corner.
  wxRect link = Control(&dialog, 1019)->GetRect();
  EXPECT_EQ(du.Rect(12, 138, 96, 8).GetTopLeft(), link.GetTopLeft());
}

TEST_F(LayoutTest, HelpTextIsShownWholeWithoutClipping) {
  CtarnwellUSBDlg dialog;
  ShowAndSettle(&dialog);
  wxStaticText* help = dialog.HelpControl();
  wxString shown = help->GetLabelText();
  // Only line breaks were added: no character is lost.
  wxString flatShown = shown, flatText = dialog.HelpText();
  flatShown.Replace("\n", "");
  flatText.Replace("\n", "");
  EXPECT_EQ(std::string(flatText.utf8_str()), std::string(flatShown.utf8_str()));
  wxMemoryDC dc;
  dc.SetFont(help->GetFont());
  wxSize area = help->GetClientSize();
  for (const wxString& line : wxSplit(shown, '\n', 0))
    EXPECT_LE(dc.GetTextExtent(line).x, area.x) << line.utf8_str().data();
  EXPECT_LE(MultiLineExtent(shown, help->GetFont()).y, area.y);
  EXPECT_LE(help->GetBestSize().y, area.y);
  EXPECT_LE(help->GetBestSize().x, area.x);
  KeepScreenshot(&dialog, "layout-main");
}

TEST_F(LayoutTest, EveryTextFitsItsControl) {
  CtarnwellUSBDlg main;
  ExpectTextsFit(&main, "main dialog");
  CAboutDlg about(&main);
  ExpectTextsFit(&about, "About box");
  CUserDlg editor(&main);
  ExpectTextsFit(&editor, "blacklist editor");
  CBackDlg quarantine(&main);
  ExpectTextsFit(&quarantine, "quarantine manager");
}

TEST_F(LayoutTest, ListHeadingsAreReadable) {
  CUserDlg editor(nullptr);
  ExpectHeadingsReadable(editor.List(), {"序号", "添加时间", "文件名称", "MD5"});
  CBackDlg quarantine(nullptr);
  ExpectHeadingsReadable(quarantine.List(), {"序号", "隔离时间", "病毒名称", "文件名称",
                                             "创建时间", "文件大小", "MD5"});
  // Widths: the heading's width in the list's font plus the margin.
  wxListCtrl* list = quarantine.List();
  int margins[] = {20, 20, 50, 100, 20, 20, 60};
  for (int i = 0; i < 7; ++i) {
    wxListItem item;
    item.SetMask(wxLIST_MASK_TEXT);
    list->GetColumn(i, item);
    EXPECT_EQ(list->GetTextExtent(item.GetText()).x + margins[i], list->GetColumnWidth(i));
  }
}

TEST_F(LayoutTest, EditorLayoutsAndTitles) {
  CUserDlg editor(nullptr);
  EXPECT_EQ("黑名单样本", std::string(editor.GetTitle().utf8_str()));
  DialogUnits du(&editor);
  EXPECT_EQ(du.Size(346, 169), editor.GetClientSize());
  EXPECT_EQ(du.Rect(12, 12, 240, 144), editor.List()->GetRect());
  EXPECT_EQ(1005, editor.List()->GetId());
  const char* texts[] = {"添加样本", "删除样本", "清空样本", "保存样本"};
  for (int i = 0; i < 4; ++i) {
    wxWindow* button = Control(&editor, 1006 + i);
    EXPECT_EQ(texts[i], std::string(button->GetLabel().utf8_str()));
    EXPECT_EQ(du.Rect(264, 18 + 28 * i, 72, 18), button->GetRect());
  }
  EXPECT_EQ("退出编辑", std::string(Control(&editor, 1004)->GetLabel().utf8_str()));
  EXPECT_FALSE(editor.List()->HasFlag(wxLC_SINGLE_SEL));
  EXPECT_TRUE(editor.List()->HasFlag(wxLC_REPORT));

  CBackDlg quarantine(nullptr);
  EXPECT_EQ("隔离区还原文件", std::string(quarantine.GetTitle().utf8_str()));
  EXPECT_EQ(1017, quarantine.List()->GetId());
  const char* backTexts[] = {"还原单个文件", "删除单个备份", "删除所有备份", "还原所有样本",
                             "退出编辑"};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(backTexts[i], std::string(Control(&quarantine, 1012 + i)->GetLabel().utf8_str()));
  EXPECT_FALSE(quarantine.List()->HasFlag(wxLC_SINGLE_SEL));
}

TEST(HelpWrapTest, BreaksCjkAnywhereButKeepsLatinWordsAndPunctuation) {
  wxFont font = DialogFont();
  wxMemoryDC dc;
  dc.SetFont(font);
  int cjk = dc.GetTextExtent(wxString::FromUTF8("中")).x;
  // Room for five CJK characters: the sixth goes to the next line.
  wxString wrapped = WrapText(wxString::FromUTF8("一二三四五六七\n"), font, cjk * 5 + cjk / 2);
  EXPECT_EQ("一二三四五\n六七", std::string(wrapped.utf8_str()));
  // A Latin word that does not fit moves down whole.
  int word = dc.GetTextExtent(wxString::FromUTF8("一二三tarnwell")).x;
  wrapped = WrapText(wxString::FromUTF8("一二三tarnwell"), font, word - 2);
  EXPECT_EQ("一二三\ntarnwell", std::string(wrapped.utf8_str()));
  // A full stop never starts a line: the character before it comes along.
  int four = dc.GetTextExtent(wxString::FromUTF8("一二三四")).x;
  wrapped = WrapText(wxString::FromUTF8("一二三四。"), font, four);
  EXPECT_EQ("一二三\n四。", std::string(wrapped.utf8_str()));
  // Empty lines stay; the final line feed adds no empty line.
  EXPECT_EQ("a\n\nb", std::string(WrapText("a\n\nb\n", font, 500).utf8_str()));
}

}  // namespace
