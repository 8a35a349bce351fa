#pragma once
// Report-style list view by rows of texts.
#include <windows.h>

#include <string>
#include <vector>

class CListView {
 public:
  void Attach(HWND list) { m_hList = list; }
  HWND Hwnd() const { return m_hList; }
  void SetFullRowSelect();
  void AddColumn(const std::string& title, int width);
  int AddRow(const std::vector<std::string>& cells);  // appended; returns the row index
  void SetText(int row, int column, const std::string& text);
  std::string Text(int row, int column) const;
  int Count() const;
  int Selected() const;  // -1 when none
  void DeleteRow(int row);
  void Clear();
  // Rows at a position, whole rebuilds, and the selection by row.
  int InsertRow(int at, const std::vector<std::string>& cells);
  void DeleteColumns();
  void SetRedraw(bool redraw);
  int ClientWidth() const;
  void EnsureVisible(int row);
  int SelectionMark() const;  // -1 when none
  void SelectOnly(int row);   // selects and focuses this row alone; -1 selects none

 private:
  HWND m_hList = nullptr;
  int m_nColumns = 0;
};
