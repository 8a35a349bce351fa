#include "traffic/packet_threads_win32.h"

#include <mmsystem.h>

#include <atomic>
#include <memory>

#include "app/process_mutexes_win32.h"
#include "app/version.h"
#include "driver/driver_link.h"
#include "ipblock/ip_tables.h"
#include "traffic/packet_pipeline.h"
#include "ui/window_post_win32.h"

std::atomic<long> CPacketRow::s_nInFlight{0};

namespace {

class CPacketMutexLock : public IPacketLock {
 public:
  void Lock() override { WaitForSingleObject(g_hPacketMutex, INFINITE); }
  void Unlock() override { ReleaseMutex(g_hPacketMutex); }
};

// A consumer's waits: its own wake event (auto-reset, so a signal given while it works is
// kept for its next wait) and its share of the 1 ms system timer, which Windows counts per
// caller. Without the fine timer a 3 ms wait lasts a whole tick (15.6 ms) on a stock server.
class CConsumerWaits : public IPacketWaits {
 public:
  CConsumerWaits() : m_hWake(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
  void Wake() { SetEvent(m_hWake); }
  void HoldFineTimer(bool hold) override {
    if (hold == m_bHeld) return;
    if (hold) {
      m_bHeld = timeBeginPeriod(1) == TIMERR_NOERROR;
    } else {
      timeEndPeriod(1);
      m_bHeld = false;
    }
  }
  void Pause(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }
  void WaitForBatch(int milliseconds) override {
    if (m_hWake == nullptr) {
      Sleep(static_cast<DWORD>(milliseconds));
      return;
    }
    WaitForSingleObject(m_hWake, static_cast<DWORD>(milliseconds));
  }

 private:
  HANDLE m_hWake;
  bool m_bHeld = false;  // touched by the owning consumer thread only
};

CPacketMutexLock g_packetLock;
CPacketPipeline g_pipeline(
    g_PacketBuffer, g_packetLock, [](_CPacketSnapshot* s) { return FetchPackets(s) != 0; },
    [] { return g_bDriverIdle != 0; });
// Written by the user-interface thread, read by the list feeder.
std::atomic<HWND> g_hPacketPage{nullptr};
CConsumerWaits g_statsWaits;
CConsumerWaits g_listWaits;

DWORD WINAPI ReaderThread(LPVOID) {
  if (g_hDevice.load() == kInvalidDevice) {
    MessageBoxA(nullptr, "防火墙没有启动！", kAppName, MB_OK);
    return 0;
  }
  for (;;) {
    try {
      if (g_pipeline.ReaderStep()) WakePacketConsumers();
    } catch (...) {
      // the batch is lost; the next period fetches again
    }
    Sleep(kReaderPeriodMs);
  }
}

DWORD WINAPI StatsThread(LPVOID) {
  for (;;) ConsumerTurn([] { return g_pipeline.StatsStep(g_saLocalIp); }, g_statsWaits);
}

// Rows handed to the page since it was last cleared; the feeder thread alone touches it.
bool g_bPageHasRows = false;

// Reaches the page only by posting (ui/window_post_win32.h): it runs under the packet lock.
bool FeederStep() {
  if (g_bMonitorPaused) return false;  // paused: the feeder takes nothing
  return g_pipeline.ListStep(
      [](const _CPacketInfo& info) {
        g_bPageHasRows = PostPacketRow(g_hPacketPage, info) || g_bPageHasRows;
      },
      [] { g_bPageHasRows = !PostToWindow(g_hPacketPage, kPacketClearMessage); }, g_bPageHasRows);
}

DWORD WINAPI FeederThread(LPVOID) {
  for (;;) ConsumerTurn(FeederStep, g_listWaits);
}

void Start(LPTHREAD_START_ROUTINE body) {
  HANDLE thread = CreateThread(nullptr, 0, body, nullptr, 0, nullptr);
  if (thread) CloseHandle(thread);
}

}  // namespace

bool PostPacketRow(HWND page, const _CPacketInfo& info) {
  if (CPacketRow::InFlight() >= kMaxPacketRowsInFlight) return false;
  return PostPayload(page, kPacketRowMessage, std::make_unique<CPacketRow>(info));
}

void WakePacketConsumers() {
  g_statsWaits.Wake();
  g_listWaits.Wake();
}

void StartPacketThreads(HWND page) {
  static std::atomic<bool> started{false};
  g_hPacketPage = page;
  if (started.exchange(true)) return;  // one set of threads for the life of the process
  Start(ReaderThread);
  Start(StatsThread);
  Start(FeederThread);
}
