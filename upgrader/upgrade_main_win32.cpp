// Entry point of upgrade.exe: started by the program as "upgrade.exe <build folder>,<fields>"
// from the program's own folder, which is the folder it updates, or as "upgrade.exe restore" by a
// program that found an update cut off half-way.
#include <windows.h>

#include "upgrader/updater_ports_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  CWin32UpdaterPorts ports(OwnFolder());
  return RunUpdaterProcess(ports);
}
