#include "foreign_list_view_win32.h"

#include "remote_list_view_win32.h"

std::vector<std::vector<std::string>> ForeignListRows(HWND list, int columns) {
  const CRemoteListView view(list);
  std::vector<std::vector<std::string>> rows;
  const int count = view.Count();
  for (int row = 0; row < count; ++row) {
    std::vector<std::string> cells;
    for (int column = 0; column < columns; ++column) cells.push_back(view.Text(row, column));
    rows.push_back(cells);
  }
  return rows;
}
