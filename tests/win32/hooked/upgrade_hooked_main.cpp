// upgrade_hooked.exe: the updater with a test hook, for the update test whose new build never
// confirms its start. Only this test build reads it; upgrade.exe has none.
//   TAVRICK_HOOK_CONFIRM_SECONDS=<s>  how long a new program has to confirm its start
#include <windows.h>

#include <cstdlib>

#include "upgrader/updater_ports_win32.h"

namespace {

class CShortConfirmPorts : public CWin32UpdaterPorts {
 public:
  CShortConfirmPorts(const std::string& folder, int confirmSeconds)
      : CWin32UpdaterPorts(folder), m_confirmSeconds(confirmSeconds) {}
  bool StartProgram(const std::string& words, int confirmSeconds) override {
    return CWin32UpdaterPorts::StartProgram(words, confirmSeconds > 0 && m_confirmSeconds > 0 ? m_confirmSeconds
                                                                                            : confirmSeconds);
  }

 private:
  int m_confirmSeconds;
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char value[16] = {};
  const DWORD length = GetEnvironmentVariableA("TAVRICK_HOOK_CONFIRM_SECONDS", value, sizeof(value));
  CShortConfirmPorts ports(OwnFolder(), length > 0 && length < sizeof(value) ? std::atoi(value) : 0);
  return RunUpdaterProcess(ports);
}
