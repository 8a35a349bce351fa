#include "resources/resource_ports_win32.h"

#include <ctime>

#include "ui/tray_icon_win32.h"
#include "remote/restart_program_win32.h"
#include "resources/cpu_usage_win32.h"
#include "resources/disk_info_win32.h"

namespace {

bool g_bPortsSet = false;
CResourcePorts g_setPorts;

}  // namespace

int64_t CWin32ResourceClock::Now() { return static_cast<int64_t>(std::time(nullptr)); }

int CWin32ResourceClock::LocalHour() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  return local ? local->tm_hour : -1;
}

const CResourcePorts& SystemResourcePorts() {
  static CNtSystemInformation system;
  static CWin32MemoryStatus memory;
  static CWin32DiskQuery disks;
  static CWin32ResourceClock clock;
  static CWin32ProcessPorts process(RemoveProgramTrayIcon, RestoreProgramTrayIcon);
  static const CResourcePorts ports = [] {
    CResourcePorts p;
    p.pSystem = &system;
    p.pMemory = &memory;
    p.pDisks = &disks;
    p.pClock = &clock;
    p.pProcess = &process;
    return p;
  }();
  return ports;
}

const CResourcePorts& ResourcePorts() { return g_bPortsSet ? g_setPorts : SystemResourcePorts(); }

void SetResourcePorts(const CResourcePorts& ports) {
  g_setPorts = ports;
  g_bPortsSet = true;
}
