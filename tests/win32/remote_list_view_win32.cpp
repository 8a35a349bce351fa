#include "remote_list_view_win32.h"

#include <commctrl.h>

namespace {

// A block of memory in the process that owns a window, freed when it goes.
class CRemoteBuffer {
 public:
  CRemoteBuffer(HWND window, SIZE_T size) : m_nSize(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    m_hProcess = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (m_hProcess) m_pAddress = VirtualAllocEx(m_hProcess, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  }
  ~CRemoteBuffer() {
    if (m_pAddress) VirtualFreeEx(m_hProcess, m_pAddress, 0, MEM_RELEASE);
    if (m_hProcess) CloseHandle(m_hProcess);
  }
  CRemoteBuffer(const CRemoteBuffer&) = delete;
  CRemoteBuffer& operator=(const CRemoteBuffer&) = delete;
  bool Ok() const { return m_pAddress != nullptr; }
  char* At(SIZE_T offset) const { return static_cast<char*>(m_pAddress) + offset; }
  bool Write(SIZE_T offset, const void* data, SIZE_T size) const {
    return offset + size <= m_nSize && WriteProcessMemory(m_hProcess, At(offset), data, size, nullptr);
  }
  bool Read(SIZE_T offset, void* data, SIZE_T size) const {
    return offset + size <= m_nSize && ReadProcessMemory(m_hProcess, At(offset), data, size, nullptr);
  }

 private:
  HANDLE m_hProcess = nullptr;
  void* m_pAddress = nullptr;
  SIZE_T m_nSize;
};

constexpr SIZE_T kTextOffset = 256;
constexpr int kTextSize = 1024;

}  // namespace

int CRemoteListView::Count() const { return static_cast<int>(SendMessageA(m_hList, LVM_GETITEMCOUNT, 0, 0)); }

std::string CRemoteListView::Text(int row, int column) const {
  CRemoteBuffer buffer(m_hList, kTextOffset + kTextSize);
  if (!buffer.Ok()) return std::string();
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = buffer.At(kTextOffset);
  item.cchTextMax = kTextSize;
  const char empty = '\0';
  if (!buffer.Write(0, &item, sizeof(item)) || !buffer.Write(kTextOffset, &empty, 1)) return std::string();
  SendMessageA(m_hList, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(buffer.At(0)));
  char text[kTextSize] = {};
  buffer.Read(kTextOffset, text, kTextSize - 1);
  return text;
}

std::vector<std::string> CRemoteListView::Column(int column) const {
  std::vector<std::string> texts;
  for (int row = 0, n = Count(); row < n; ++row) texts.push_back(Text(row, column));
  return texts;
}

int CRemoteListView::Selected() const {
  return static_cast<int>(SendMessageA(m_hList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

bool CRemoteListView::Click(int row) const {
  CRemoteBuffer buffer(m_hList, sizeof(RECT));
  RECT rc = {};
  rc.left = LVIR_LABEL;
  if (!buffer.Ok() || !buffer.Write(0, &rc, sizeof(rc))) return false;
  if (!SendMessageA(m_hList, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(buffer.At(0)))) return false;
  if (!buffer.Read(0, &rc, sizeof(rc))) return false;
  const LPARAM at = MAKELPARAM((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
  PostMessageA(m_hList, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageA(m_hList, WM_LBUTTONUP, 0, at);
  return true;
}
