#pragma once
// The server reboot that a remote request (or the driver's installation) asks for: first every
// process of the local Administrators' accounts is ended, then the system reboots. Processes
// and the reboot are reached only through ports, so tests never end or reboot anything real.
//
// Never ended, whoever owns them:
//   - this program: its own process, and any process running the same executable file;
//   - the session's shell: the process of the desktop's shell window, and any path holding
//     "explorer.exe";
//   - the system's and Wine's processes: every executable inside the Windows folder
//     (system32, SysWOW64 and Wine's own programs live there), and process 0;
//   - services: every process of session 0, whatever account runs it (a database or FTP server
//     ended abruptly risks its data; the forced reboot that follows stops services in order);
//   - a process whose executable or session cannot be read: it cannot be told apart from the
//     above.
#include <cstdint>
#include <string>
#include <vector>

#include "common/local_users.h"

class ISystemProcesses {
 public:
  virtual ~ISystemProcesses() = default;
  // Ids of the running processes; false when the list cannot be read.
  virtual bool ListProcessIds(std::vector<uint32_t>* ids) = 0;
  virtual uint32_t OwnProcessId() = 0;
  virtual std::string OwnExecutablePath() = 0;
  virtual std::string WindowsFolder() = 0;  // e.g. "C:\windows"; "" when unknown
  virtual uint32_t ShellProcessId() = 0;    // the desktop shell's process, 0 when none
  // Full path of the process's executable, "" when it cannot be read.
  virtual std::string ProcessPath(uint32_t id) = 0;
  // The process's logon session (0: services), kUnknownSession when it cannot be read.
  virtual uint32_t ProcessSessionId(uint32_t id) = 0;
  // Account name (without domain) of the process's owner, "" when it cannot be read.
  virtual std::string ProcessOwner(uint32_t id) = 0;
  virtual void Terminate(uint32_t id) = 0;  // exit code 0; failures are not reported
};

class IServerReboot {
 public:
  virtual ~IServerReboot() = default;
  virtual void RebootServer() = 0;  // the shutdown privilege, then a forced reboot
};

constexpr uint32_t kUnknownSession = 0xFFFFFFFFu;

struct CProcessFacts {
  uint32_t nId = 0;
  std::string strPath;
  uint32_t nSessionId = kUnknownSession;
};
struct CSparedProcesses {
  uint32_t nOwnId = 0;
  uint32_t nShellId = 0;
  std::string strOwnPath;
  std::string strWindowsFolder;
};
// The rule above.
bool IsSparedProcess(const CProcessFacts& process, const CSparedProcesses& spared);

// Ends every process not spared whose owner is a member of the group (exact, case-sensitive
// account name). 1 when the process list could be read, else 0.
int KillGroupProcesses(const std::string& group, ISystemProcesses& processes, ILocalUsers& users);

// KillGroupProcesses("Administrators"), and the reboot only when that could read the list.
void RemoteReboot(ISystemProcesses& processes, ILocalUsers& users, IServerReboot& reboot);
