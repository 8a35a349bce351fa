#include "remote/remote_reboot.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// "c:\windows" contains "c:\windows\system32\x.exe" but not "c:\windowsapps\x.exe".
bool InsideFolder(const std::string& lowerPath, std::string lowerFolder) {
  if (lowerFolder.empty()) return false;
  if (lowerFolder.back() != '\\') lowerFolder += '\\';
  return lowerPath.compare(0, lowerFolder.size(), lowerFolder) == 0;
}

}  // namespace

bool IsSparedProcess(const CProcessFacts& process, const CSparedProcesses& spared) {
  if (process.nId == 0 || process.nId == spared.nOwnId) return true;
  if (spared.nShellId != 0 && process.nId == spared.nShellId) return true;
  if (process.strPath.empty()) return true;
  if (process.nSessionId == 0 || process.nSessionId == kUnknownSession) return true;
  const std::string path = Lower(process.strPath);
  if (!spared.strOwnPath.empty() && path == Lower(spared.strOwnPath)) return true;
  if (path.find("explorer.exe") != std::string::npos) return true;
  return InsideFolder(path, Lower(spared.strWindowsFolder));
}

int KillGroupProcesses(const std::string& group, ISystemProcesses& processes, ILocalUsers& users) {
  std::vector<uint32_t> ids;
  if (!processes.ListProcessIds(&ids)) return 0;
  const CSparedProcesses spared{processes.OwnProcessId(), processes.ShellProcessId(), processes.OwnExecutablePath(),
                                processes.WindowsFolder()};
  // Members once for the whole walk: they do not change while it runs.
  std::vector<_userstruct> members;
  GetGroupUsers(users, group, &members);
  if (members.empty()) return 1;
  for (uint32_t id : ids) {
    if (IsSparedProcess(CProcessFacts{id, processes.ProcessPath(id), processes.ProcessSessionId(id)}, spared)) continue;
    const std::string owner = processes.ProcessOwner(id);
    if (owner.empty()) continue;
    for (const _userstruct& member : members) {
      if (member.strName != owner) continue;
      processes.Terminate(id);
      break;
    }
  }
  return 1;
}

void RemoteReboot(ISystemProcesses& processes, ILocalUsers& users, IServerReboot& reboot) {
  if (KillGroupProcesses(kAdministratorsGroup, processes, users) != 0) reboot.RebootServer();
}
