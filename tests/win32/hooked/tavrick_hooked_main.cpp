// tavrick_hooked.exe: the program with test hooks in its resource window, for the Win32 tests
// that need a full disk or 4 o'clock. Only this test build reads them; tavrick.exe has none.
//   TAVRICK_HOOK_LOW_DISK=<letter>  that drive reports 4 MB free, shown as 0.00G: out of space
//   TAVRICK_HOOK_TIMER_MS=<ms>      period of the disk table and of the resource alert check
//   TAVRICK_HOOK_RESTART=1          the local hour reads 4 and protection counts from a full
//                                   day, so the self-restart is due at the first display tick
//                                   after protection has run a second. The hook leaves the
//                                   environment, so the restarted copy runs without it.
//   TAVRICK_HOOK_REMOTE_MS=<ms>     period of the remote command check (blocked-IP window)
//   TAVRICK_HOOK_LIST_MS=<ms>       period of the blocked-IP window's rebuild; its block alert
//                                   runs at twice it, as 20 s and 40 s do
//   TAVRICK_HOOK_FLOOD_MS=<ms>      length of the flood statistics window (chart page)
//   TAVRICK_HOOK_REMOTE_PORTS=<file> the remote reboot lists the real processes and accounts
//                                   but ends nothing and does not reboot: it appends
//                                   "end <id> <path>" per process it would end, then "reboot"
//   TAVRICK_HOOK_TRAY_DROP=<event>  each time the named event is set, the tray icon goes, as
//                                   when the shell restarts and loses every icon
//   TAVRICK_HOOK_LOGON_GUARD=<file> a stand-in logon guard from the start (recording_logon_guard.h)
//   TAVRICK_HOOK_LOAD_MS=<ms>       pause after each entry the start loads into the driver
//   TAVRICK_HOOK_FWP_LIBRARY=<path> the filtering engine's library (the recording stand-in)
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/process_state.h"
#include "config/settings.h"
#include "driver/driver_link.h"
#include "ipblock/ip_tables.h"
#include "app/filter_devices_win32.h"
#include "app/tavrick_app_win32.h"
#include "ipblock/blocked_ip_control.h"
#include "ipblock/flood_blocking.h"
#include "ui/tray_icon_win32.h"
#include "traffic/stats_window.h"
#include "ipblock/remote_command_hook.h"
#include "remote/remote_operation_win32.h"
#include "resources/resource_ports_win32.h"
#include "recording_logon_guard.h"

