#include "remote/remote_operation_win32.h"

#include "alerts/service_status.h"
#include "alerts/vendor_service_win32.h"
#include "common/process_state.h"
#include "config/settings.h"
#include "ipblock/ip_tables.h"
#include "common/local_users_win32.h"
#include "ipblock/remote_command_hook.h"
#include "remote/remote_commands.h"
#include "remote/system_processes_win32.h"

namespace {

CRemoteSystemPorts& Ports() {
  static CWin32SystemProcesses processes;
  static CWin32LocalUsers users;
  static CWin32ServerReboot reboot;
  static CRemoteSystemPorts ports{&processes, &users, &reboot};
  return ports;
}

}  // namespace

CRemoteSystemPorts SystemRemotePorts() { return Ports(); }

void SetRemoteSystemPorts(const CRemoteSystemPorts& ports) { Ports() = ports; }

void RemoteReboot() {
  const CRemoteSystemPorts ports = Ports();
  RemoteReboot(*ports.pProcesses, *ports.pUsers, *ports.pReboot);
}

void InstallRemoteCommandCheck() {
  SetRemoteCommandCheck([] {
    CRemoteCommandPorts ports;
    ports.pLock = &RemoteCommandLock();  // never held across a request
    ports.pCommands = &g_saRemoteCmd;
    ports.pStoredDigest = &g_Settings.remotepassw;
    ports.startPoll = VendorServiceRemotePoll;
    ports.remoteReboot = [] { RemoteReboot(); };
    ports.releaseAll = ReleaseAllIpFilters;
    try {
      return CheckRemoteCommands(ports);
    } catch (...) {
      return false;  // a failed check is dropped; the lock is already released
    }
  });
}
