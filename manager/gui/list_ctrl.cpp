// The shared list view of the editor dialogs.
#include "manager/gui/list_ctrl.h"

CMyListCtrl::CMyListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxListCtrl(parent, id, pos, size, wxLC_REPORT | wxBORDER_SUNKEN | wxTAB_TRAVERSAL) {}

void CMyListCtrl::AddColumns(const std::vector<Column>& columns) {
  for (const Column& column : columns) {
    wxString title = wxString::FromUTF8(column.title);
    int width = GetTextExtent(title).x + column.margin;
    AppendColumn(title, wxLIST_FORMAT_LEFT, width);
  }
}

std::vector<long> CMyListCtrl::SelectedRows() {
  std::vector<long> rows;
  long row = -1;
  while ((row = GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED)) != -1) {
    RefreshItem(row);
    rows.push_back(row);
  }
  return rows;
}

long CMyListCtrl::LastSelectedRow() {
  std::vector<long> rows = SelectedRows();
  return rows.empty() ? -1 : rows.back();
}
