// Entry point of upgrade.exe: started by the program as "upgrade.exe <build folder>,<fields>"
// from the program's own folder, which is the folder it updates.
#include <windows.h>

#include "updater_ports_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // One updater at a time: a second program copy handing over must not race the first.
  HANDLE once = CreateMutexA(nullptr, FALSE, "tavrick-upgrade");
  if (once && GetLastError() == ERROR_ALREADY_EXISTS) return 2;
  CWin32UpdaterPorts ports(OwnFolder());
  return CUpdater(ports).Run(GetCommandLineA());
}
