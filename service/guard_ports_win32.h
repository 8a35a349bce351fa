#pragma once
// The boot guard's ports over the system: the program's machine-wide name, our copy of
// tavrick.exe in the service's session, tavrick.cfg read without writing, the day's log file.
#include <windows.h>

#include <functional>
#include <string>

#include "service/boot_guard.h"

// The folder tavricksvc.exe lives in, which is the program's ("C:\Program Files\Tavrick").
std::string ServiceFolder();

class CWin32BootGuardPorts : public IBootGuardPorts {
 public:
  explicit CWin32BootGuardPorts(std::string folder);
  ~CWin32BootGuardPorts() override;
  CWin32BootGuardPorts(const CWin32BootGuardPorts&) = delete;
  CWin32BootGuardPorts& operator=(const CWin32BootGuardPorts&) = delete;

  CBootConfig ReadConfig() override;
  bool ProgramRunning() override;
  bool StartProgram(uint32_t* error) override;
  bool ChildRunning() override;
  uint32_t ChildExitCode() override;
  int64_t Now() override;
  void Log(const std::string& line) override;

  // Our copy's process handle while we have one (the service waits on it), else nullptr.
  HANDLE ChildHandle() const { return m_hChild; }
  // Ends every copy of the program in this session's desktop (ours, or a successor ours
  // started): its exit command, and only the exit's own question answered Yes, as the
  // uninstaller does; a copy still there after `seconds` is terminated. `stillStopping` runs
  // about once a second meanwhile (the service reports its progress).
  void EndPrograms(int seconds, const std::function<void()>& stillStopping);

 private:
  std::string m_strFolder;
  HANDLE m_hChild = nullptr;
  DWORD m_dwChildId = 0;
};
