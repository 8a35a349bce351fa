#include "process_driver_win32.h"

#include <tlhelp32.h>

#include <cstdio>
#include <vector>

CChildProcess::~CChildProcess() {
  if (!m_pi.hProcess) return;
  End(5000);
  CloseHandle(m_pi.hProcess);
  CloseHandle(m_pi.hThread);
}

bool CChildProcess::End(DWORD timeoutMs) {
  if (!m_pi.hProcess) return true;
  const DWORD start = GetTickCount();
  if (Running()) TerminateProcess(m_pi.hProcess, 99);
  if (WaitForSingleObject(m_pi.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
  const DWORD left = GetTickCount() - start;
  // Its main thread's windows (the main window, the tray's): the id alone may be a new process's by now.
  return WaitUntil(
      [this] {
        for (HWND window : WindowsOf(m_pi.dwProcessId, "", ""))
          if (GetWindowThreadProcessId(window, nullptr) == m_pi.dwThreadId) return false;
        return true;
      },
      timeoutMs > left ? timeoutMs - left : 0);
}

bool CChildProcess::Start(const std::string& exePath, const std::string& arguments, const std::string& workDir) {
  std::string commandLine = "\"" + exePath + "\"" + (arguments.empty() ? "" : " " + arguments);
  std::vector<char> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back('\0');
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  if (CreateProcessA(exePath.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     workDir.empty() ? nullptr : workDir.c_str(), &si, &m_pi)) {
    return true;
  }
  const DWORD error = GetLastError();
  const DWORD folder = workDir.empty() ? 0 : GetFileAttributesA(workDir.c_str());
  std::fprintf(stderr, "CreateProcess \"%s\" %s in \"%s\" failed: %s; the folder %s, the program %s\n",
               exePath.c_str(), arguments.c_str(), workDir.c_str(), SystemErrorText(error).c_str(),
               folder == INVALID_FILE_ATTRIBUTES ? "is missing" : "is there",
               GetFileAttributesA(exePath.c_str()) == INVALID_FILE_ATTRIBUTES ? "is missing" : "is there");
  m_pi = PROCESS_INFORMATION{};
  return false;
}

std::string SystemErrorText(DWORD error) {
  char text[512] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text, sizeof text,
                 nullptr);
  std::string message = text;
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return "error " + std::to_string(error) + (message.empty() ? "" : " (" + message + ")");
}

std::string DescribeProcessWindows(const CChildProcess& process) {
  std::string text = "process " + std::to_string(process.Pid());
  if (process.Running()) {
    text += " runs";
  } else {
    char code[32];
    std::snprintf(code, sizeof code, " ended with 0x%lX", static_cast<unsigned long>(process.ExitCode()));
    text += code;
  }
  const std::vector<HWND> windows = WindowsOf(process.Pid(), "", "");
  text += "; " + std::to_string(windows.size()) + " top-level windows";
  for (HWND w : windows) {
    char cls[128] = {};
    GetClassNameA(w, cls, sizeof cls);
    text += "\n  [" + std::string(cls) + "] \"" + WindowCaption(w) + "\"" + (IsWindowVisible(w) ? " visible" : " hidden");
    const std::string box = MessageBoxText(w);
    if (!box.empty()) text += " says \"" + box + "\"";
  }
  return text;
}

bool CChildProcess::WaitExit(DWORD timeoutMs) {
  return m_pi.hProcess && WaitForSingleObject(m_pi.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

DWORD CChildProcess::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (m_pi.hProcess) GetExitCodeProcess(m_pi.hProcess, &code);
  return code;
}

bool CChildProcess::Running() const { return m_pi.hProcess && WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT; }

std::string ExeDir() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir = path;
  return dir.substr(0, dir.find_last_of('\\'));
}

std::string TavrickExe() { return ExeDir() + "\\tavrick.exe"; }

namespace {

struct FindRequest {
  DWORD pid;
  const std::string* className;
  const std::string* caption;
  HWND found;
  std::vector<HWND>* all;  // every match when set, else only the first
};

BOOL CALLBACK MatchWindow(HWND hWnd, LPARAM param) {
  FindRequest* request = reinterpret_cast<FindRequest*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hWnd, &pid);
  if (pid != request->pid) return TRUE;
  char cls[256] = {};
  GetClassNameA(hWnd, cls, sizeof(cls));
  if (!request->className->empty() && *request->className != cls) return TRUE;
  if (!request->caption->empty() && *request->caption != WindowCaption(hWnd)) return TRUE;
  request->found = hWnd;
  if (!request->all) return FALSE;
  request->all->push_back(hWnd);
  return TRUE;
}

}  // namespace

HWND WaitForWindow(DWORD pid, const std::string& className, const std::string& caption, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  do {
    FindRequest request = {pid, &className, &caption, nullptr, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&request));
    if (request.found) {
      // The caption is there from the moment the window is created, its controls and their
      // texts only once its thread is back in its message loop: a sent message returns then.
      DWORD_PTR ignored = 0;
      SendMessageTimeoutA(request.found, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
      return request.found;
    }
    Sleep(50);
  } while (GetTickCount() - start < timeoutMs);
  return nullptr;
}

std::vector<HWND> WindowsOf(DWORD pid, const std::string& className, const std::string& caption) {
  std::vector<HWND> all;
  FindRequest request = {pid, &className, &caption, nullptr, &all};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&request));
  return all;
}

std::string WindowCaption(HWND window) {
  char text[1024] = {};
  GetWindowTextA(window, text, sizeof(text));
  return text;
}

std::string MessageBoxText(HWND box) {
  char text[2048] = {};
  GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
  return text;
}

void AnswerMessageBox(HWND box, int commandId) { PostMessageA(box, WM_COMMAND, MAKEWPARAM(commandId, BN_CLICKED), 0); }

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(50);
  }
  return true;
}

DWORD RoundTripMs(HWND window, DWORD limitMs) {
  const DWORD start = GetTickCount();
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, limitMs, &result)) return limitMs;
  return GetTickCount() - start;
}

std::vector<DWORD> RunningProcessesOf(const std::string& image) {
  std::vector<DWORD> pids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return pids;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID);
    if (!process) continue;
    char path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (QueryFullProcessImageNameA(process, 0, path, &size) && lstrcmpiA(path, image.c_str()) == 0 &&
        WaitForSingleObject(process, 0) == WAIT_TIMEOUT)
      pids.push_back(entry.th32ProcessID);
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  return pids;
}
