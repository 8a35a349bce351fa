// tavrick_hooked.exe: the program with test hooks in its resource window, for the Win32 tests
// that need a full disk or 4 o'clock. Only this test build reads them; tavrick.exe has none.
//   TAVRICK_HOOK_LOW_DISK=<letter>  that drive reports 4 MB free, shown as 0.00G: out of space
//   TAVRICK_HOOK_TIMER_MS=<ms>      period of the disk table and of the resource alert check
//   TAVRICK_HOOK_RESTART=1          the local hour reads 4 and protection counts from a full
//                                   day, so the self-restart is due at the first display tick
//                                   after protection has run a second. The hook leaves the
//                                   environment, so the restarted copy runs without it.
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "app/process_state.h"
#include "app/tavrick_app_win32.h"
#include "resources/resource_ports_win32.h"

namespace {

std::string Hook(const char* name) {
  char value[64] = {};
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
  return length > 0 && length < sizeof(value) ? value : "";
}

class CLowDisk : public IDiskQuery {
 public:
  CLowDisk(IDiskQuery& real, char letter) : m_real(real), m_letter(letter) {}
  uint32_t LogicalDrives() override { return m_real.LogicalDrives(); }
  unsigned DriveType(const std::string& drive) override { return m_real.DriveType(drive); }
  bool FreeSpace(const std::string& drive, uint64_t& totalBytes, uint64_t& freeBytes) override {
    if (!m_real.FreeSpace(drive, totalBytes, freeBytes)) return false;
    if (drive[0] == m_letter) freeBytes = 4 << 20;
    return true;
  }

 private:
  IDiskQuery& m_real;
  char m_letter;
};

class CFourOClock : public IResourceClock {
 public:
  explicit CFourOClock(IResourceClock& real) : m_real(real) {}
  int64_t Now() override { return m_real.Now(); }
  int LocalHour() override { return 4; }

 private:
  IResourceClock& m_real;
};

void InstallHooks() {
  static CResourcePorts ports = SystemResourcePorts();
  const std::string low = Hook("TAVRICK_HOOK_LOW_DISK");
  if (!low.empty()) {
    static CLowDisk disks(*ports.pDisks, static_cast<char>(std::toupper(static_cast<unsigned char>(low[0]))));
    ports.pDisks = &disks;
  }
  const int periodMs = std::atoi(Hook("TAVRICK_HOOK_TIMER_MS").c_str());
  if (periodMs > 0) ports.nTableMs = ports.nAlertMs = static_cast<UINT>(periodMs);
  if (Hook("TAVRICK_HOOK_RESTART") == "1") {
    SetEnvironmentVariableA("TAVRICK_HOOK_RESTART", nullptr);
    static CFourOClock clock(*ports.pClock);
    ports.pClock = &clock;
    g_nSecondsSinceStart = 86400;
  }
  SetResourcePorts(ports);
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int) {
  InstallHooks();
  CTavrickApp app(hInstance);
  return app.Run(lpCmdLine ? lpCmdLine : "");
}
