#include "remote/system_processes_win32.h"

#include <windows.h>
#include <psapi.h>

#include "remote/reboot_win32.h"
#include "remote/restart_program_win32.h"

namespace {

constexpr DWORD kMaxProcesses = 1024;
constexpr DWORD kMaxModules = 1024;

struct CHandle {
  HANDLE h;
  ~CHandle() {
    if (h) CloseHandle(h);
  }
};

}  // namespace

bool CWin32SystemProcesses::ListProcessIds(std::vector<uint32_t>* ids) {
  std::vector<DWORD> table(kMaxProcesses);
  DWORD bytes = 0;
  if (!EnumProcesses(table.data(), static_cast<DWORD>(table.size() * sizeof(DWORD)), &bytes)) return false;
  for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) ids->push_back(table[i]);
  return true;
}

uint32_t CWin32SystemProcesses::OwnProcessId() { return GetCurrentProcessId(); }

std::string CWin32SystemProcesses::OwnExecutablePath() {
  return CWin32ProcessPorts(nullptr, nullptr).OwnExecutablePath();
}

std::string CWin32SystemProcesses::WindowsFolder() {
  char folder[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(folder, length) : std::string();
}

uint32_t CWin32SystemProcesses::ShellProcessId() {
  DWORD id = 0;
  if (HWND shell = GetShellWindow()) GetWindowThreadProcessId(shell, &id);
  return id;
}

std::string CWin32SystemProcesses::ProcessPath(uint32_t id) {
  CHandle process{OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id)};
  if (!process.h) return "";
  std::vector<HMODULE> modules(kMaxModules);
  DWORD needed = 0;
  if (!EnumProcessModules(process.h, modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed) ||
      needed < sizeof(HMODULE))
    return "";
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameExA(process.h, modules[0], path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

uint32_t CWin32SystemProcesses::ProcessSessionId(uint32_t id) {
  DWORD session = 0;
  return ProcessIdToSessionId(id, &session) ? session : kUnknownSession;
}

std::string CWin32SystemProcesses::ProcessOwner(uint32_t id) { return GetProcessOwner(id); }

void CWin32SystemProcesses::Terminate(uint32_t id) {
  CHandle process{OpenProcess(PROCESS_TERMINATE, FALSE, id)};
  if (process.h) TerminateProcess(process.h, 0);
}

std::string GetProcessOwner(uint32_t processId) {
  CHandle process{OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId)};
  if (!process.h) return "";
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(process.h, TOKEN_QUERY, &rawToken)) return "";
  CHandle token{rawToken};
  DWORD size = 0;
  GetTokenInformation(token.h, TokenUser, nullptr, 0, &size);
  if (size == 0) return "";
  std::vector<unsigned char> buffer(size);
  if (!GetTokenInformation(token.h, TokenUser, buffer.data(), size, &size)) return "";
  const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
  char name[256] = {}, domain[256] = {};
  DWORD nameSize = sizeof(name), domainSize = sizeof(domain);
  SID_NAME_USE use;
  if (!LookupAccountSidA(nullptr, user->User.Sid, name, &nameSize, domain, &domainSize, &use)) return "";
  return name;
}

void CWin32ServerReboot::RebootServer() { RebootThisServer(); }
