#pragma once
// The remote command check that the blocked-IP window runs on its 120-second timer. The
// window only calls it; the remote operation part of the program sets it once at start-up
// (SetRemoteCommandCheck) and until then each tick does nothing.
//
// The check runs on the user-interface thread and must not wait for g_hStatusMutex (it tries
// it). It returns true when it released every blocked entry (ReleaseAllIpFilters accepted):
// the window then empties its list as "全部IP" does, without a message.
#include <functional>

using RemoteCommandCheck = std::function<bool()>;

// Replaces the check; an empty function removes it.
void SetRemoteCommandCheck(RemoteCommandCheck check);
// Runs the check when one is set; false when none is or it released nothing.
bool RunRemoteCommandCheck();

// Period of the window's timer that runs the check: 120 s. Only a test build shortens it,
// before start-up.
constexpr unsigned kRemoteCommandPeriodMs = 120 * 1000;
void SetRemoteCommandPeriodMs(unsigned milliseconds);
unsigned RemoteCommandPeriodMs();
