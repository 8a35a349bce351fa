#include "ipblock/ip_tables_win32.h"

#include <windows.h>

#include "common/clock.h"
#include "config/config_keeper.h"
#include "config/daily_log.h"
#include "config/daily_log_win32.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "ipblock/ip_tables.h"
#include "ui/message_pump_win32.h"

namespace {

// .\tavrick.cfg.jnl: every line goes to the system with its own write, so it is there when the
// program dies the next moment (the system writes it to the disk as it writes any file).
class CWin32ListJournal : public IListJournal {
 public:
  void Append(const std::string& line) override {
    HANDLE h = CreateFileA(Path().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    const std::string text = line + "\r\n";
    DWORD wrote = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
    CloseHandle(h);
  }
  std::string ReadAll() override {
    CWin32ConfigFiles files;
    std::string bytes;
    return files.Read(Path(), bytes) ? bytes : std::string();
  }
  void Clear() override { DeleteFileA(Path().c_str()); }

 private:
  static std::string Path() { return std::string(kConfigFile) + kIpFilterJournalSuffix; }
};

}  // namespace

IListJournal& SystemIpFilterJournal() {
  static CWin32ListJournal journal;
  return journal;
}

void UseSystemPortsForIpTables() {
  static CWin32ProfileStore store;
  static CSystemClock clock;
  // The vendor driver's pause between releases keeps the window answering.
  SetIpTablePorts(&store, &clock, [](int milliseconds) { PumpMessagesAndWait(milliseconds); });
  SetIpFilterJournal(&SystemIpFilterJournal());
  SetHeldBackLog([](const std::string& line) {
    CWin32LogFileSystem fs;
    AppendLog(fs, LogClock(fs.LocalNow()) + line + "\r\n", kLogFolder, kConfigLogPrefix);
  });
}
