#include "resources/cpu_usage_win32.h"

CNtSystemInformation::CNtSystemInformation() {
  if (HMODULE ntdll = GetModuleHandleA("ntdll"))
    m_pQuery = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
}

int32_t CNtSystemInformation::Query(uint32_t infoClass, void* buffer, uint32_t length) {
  if (!m_pQuery) return -1;
  return static_cast<int32_t>(m_pQuery(infoClass, buffer, length, nullptr));
}

bool CWin32MemoryStatus::MemoryLoad(uint32_t& percent) {
  // The 64-bit status: the old one caps the sizes at 4 GB (2 GB for a 32-bit program on some
  // systems) and its load is then wrong.
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof(status);
  if (!GlobalMemoryStatusEx(&status)) return false;
  percent = status.dwMemoryLoad;
  return true;
}

CCpuUsage::CCpuUsage(ISystemInformation& info, IMemoryStatus& memory) : m_sampler(info), m_memory(memory) {
  if (!m_sampler.Begin()) return;
  // A message-only window: it carries the timer and nothing else reaches it.
  m_hTimerWindow = CreateWindowExA(0, "static", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (!m_hTimerWindow) return;
  SetWindowLongPtrA(m_hTimerWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetTimer(m_hTimerWindow, m_nTimerId, m_nInterval, OnSampleTimer);
}

CCpuUsage::~CCpuUsage() { Stop(); }

void CALLBACK CCpuUsage::OnSampleTimer(HWND window, UINT, UINT_PTR, DWORD) {
  try {
    if (auto* self = reinterpret_cast<CCpuUsage*>(GetWindowLongPtrA(window, GWLP_USERDATA))) self->Sample();
  } catch (...) {
  }
}

void CCpuUsage::SetInterval(UINT milliseconds) {
  m_nInterval = milliseconds;
  if (m_hTimerWindow) SetTimer(m_hTimerWindow, m_nTimerId, m_nInterval, OnSampleTimer);
}

void CCpuUsage::Stop() {
  if (!m_hTimerWindow) return;
  KillTimer(m_hTimerWindow, m_nTimerId);
  SetWindowLongPtrA(m_hTimerWindow, GWLP_USERDATA, 0);
  DestroyWindow(m_hTimerWindow);
  m_hTimerWindow = nullptr;
}
