#include "ipblock/ip_tables_win32.h"

#include <windows.h>

#include "common/clock.h"
#include "config/profile_store_win32.h"
#include "ipblock/ip_tables.h"

void UseSystemPortsForIpTables() {
  static CWin32ProfileStore store;
  static CSystemClock clock;
  SetIpTablePorts(&store, &clock, [](int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); });
}
