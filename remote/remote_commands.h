#pragma once
// The remote commands that the vendor's page hands over: "reboot flag,release flag,password".
// The blocked-IP window's 120-second timer runs CheckRemoteCommands on the user-interface
// thread: with fewer than three entries it starts a poll, otherwise it consumes the entries,
// so a request is fetched on one tick and carried out on the next.
#include <functional>
#include <string>
#include <vector>

#include "alerts/service_ports.h"

// What the check works on; everything but the lock belongs to the user-interface thread,
// except the command list, which the poll fills under the lock.
struct CRemoteCommandPorts {
  IStatusLock* pLock = nullptr;  // RemoteCommandLock(): never held across a request
  std::vector<std::string>* pCommands = nullptr;  // g_saRemoteCmd
  const std::string* pStoredDigest = nullptr;      // the stored remote password (digest text)
  std::function<void()> startPoll;                 // one PollRemoteCommands thread
  std::function<void()> remoteReboot;              // RemoteReboot
  std::function<bool()> releaseAll;                // ReleaseAllIpFilters
};

// Whether the password typed on the vendor's page, trimmed, has the stored digest; never
// when nothing is stored.
bool RemotePasswordMatches(const std::string& typed, const std::string& storedDigest);

// One tick. The list's own lock is only tried; as no request ever holds it, slow service
// requests (the poll's own included) never hold the tick up or make it skip. A full list is taken
// and emptied under the lock and carried out after it is released: reboot first (flag 1),
// then release-all (flag 1). True when every block was released, so the window empties its list.
bool CheckRemoteCommands(const CRemoteCommandPorts& ports);
