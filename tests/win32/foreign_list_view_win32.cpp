#include "foreign_list_view_win32.h"

#include <commctrl.h>

std::vector<std::vector<std::string>> ForeignListRows(HWND list, int columns) {
  std::vector<std::vector<std::string>> rows;
  DWORD pid = 0;
  GetWindowThreadProcessId(list, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return rows;
  constexpr SIZE_T kTextSize = 512;
  auto* remote = static_cast<char*>(
      VirtualAllocEx(process, nullptr, sizeof(LVITEMA) + kTextSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (remote) {
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
      std::vector<std::string> cells;
      for (int column = 0; column < columns; ++column) {
        LVITEMA item = {};
        item.iSubItem = column;
        item.pszText = remote + sizeof(LVITEMA);
        item.cchTextMax = kTextSize;
        char text[kTextSize] = {};
        SIZE_T done = 0;
        if (WriteProcessMemory(process, remote, &item, sizeof(item), &done) &&
            SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(remote)) >= 0)
          ReadProcessMemory(process, remote + sizeof(LVITEMA), text, kTextSize - 1, &done);
        cells.push_back(text);
      }
      rows.push_back(cells);
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  }
  CloseHandle(process);
  return rows;
}
