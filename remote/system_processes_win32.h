#pragma once
// The process and reboot ports on the real system.
#include "remote/remote_reboot.h"

// Process list (EnumProcesses), paths of the first module, owners from the process token,
// TerminateProcess.
class CWin32SystemProcesses : public ISystemProcesses {
 public:
  bool ListProcessIds(std::vector<uint32_t>* ids) override;
  uint32_t OwnProcessId() override;
  std::string OwnExecutablePath() override;
  std::string WindowsFolder() override;
  uint32_t ShellProcessId() override;
  std::string ProcessPath(uint32_t id) override;
  uint32_t ProcessSessionId(uint32_t id) override;
  std::string ProcessOwner(uint32_t id) override;
  void Terminate(uint32_t id) override;
};

// The account name (without domain) that owns the process, "" on any failure.
std::string GetProcessOwner(uint32_t processId);

// RebootThisServer: the shutdown privilege, then a forced reboot.
class CWin32ServerReboot : public IServerReboot {
 public:
  void RebootServer() override;
};
