#include "ipblock/ip_tables_win32.h"

#include <windows.h>

#include "common/clock.h"
#include "config/config_keeper.h"
#include "config/daily_log.h"
#include "config/daily_log_win32.h"
#include "config/profile_store_win32.h"
#include "ipblock/ip_tables.h"

void UseSystemPortsForIpTables() {
  static CWin32ProfileStore store;
  static CSystemClock clock;
  SetIpTablePorts(&store, &clock, [](int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); });
  SetHeldBackLog([](const std::string& line) {
    CWin32LogFileSystem fs;
    AppendLog(fs, LogClock(fs.LocalNow()) + line + "\r\n", kLogFolder, kConfigLogPrefix);
  });
}