namespace {

std::string Hook(const char* name) {
  char value[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
  return length > 0 && length < sizeof(value) ? value : "";
}

class CLowDisk : public IDiskQuery {
 public:
  CLowDisk(IDiskQuery& real, char letter) : m_real(real), m_letter(letter) {}
  uint32_t LogicalDrives() override { return m_real.LogicalDrives(); }
  unsigned DriveType(const std::string& drive) override { return m_real.DriveType(drive); }
  bool FreeSpace(const std::string& drive, uint64_t& totalBytes, uint64_t& freeBytes) override {
    if (!m_real.FreeSpace(drive, totalBytes, freeBytes)) return false;
    if (drive[0] == m_letter) freeBytes = 4 << 20;
    return true;
  }

 private:
  IDiskQuery& m_real;
  char m_letter;
};

class CFourOClock : public IResourceClock {
 public:
  explicit CFourOClock(IResourceClock& real) : m_real(real) {}
  int64_t Now() override { return m_real.Now(); }
  int LocalHour() override { return 4; }

 private:
  IResourceClock& m_real;
};

void Record(const std::string& file, const std::string& line) {
  if (FILE* out = std::fopen(file.c_str(), "a")) {
    std::fputs((line + "\n").c_str(), out);
    std::fclose(out);
  }
}

// The real process list, paths and owners; ending a process only writes it down.
class CRecordingProcesses : public ISystemProcesses {
 public:
  CRecordingProcesses(ISystemProcesses& real, std::string file) : m_real(real), m_file(std::move(file)) {}
  bool ListProcessIds(std::vector<uint32_t>* ids) override { return m_real.ListProcessIds(ids); }
  uint32_t OwnProcessId() override { return m_real.OwnProcessId(); }
  std::string OwnExecutablePath() override { return m_real.OwnExecutablePath(); }
  std::string WindowsFolder() override { return m_real.WindowsFolder(); }
  uint32_t ShellProcessId() override { return m_real.ShellProcessId(); }
  std::string ProcessPath(uint32_t id) override { return m_real.ProcessPath(id); }
  uint32_t ProcessSessionId(uint32_t id) override { return m_real.ProcessSessionId(id); }
  std::string ProcessOwner(uint32_t id) override { return m_real.ProcessOwner(id); }
  void Terminate(uint32_t id) override { Record(m_file, "end " + std::to_string(id) + " " + ProcessPath(id)); }

 private:
  ISystemProcesses& m_real;
  std::string m_file;
};

class CRecordingReboot : public IServerReboot {
 public:
  explicit CRecordingReboot(std::string file) : m_file(std::move(file)) {}
  void RebootServer() override { Record(m_file, "reboot"); }

 private:
  std::string m_file;
};

void InstallRemoteHooks() {
  const int periodMs = std::atoi(Hook("TAVRICK_HOOK_REMOTE_MS").c_str());
  if (periodMs > 0) SetRemoteCommandPeriodMs(static_cast<unsigned>(periodMs));
  const int listMs = std::atoi(Hook("TAVRICK_HOOK_LIST_MS").c_str());
  if (listMs > 0) SetIpFilterListPeriodsMs(static_cast<unsigned>(listMs), 2u * static_cast<unsigned>(listMs));
  const int loadMs = std::atoi(Hook("TAVRICK_HOOK_LOAD_MS").c_str());
  if (loadMs > 0) SetListLoadPauseMs(loadMs);
  const std::string fwp = Hook("TAVRICK_HOOK_FWP_LIBRARY");
  if (!fwp.empty()) SetFilterEngineLibrary(fwp);
  const int floodMs = std::atoi(Hook("TAVRICK_HOOK_FLOOD_MS").c_str());
  if (floodMs > 0) CStatsWindow::SetTimerOverrideMs(floodMs);
  const std::string file = Hook("TAVRICK_HOOK_REMOTE_PORTS");
  if (file.empty()) return;
  static CRemoteSystemPorts ports = SystemRemotePorts();
  static CRecordingProcesses processes(*ports.pProcesses, file);
  static CRecordingReboot reboot(file);
  ports.pProcesses = &processes;
  ports.pReboot = &reboot;
  SetRemoteSystemPorts(ports);
}

DWORD WINAPI DropTrayIconOnEvent(LPVOID event) {
  while (WaitForSingleObject(static_cast<HANDLE>(event), INFINITE) == WAIT_OBJECT_0) RemoveProgramTrayIcon();
  return 0;
}

void InstallTrayHook() {
  const std::string name = Hook("TAVRICK_HOOK_TRAY_DROP");
  if (name.empty()) return;
  HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
  HANDLE thread = event ? CreateThread(nullptr, 0, DropTrayIconOnEvent, event, 0, nullptr) : nullptr;
  if (thread) CloseHandle(thread);
}

void InstallHooks() {
  InstallRemoteHooks();
  InstallTrayHook();
  const std::string guardFile = Hook("TAVRICK_HOOK_LOGON_GUARD");
  if (!guardFile.empty()) InstallRecordingLogonGuard(guardFile);
  static CResourcePorts ports = SystemResourcePorts();
  const std::string low = Hook("TAVRICK_HOOK_LOW_DISK");
  if (!low.empty()) {
    static CLowDisk disks(*ports.pDisks, static_cast<char>(std::toupper(static_cast<unsigned char>(low[0]))));
    ports.pDisks = &disks;
  }
  const int periodMs = std::atoi(Hook("TAVRICK_HOOK_TIMER_MS").c_str());
  if (periodMs > 0) ports.nTableMs = ports.nAlertMs = static_cast<UINT>(periodMs);
  if (Hook("TAVRICK_HOOK_RESTART") == "1") {
    SetEnvironmentVariableA("TAVRICK_HOOK_RESTART", nullptr);
    static CFourOClock clock(*ports.pClock);
    ports.pClock = &clock;
    g_nSecondsSinceStart = 86400;
  }
  SetResourcePorts(ports);
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int) {
  InstallHooks();
  CTavrickApp app(hInstance);
  return app.Run(lpCmdLine ? lpCmdLine : "");
}
