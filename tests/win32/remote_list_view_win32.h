#pragma once
// Another process's list view, read and clicked the way a person would: texts through a buffer
// in that process, clicks as mouse messages at a row's middle.
#include <windows.h>

#include <string>
#include <vector>

class CRemoteListView {
 public:
  explicit CRemoteListView(HWND list) : m_hList(list) {}
  int Count() const;
  std::string Text(int row, int column) const;
  std::vector<std::string> Column(int column) const;
  int Selected() const;  // the first selected row, -1 when none
  // A left click on the row's middle; false when the row's place cannot be read.
  bool Click(int row) const;

 private:
  HWND m_hList;
};
