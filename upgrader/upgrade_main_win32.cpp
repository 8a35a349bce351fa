// Entry point of upgrade.exe: started by the program as "upgrade.exe <build folder>,<fields>"
// from the program's own folder, which is the folder it updates, or as "upgrade.exe restore" by a
// program that found an update cut off half-way.
#include <windows.h>

#include "upgrader/updater_ports_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  CWin32UpdaterPorts ports(OwnFolder());
  CUpdater updater(ports);
  // One updater at a time: a second one waits for the first (an ended or killed one lets go of
  // the name) and gives up after a bound, bringing the program back.
  HANDLE once = CreateMutexA(nullptr, TRUE, kUpdaterMutexName);
  if (once && GetLastError() == ERROR_ALREADY_EXISTS) {
    const DWORD waited = WaitForSingleObject(once, static_cast<DWORD>(kOtherUpdaterWaitSeconds) * 1000);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return updater.GiveUpWaiting();
  }
  const int result = updater.Run(GetCommandLineA());
  if (once) ReleaseMutex(once);
  return result;
}
