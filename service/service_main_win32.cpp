// Entry point of tavricksvc.exe, the service "TavrickGuard" (LocalSystem, automatic start).
//   tavricksvc.exe install    creates the service for this folder's copy (or points the existing
//                             one here); started by the service manager from the next boot
//   tavricksvc.exe stop       stops it, when it is this folder's: its copy of the program exits
//   tavricksvc.exe uninstall  stops it and deletes it, when it is this folder's
//   started by the service manager: CBootGuard, every 2 s and whenever its copy ends.
// Exit codes of the commands: 0 done, 1 failed, 2 the service belongs to another folder (left).
#include <windows.h>

#include <string>

#include "service/boot_guard.h"
#include "service/guard_ports_win32.h"

namespace {

const wchar_t kServiceName[] = L"TavrickGuard";
const wchar_t kDisplayName[] = L"Tavrick开机防护";
const wchar_t kDescription[] =
    L"服务器启动后,无人登录时恢复Tavrick的防护(上次运行结束时正在防护,或设置了开机防护);"
    L"管理员停止防护或退出软件后不再启动。";
constexpr DWORD kTickMs = 2000;
constexpr int kEndProgramSeconds = 40;  // the exit's own stop waits 10 s
constexpr DWORD kStopWaitMs = 60000;

SERVICE_STATUS_HANDLE g_hStatus = nullptr;
SERVICE_STATUS g_status = {};
HANDLE g_hStopEvent = nullptr;
volatile LONG g_nShutdown = 0;

void Report(DWORD state, DWORD waitHintMs = 0) {
  g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_status.dwCurrentState = state;
  g_status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  g_status.dwWin32ExitCode = NO_ERROR;
  g_status.dwWaitHint = waitHintMs;
  g_status.dwCheckPoint = (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : g_status.dwCheckPoint + 1;
  SetServiceStatus(g_hStatus, &g_status);
}

DWORD WINAPI Control(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_SHUTDOWN:
      // The system ends the program itself; its carried-over protection time stays for the
      // next boot, which an exit command would clear.
      InterlockedExchange(&g_nShutdown, 1);
      SetEvent(g_hStopEvent);
      return NO_ERROR;
    case SERVICE_CONTROL_STOP:
      Report(SERVICE_STOP_PENDING, 5000);
      SetEvent(g_hStopEvent);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  g_hStatus = RegisterServiceCtrlHandlerExW(kServiceName, Control, nullptr);
  if (!g_hStatus) return;
  Report(SERVICE_START_PENDING, 3000);
  g_hStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const std::string folder = ServiceFolder();
  SetCurrentDirectoryA(folder.c_str());  // as the program's own starts: its files are relative
  {
    CWin32BootGuardPorts ports(folder);
    CBootGuard guard(ports);
    Report(SERVICE_RUNNING);
    ports.Log("开机防护服务启动");
    for (;;) {
      guard.Tick();
      const HANDLE waits[2] = {g_hStopEvent, ports.ChildHandle()};
      const DWORD count = guard.HasChild() && ports.ChildHandle() ? 2 : 1;
      if (WaitForMultipleObjects(count, waits, FALSE, kTickMs) == WAIT_OBJECT_0) break;
    }
    if (InterlockedCompareExchange(&g_nShutdown, 0, 0) != 0) {
      ports.Log("系统关机,开机防护服务停止");
    } else {
      ports.Log("开机防护服务停止,退出Tavrick");
      Report(SERVICE_STOP_PENDING, 5000);
      ports.EndPrograms(kEndProgramSeconds, [] { Report(SERVICE_STOP_PENDING, 5000); });
      ports.Log("开机防护服务已停止");
    }
  }
  CloseHandle(g_hStopEvent);
  Report(SERVICE_STOPPED);
}

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, n < MAX_PATH ? n : 0);
}

struct CServiceHandle {
  SC_HANDLE h;
  explicit CServiceHandle(SC_HANDLE handle) : h(handle) {}
  ~CServiceHandle() {
    if (h) CloseServiceHandle(h);
  }
  CServiceHandle(const CServiceHandle&) = delete;
  CServiceHandle& operator=(const CServiceHandle&) = delete;
};

void Describe(SC_HANDLE service) {
  SERVICE_DESCRIPTIONW description = {const_cast<wchar_t*>(kDescription)};
  ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description);
  // A service that dies is started again by the service manager a minute later.
  SC_ACTION actions[3] = {{SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000}};
  SERVICE_FAILURE_ACTIONSW failure = {};
  failure.dwResetPeriod = 86400;
  failure.cActions = 3;
  failure.lpsaActions = actions;
  ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
}

int Install() {
  const std::wstring command = L"\"" + OwnPath() + L"\"";
  CServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (!manager.h) return 1;
  CServiceHandle service(CreateServiceW(manager.h, kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                                        SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                        command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service.h) {
    if (GetLastError() != ERROR_SERVICE_EXISTS) return 1;
    service.h = OpenServiceW(manager.h, kServiceName, SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG);
    if (!service.h) return 1;
    // The latest installation's copy is the one that protects at boot.
    if (!ChangeServiceConfigW(service.h, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                              command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, kDisplayName))
      return 1;
  }
  Describe(service.h);
  return 0;
}

// Whether the service's program is this file (quoted or not, any case).
bool ServiceIsOurs(SC_HANDLE service) {
  DWORD needed = 0;
  QueryServiceConfigW(service, nullptr, 0, &needed);
  if (needed == 0) return false;
  std::wstring buffer(needed / sizeof(wchar_t) + 1, L'\0');
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(&buffer[0]);
  if (!QueryServiceConfigW(service, config, needed, &needed) || !config->lpBinaryPathName) return false;
  std::wstring path = config->lpBinaryPathName;
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
  return lstrcmpiW(path.c_str(), OwnPath().c_str()) == 0;
}

// Stops this folder's service and, with `remove`, deletes it. Nothing registered: done.
int StopService(bool remove) {
  CServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager.h) return 1;
  CServiceHandle service(
      OpenServiceW(manager.h, kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | DELETE));
  if (!service.h) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : 1;
  if (!ServiceIsOurs(service.h)) return 2;
  SERVICE_STATUS status = {};
  ControlService(service.h, SERVICE_CONTROL_STOP, &status);
  const ULONGLONG start = GetTickCount64();
  while (QueryServiceStatus(service.h, &status) && status.dwCurrentState != SERVICE_STOPPED &&
         GetTickCount64() - start < kStopWaitMs)
    Sleep(250);
  if (status.dwCurrentState != SERVICE_STOPPED) return 1;
  if (!remove) return 0;
  return DeleteService(service.h) ? 0 : 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  const std::string words = commandLine ? commandLine : "";
  if (words == "install") return Install();
  if (words == "stop") return StopService(false);
  if (words == "uninstall") return StopService(true);
  wchar_t name[] = L"TavrickGuard";
  const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
