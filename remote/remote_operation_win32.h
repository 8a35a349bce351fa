#pragma once
// Remote operation on the real program: the remote command check on the blocked-IP window's
// 120-second timer, and the server reboot, over the system's ports (which a test build may
// replace before start-up, so its tests never end processes or reboot the machine).
#include "common/local_users.h"
#include "remote/remote_reboot.h"

struct CRemoteSystemPorts {
  ISystemProcesses* pProcesses = nullptr;
  ILocalUsers* pUsers = nullptr;
  IServerReboot* pReboot = nullptr;
};

CRemoteSystemPorts SystemRemotePorts();
void SetRemoteSystemPorts(const CRemoteSystemPorts& ports);

// The main window's initialisation (after the vendor service and the configuration): from
// now on each tick of the blocked-IP window polls or carries out a remote request.
void InstallRemoteCommandCheck();

// KillGroupProcesses("Administrators"), then the reboot; also the driver's restart question.
void RemoteReboot();
