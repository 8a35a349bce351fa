#pragma once
// The CPU sampler on the real system: ntdll's NtQuerySystemInformation, sampled once a second
// by a timer of its own hidden window, and the memory load.
#include <windows.h>

#include "resources/cpu_usage.h"
#include "resources/memory_load.h"

class CNtSystemInformation : public ISystemInformation {
 public:
  CNtSystemInformation();
  bool Available() override { return m_pQuery != nullptr; }
  int32_t Query(uint32_t infoClass, void* buffer, uint32_t length) override;

 private:
  using QueryFn = LONG(WINAPI*)(UINT, PVOID, ULONG, PULONG);
  QueryFn m_pQuery = nullptr;
};

class CWin32MemoryStatus : public IMemoryStatus {
 public:
  bool MemoryLoad(uint32_t& percent) override;
};

class CCpuUsage {
 public:
  // Reads the basic information and starts sampling; when the query is missing or fails,
  // no window is made and the figure stays 0.
  CCpuUsage(ISystemInformation& info, IMemoryStatus& memory);
  ~CCpuUsage();
  CCpuUsage(const CCpuUsage&) = delete;
  CCpuUsage& operator=(const CCpuUsage&) = delete;

  int Sample() { return m_sampler.Sample(); }
  int GetCpuUsage() const { return m_sampler.GetCpuUsage(); }
  int GetMemoryUsage() { return MemoryUsagePercent(m_memory); }
  void SetInterval(UINT milliseconds);
  void Stop();  // kills the timer and destroys the window; the figure stays as it was
  HWND TimerWindow() const { return m_hTimerWindow; }

 private:
  static void CALLBACK OnSampleTimer(HWND window, UINT, UINT_PTR, DWORD);

  CCpuSampler m_sampler;
  IMemoryStatus& m_memory;
  HWND m_hTimerWindow = nullptr;
  UINT m_nInterval = 1000;
  UINT_PTR m_nTimerId = 1000;
};
