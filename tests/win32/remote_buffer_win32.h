#pragma once
// A block of memory inside the process that owns a window, for the messages whose arguments
// point at memory (list view texts, item rectangles): written, sent, read back, freed.
#include <windows.h>

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
