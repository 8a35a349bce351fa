#pragma once
// Version checks against the vendor service's version file, for the main window.
#include <functional>
#include <string>

struct CUpgradeWindow {
  std::string strVersion;  // the program's own version number
  int nBuildBits = 32;     // width of this build
  // Both run on the main window's thread.
  std::function<void(const std::string&)> setStatusText;
  std::function<void()> removeTrayIcon;
};

// At start-up, on the main window's thread: the start-up check runs on a thread of its own and
// hands over to the updater when a newer version (or the system's width) asks for it.
void StartUpgradeCheck(const CUpgradeWindow& window);

// Protection runs: a build the updater started to protect confirms its start now (one started
// without protection confirmed when its window stood, in StartUpgradeCheck).
void ConfirmProtectingStart(const std::string& ownVersion);
// An automatic start failed: true when the updater waits for this build to protect, so the
// program ends with kRollBackExitCode (update/upgrade_handover.h) and the old build comes back.
bool UpdaterAwaitsProtection();

// Once a day, on the main window's thread: asks on a thread of its own; a newer version only
// shows on the status bar.
void CheckNewVersion();

// At start-up, before the main window: an update cut off while it replaced files is handed to
// the updater ("upgrade.exe restore"), which puts the old build back and starts it. True when
// the updater was started and this copy must end.
bool HandInterruptedUpdateToUpdater();
