// CMyListCtrl: the report-style list of the blacklist editor and the
// quarantine manager (a plain list view; several rows may be selected, rows
// are selected whole).
#pragma once

#include <wx/listctrl.h>

#include <vector>

class CMyListCtrl : public wxListCtrl {
 public:
  CMyListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);

  struct Column {
    const char* title;  // UTF-8
    int margin;         // pixels added to the title's width
  };
  // Appends left-aligned columns, each as wide as its title in the list's
  // font plus its margin.
  void AddColumns(const std::vector<Column>& columns);

  // The selected rows in ascending order; each is redrawn on the way.
  std::vector<long> SelectedRows();
  // The highest selected row, or -1: the row the single-row commands act on.
  long LastSelectedRow();
};
