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

 private:
  HWND m_hList = nullptr;
  int m_nColumns = 0;
};
