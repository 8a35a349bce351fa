#include "traffic/packet_threads_win32.h"

#include <atomic>
#include <memory>

#include "app/process_mutexes_win32.h"
#include "app/version.h"
#include "driver/driver_link.h"
#include "ipblock/ip_tables.h"
#include "traffic/packet_pipeline.h"
#include "ui/window_post_win32.h"

namespace {

class CPacketMutexLock : public IPacketLock {
 public:
  void Lock() override { WaitForSingleObject(g_hPacketMutex, INFINITE); }
  void Unlock() override { ReleaseMutex(g_hPacketMutex); }
};

CPacketMutexLock g_packetLock;
CPacketPipeline g_pipeline(
    g_PacketBuffer, g_packetLock, [](_CPacketSnapshot* s) { return FetchPackets(s) != 0; },
    [] { return g_bDriverIdle != 0; });
HWND g_hPacketPage = nullptr;

DWORD WINAPI ReaderThread(LPVOID) {
  if (g_hDevice.load() == kInvalidDevice) {
    MessageBoxA(nullptr, "防火墙没有启动！", kAppName, MB_OK);
    return 0;
  }
  for (;;) {
    g_pipeline.ReaderStep();
    Sleep(1000);
  }
}

DWORD WINAPI StatsThread(LPVOID) {
  for (;;) {
    g_pipeline.StatsStep(g_saLocalIp);
    Sleep(static_cast<DWORD>(g_nShowDelay.load()));
  }
}

// Reaches the page only by posting (ui/window_post_win32.h): it runs under the packet lock.
DWORD WINAPI FeederThread(LPVOID) {
  bool hasRows = false;  // rows handed to the page since it was last cleared
  for (;;) {
    while (g_bMonitorPaused) Sleep(static_cast<DWORD>(g_nShowDelay.load()));
    g_pipeline.ListStep(
        [&hasRows](const _CPacketInfo& info) {
          hasRows = PostPayload(g_hPacketPage, kPacketRowMessage, std::make_unique<_CPacketInfo>(info)) || hasRows;
        },
        [&hasRows] { hasRows = !PostToWindow(g_hPacketPage, kPacketClearMessage); }, hasRows);
    Sleep(static_cast<DWORD>(g_nShowDelay.load()));
  }
}

void Start(LPTHREAD_START_ROUTINE body) {
  HANDLE thread = CreateThread(nullptr, 0, body, nullptr, 0, nullptr);
  if (thread) CloseHandle(thread);
}

}  // namespace

void StartPacketThreads(HWND page) {
  static std::atomic<bool> started{false};
  g_hPacketPage = page;
  if (started.exchange(true)) return;  // one set of threads for the life of the process
  Start(ReaderThread);
  Start(StatsThread);
  Start(FeederThread);
}
