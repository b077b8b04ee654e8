// Help text of the main dialog and its line breaking.
#include "manager/gui/help_text.h"

#include <wx/dcmemory.h>
#include <wx/tokenzr.h>

#include "manager/gui/product.h"

wxString ManagerHelpText() {
  static const char* const kLines[] = {
      "",
      "1.安装。如果发现其他程序拦截，请点击允许安装。",
      "2.插入U盘。",
      "3.下次重启计算机时，将进入tarnwell蓝色界面，如果存在'U'键，则按'U'键查杀即可。",
      "4.卸载。",
      "",
      "其他功能：",
      "1.用户可以添加黑名单，重启计算机后即可查杀。",
      "2.用户可以进入隔离区，恢复杀毒前的状态。",
      "3.C盘根目录会保存扫描日志tarnwell.log和病毒备份目录tarnwell.vir(隐含)。",
      "4.更详细的说明参见《使用指南》。",
  };
  wxString text = wxString::FromUTF8(kDisplayName) + wxString::FromUTF8("使用说明：") + "\n";
  for (const char* line : kLines) text += wxString::FromUTF8(line) + "\n";
  return text;
}

namespace {

bool IsLatinWordChar(wxUniChar c) {
  if (!c.IsAscii()) return false;
  char a = static_cast<char>(c.GetValue());
  return (a >= '0' && a <= '9') || (a >= 'a' && a <= 'z') || (a >= 'A' && a <= 'Z') ||
         a == '.' || a == '_' || a == '\'' || a == '-';
}

bool IsOpeningMark(wxUniChar c) {
  static const wxString kMarks = wxString::FromUTF8("（《「『“‘(");
  return kMarks.Find(c) != wxNOT_FOUND;
}

bool IsClosingMark(wxUniChar c) {
  static const wxString kMarks = wxString::FromUTF8("，。、；：！？）》」』”’,.;:!?)");
  return kMarks.Find(c) != wxNOT_FOUND;
}

// Appends `line` broken to `width` to `out`.
void WrapLine(const wxString& line, wxDC& dc, int width, wxString* out) {
  size_t start = 0;
  while (true) {
    wxString rest = line.Mid(start);
    wxArrayInt extents;
    dc.GetPartialTextExtents(rest, extents);
    size_t fit = 0;
    while (fit < rest.length() && extents[fit] <= width) ++fit;
    if (fit >= rest.length()) {
      *out += rest;
      return;
    }
    if (fit == 0) fit = 1;  // a single character wider than the line
    size_t cut = fit;
    if (IsLatinWordChar(rest[cut]) && IsLatinWordChar(rest[cut - 1])) {
      size_t word = cut;
      while (word > 0 && IsLatinWordChar(rest[word - 1])) --word;
      if (word > 0) cut = word;
    } else if (IsClosingMark(rest[cut]) && cut > 1) {
      --cut;
    }
    if (IsOpeningMark(rest[cut - 1]) && cut > 1) --cut;
    *out += rest.Left(cut) + "\n";
    start += cut;
    while (start < line.length() && line[start] == ' ') ++start;
    if (start >= line.length()) return;
  }
}

}  // namespace

wxString WrapText(const wxString& text, const wxFont& font, int width) {
  wxMemoryDC dc;
  dc.SetFont(font);
  wxString body = text;
  if (body.EndsWith("\n")) body.RemoveLast();
  wxString out;
  wxStringTokenizer lines(body, "\n", wxTOKEN_RET_EMPTY_ALL);
  bool first = true;
  while (lines.HasMoreTokens()) {
    if (!first) out += "\n";
    first = false;
    WrapLine(lines.GetNextToken(), dc, width, &out);
  }
  return out;
}
