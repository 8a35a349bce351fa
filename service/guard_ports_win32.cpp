#include "service/guard_ports_win32.h"

#include <map>
#include <utility>
#include <vector>

#include "common/resource.h"
#include "common/version.h"
#include "config/daily_log.h"
#include "config/daily_log_win32.h"
#include "config/profile_store_win32.h"

namespace {

// The program's own names, kept apart from it (the service stands on a lower floor than
// app/; the installer holds the same texts): its single-instance mutex and its exit question.
const char kProgramMutex[] = "Global\\tavrick";
const char kExitQuestion[] = "是否真的要停止防护吗?";
const char kQuestionCaption[] = " 提示";
constexpr int kRepostExitMs = 5000;

struct CFoundWindows {
  const char* caption;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM param) {
  auto* found = reinterpret_cast<CFoundWindows*>(param);
  char className[16] = {};
  char caption[64] = {};
  GetClassNameA(window, className, sizeof className);
  GetWindowTextA(window, caption, sizeof caption);
  if (lstrcmpA(className, "#32770") == 0 && lstrcmpA(caption, found->caption) == 0) found->windows.push_back(window);
  return TRUE;
}

// Top-level dialogs of this desktop with that caption.
std::vector<HWND> Dialogs(const char* caption) {
  CFoundWindows found{caption, {}};
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&found));
  return found.windows;
}

bool Ended(HANDLE process) { return WaitForSingleObject(process, 0) != WAIT_TIMEOUT; }

}  // namespace

std::string ServiceFolder() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, n < MAX_PATH ? n : 0);
  const size_t slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
}

CWin32BootGuardPorts::CWin32BootGuardPorts(std::string folder) : m_strFolder(std::move(folder)) {}

CWin32BootGuardPorts::~CWin32BootGuardPorts() {
  if (m_hChild) CloseHandle(m_hChild);
}

CBootConfig CWin32BootGuardPorts::ReadConfig() {
  CWin32ProfileFunctions store;  // reads only: no good copy taken, no repair
  const std::string file = m_strFolder + "\\tavrick.cfg";
  return ReadBootConfig(store, file, file + ".bak");
}

bool CWin32BootGuardPorts::ProgramRunning() {
  const HANDLE name = OpenMutexA(SYNCHRONIZE, FALSE, kProgramMutex);
  if (name) {
    CloseHandle(name);
    return true;
  }
  return GetLastError() == ERROR_ACCESS_DENIED;  // another account's copy holds it
}

bool CWin32BootGuardPorts::StartProgram(uint32_t* error) {
  const std::string exe = m_strFolder + "\\tavrick.exe";
  std::string commandLine = "\"" + exe + "\" " + kServiceCopyCommandWords;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // No handles inherited; the child runs in the service's session, window station and desktop.
  if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, m_strFolder.c_str(),
                      &startup, &process)) {
    *error = GetLastError();
    return false;
  }
  CloseHandle(process.hThread);
  if (m_hChild) CloseHandle(m_hChild);
  m_hChild = process.hProcess;
  m_dwChildId = process.dwProcessId;
  return true;
}

bool CWin32BootGuardPorts::ChildRunning() { return m_hChild && !Ended(m_hChild); }

uint32_t CWin32BootGuardPorts::ChildExitCode() {
  DWORD code = 0;
  if (m_hChild) GetExitCodeProcess(m_hChild, &code);
  return code;
}

int64_t CWin32BootGuardPorts::Now() { return static_cast<int64_t>(GetTickCount64() / 1000); }

void CWin32BootGuardPorts::Log(const std::string& line) {
  CWin32LogFileSystem fs;
  AppendLog(fs, LogClock(fs.LocalNow()) + line + "\r\n", m_strFolder + "\\log", kBootLogPrefix);
}

void CWin32BootGuardPorts::EndPrograms(int seconds, const std::function<void()>& stillStopping) {
  std::map<DWORD, HANDLE> processes;  // by id: every copy asked to exit, and our own
  std::map<HWND, ULONGLONG> asked;    // main window -> when its exit was last posted
  if (ChildRunning()) {
    HANDLE own = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), m_hChild, GetCurrentProcess(), &own, 0, FALSE, DUPLICATE_SAME_ACCESS))
      processes[m_dwChildId] = own;
  }
  const ULONGLONG start = GetTickCount64();
  ULONGLONG lastReport = start;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    for (HWND main : Dialogs(kVersionTag)) {
      auto it = asked.find(main);
      if (it != asked.end() && now - it->second < kRepostExitMs) continue;
      // Posted: the question runs inside the command. A copy busy with another command ignores
      // it, so it is posted again until the copy goes.
      PostMessageA(main, WM_COMMAND, IDC_EXIT, 0);
      asked[main] = now;
      DWORD pid = 0;
      GetWindowThreadProcessId(main, &pid);
      if (pid != 0 && processes.find(pid) == processes.end()) {
        if (HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid)) processes[pid] = process;
      }
    }
    for (HWND box : Dialogs(kQuestionCaption)) {
      if (asked.find(GetWindow(box, GW_OWNER)) == asked.end()) continue;
      char text[128] = {};
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      if (lstrcmpA(text, kExitQuestion) == 0) PostMessageA(box, WM_COMMAND, IDYES, 0);
    }
    bool allEnded = true;
    for (const auto& entry : processes) allEnded = allEnded && Ended(entry.second);
    if (allEnded && Dialogs(kVersionTag).empty()) break;
    if (now - start >= static_cast<ULONGLONG>(seconds) * 1000) {
      for (const auto& entry : processes) {
        if (Ended(entry.second)) continue;
        Log("Tavrick(进程" + std::to_string(entry.first) + ")" + std::to_string(seconds) + "秒内没有退出,强行结束");
        TerminateProcess(entry.second, 1);
        WaitForSingleObject(entry.second, 5000);
      }
      break;
    }
    if (now - lastReport >= 1000) {
      lastReport = now;
      if (stillStopping) stillStopping();
    }
    Sleep(250);
  }
  for (const auto& entry : processes) CloseHandle(entry.second);
}
