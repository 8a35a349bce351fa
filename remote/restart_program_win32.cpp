#include "remote/restart_program_win32.h"

#include <windows.h>

#include <vector>

namespace {
ProgramEndGuard g_programEndGuard;
}  // namespace

void SetProgramEndGuard(ProgramEndGuard guard) { g_programEndGuard = std::move(guard); }

void EndProgramForSuccessor(std::function<bool(bool resume)> end, std::function<void()> refused) {
  if (g_programEndGuard) {
    g_programEndGuard(std::move(end), std::move(refused));
  } else {
    end(false);
  }
}

std::string CWin32ProcessPorts::OwnExecutablePath() {
  // Grows the buffer while the name is cut (the program may sit below a long path).
  for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
    std::vector<char> path(size);
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), size);
    if (length == 0) return "";
    if (length < size) return std::string(path.data(), length);
  }
  return "";
}

bool CWin32ProcessPorts::StartProgram(const std::string& commandLine) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process = {};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

void CWin32ProcessPorts::EndOwnProcess() { TerminateProcess(GetCurrentProcess(), 0); }

void CWin32ProcessPorts::RemoveTrayIcon() {
  if (m_removeTrayIcon) m_removeTrayIcon();
}

void CWin32ProcessPorts::RestoreTrayIcon() {
  if (m_restoreTrayIcon) m_restoreTrayIcon();
}

// The fresh copy finds the carried-over protection time in the configuration.
void CWin32ProcessPorts::EndWhenAllowed(std::function<bool()> end) {
  EndProgramForSuccessor([end](bool) { return end(); }, nullptr);
}
